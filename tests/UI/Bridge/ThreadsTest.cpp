// A worker that reports as an engine does while the main loop delivers its
// posts and the windows pause, resume and stop it, and a poller reads its
// progress: run under ThreadSanitizer (ctest label "threads").
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "BridgeDoubles.h"
#include "StartThread.h"
#include "VKUIOperation.h"
#include "VKUIPublic.h"

using namespace velmora::bridge;
using velmora::bridgetest::BridgeWorld;
using velmora::bridgetest::NotificationLog;

namespace {

class Work : public VKUIOperation {
public:
    void UpdateProgress(_PROGRESS_INFO* info) override {
        SetProgressInfo(*info);
        SetNeedUIUpdate(1);
    }
};

}  // namespace

TEST(BridgeThreads, WorkerPostsPausesAndStopsWhileTheMainLoopDelivers) {
    BridgeWorld world;
    NotificationLog progress("QueryProgressInfo");
    NotificationLog finish("QueryProgressFinish");
    Work op;
    op.SetStatus(VK_OP_RUNNING);
    std::atomic<long long> posted{0};
    BridgeThread worker = StartThread([&] {
        _PROGRESS_INFO info{};
        info.state = PROGRESS_RUNNING;
        info.total = 1000000;
        while (op.Continued()) {
            ++info.done;
            op.UpdateProgress(&info);
            VKUIPublic::NotifyMainThread("QueryProgressInfo");
            ++posted;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        info.state = PROGRESS_FINISHED;
        op.UpdateProgress(&info);
        op.SetStatus(VK_OP_IDLE);
        VKUIPublic::NotifyMainThread("QueryProgressFinish");
    });
    std::atomic<bool> polling{true};
    std::atomic<long long> lastSeen{0};
    BridgeThread poller = StartThread([&] {
        while (polling) {
            const _PROGRESS_INFO info = op.GetProgressInfo();
            EXPECT_GE(info.done, lastSeen.load());
            lastSeen = info.done;
            if (op.IsNeedUIUpdate())
                op.SetNeedUIUpdate(0);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });

    // The main loop, with the windows' requests at chosen moments.
    auto runUntil = [&](auto done) {
        for (int turn = 0; turn < 20000 && !done(); ++turn) {
            world.poster->RunPending();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return done();
    };
    EXPECT_TRUE(runUntil([&] { return progress.objects.size() >= 20; }));
    op.PauseOrResumeOperation();
    EXPECT_EQ(op.GetStatus(), VK_OP_PAUSED);
    // Paused: what was posted is delivered, then nothing more comes.
    std::this_thread::sleep_for(2 * VKUIOperation::kPausePoll);
    world.poster->RunPending();
    const long long whilePaused = posted;
    std::this_thread::sleep_for(2 * VKUIOperation::kPausePoll);
    EXPECT_EQ(posted.load(), whilePaused);
    op.PauseOrResumeOperation();
    EXPECT_TRUE(runUntil([&] { return posted > whilePaused + 20; }));
    op.StopOperation(0);
    EXPECT_TRUE(runUntil([&] { return !finish.objects.empty(); }));
    worker.Join();
    polling = false;
    poller.Join();
    world.poster->RunPending();

    EXPECT_EQ(static_cast<long long>(progress.objects.size()), posted.load());
    for (std::thread::id id : progress.threads)
        EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_EQ(finish.threads.at(0), std::this_thread::get_id());
    EXPECT_EQ(op.GetProgressInfo().state, PROGRESS_FINISHED);
    EXPECT_EQ(op.IsOperationExit(), 1);
}
