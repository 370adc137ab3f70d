// The operation base the scan, the recovery and the result saving stand on:
// its status as the windows move it, the engine's go-on question with its
// pause, the save sink that never holds the writer up, and the holder of the
// file-category filter.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "VKUIFilter.h"
#include "VKUIOperation.h"

namespace {

class TestOperation : public VKUIOperation {
public:
    void UpdateProgress(_PROGRESS_INFO*) override {}
};

// Runs Continued() on an engine-like thread; the answer, once it returns.
class ContinuedOnThread {
public:
    explicit ContinuedOnThread(VKUIOperation& op)
        : thread_([this, &op] {
              answer_ = op.Continued();
              done_ = true;
          }) {}
    ~ContinuedOnThread() {
        if (thread_.joinable())
            thread_.join();
    }
    // Waits for the answer (the pause loop looks every 80 ms).
    int Answer() {
        thread_.join();
        return answer_;
    }
    bool Done() const { return done_; }

private:
    std::atomic<int> answer_{-1};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace

TEST(OperationBase, StatusMovesAsTheWindowsAsk) {
    struct Case {
        int from;
        int afterPause;
        int afterStop;
        int exited;
        int goesOn;
    } const cases[] = {
        {VK_OP_IDLE, VK_OP_IDLE, VK_OP_IDLE, 1, 0},
        {VK_OP_STOP_ASKED, VK_OP_STOP_ASKED, VK_OP_STOP_ASKED, 0, 0},
        {VK_OP_RUNNING, VK_OP_PAUSED, VK_OP_STOP_ASKED, 0, 1},
        {VK_OP_PAUSED, VK_OP_RUNNING, VK_OP_STOP_ASKED, 0, -1},  // would wait
        {VK_OP_EXITED, VK_OP_EXITED, VK_OP_STOP_ASKED, 1, 0},
    };
    for (const Case& c : cases) {
        TestOperation op;
        op.SetStatus(c.from);
        EXPECT_EQ(op.IsOperationExit(), c.exited) << c.from;
        if (c.from != VK_OP_PAUSED) {
            EXPECT_EQ(op.Continued(), c.goesOn) << c.from;
        }
        op.PauseOrResumeOperation();
        EXPECT_EQ(op.GetStatus(), c.afterPause) << c.from;
        op.SetStatus(c.from);
        op.StopOperation(1);
        EXPECT_EQ(op.GetStatus(), c.afterStop) << c.from;
        EXPECT_EQ(op.IsNeedUIUpdate(), 1) << c.from;
    }
}

// A stop keeps or drops the building of the trees; a stop of an idle
// operation changes nothing but still tells the pollers to look.
TEST(OperationBase, StopDecidesWhetherTreesAreBuilt) {
    struct Case {
        int status;
        int buildBefore;
        int noBuild;
        int buildAfter;
    } const cases[] = {
        {VK_OP_RUNNING, 1, 1, 0}, {VK_OP_RUNNING, 0, 0, 1}, {VK_OP_PAUSED, 1, 7, 0},
        {VK_OP_IDLE, 1, 1, 1},    {VK_OP_IDLE, 0, 0, 0},
    };
    for (const Case& c : cases) {
        TestOperation op;
        op.SetStatus(c.status);
        op.SetShouldBuildTree(c.buildBefore);
        op.StopOperation(c.noBuild);
        EXPECT_EQ(op.shouldBuild(), c.buildAfter) << c.status << " " << c.noBuild;
        EXPECT_EQ(op.IsNeedUIUpdate(), 1);
    }
    TestOperation fresh;
    EXPECT_EQ(fresh.shouldBuild(), 1);
    EXPECT_EQ(fresh.IsNeedUIUpdate(), 0);
    EXPECT_EQ(fresh.GetScanElapseTime(), 0);
    EXPECT_EQ(fresh.IsOpTreeFinished(), 1);
}

// An engine thread asking while paused waits; a resume lets it go on, a
// stop makes it stop.
TEST(OperationBase, PausedEngineIsReleasedByResumeAndByStop) {
    enum Release { kResume, kStop, kStopNoBuild };
    struct Case {
        Release how;
        int answer;
    } const cases[] = {{kResume, 1}, {kStop, 0}, {kStopNoBuild, 0}};
    for (const Case& c : cases) {
        TestOperation op;
        op.SetStatus(VK_OP_PAUSED);
        ContinuedOnThread engine(op);
        // Still held after several turns of the pause loop.
        std::this_thread::sleep_for(4 * VKUIOperation::kPausePoll);
        EXPECT_FALSE(engine.Done()) << c.how;
        if (c.how == kResume)
            op.PauseOrResumeOperation();
        else
            op.StopOperation(c.how == kStopNoBuild ? 1 : 0);
        EXPECT_EQ(engine.Answer(), c.answer) << c.how;
    }
}

TEST(OperationBase, ProgressIsKeptWhole) {
    TestOperation op;
    _PROGRESS_INFO info{};
    info.state = PROGRESS_RUNNING;
    info.total = 10;
    info.done = 4;
    info.result = 0x0104000100000002ULL;
    info.reserved[4095] = 0x5a;
    op.SetProgressInfo(info);
    const _PROGRESS_INFO kept = op.GetProgressInfo();
    EXPECT_EQ(std::memcmp(&kept, &info, sizeof info), 0);
}

// The writer of a result file is never held up: paused or asked to stop,
// it goes on, and its finished record ends the operation.
TEST(SaveSink, WriterRunsToItsEndWhateverTheWindowsAsk) {
    struct Case {
        int status;
    } const cases[] = {{VK_OP_RUNNING}, {VK_OP_PAUSED}, {VK_OP_STOP_ASKED}};
    for (const Case& c : cases) {
        VKSaveAndRestoreNodeOperate& sink = VKSaveAndRestoreNodeOperate::instance();
        sink.SetNeedUIUpdate(0);
        sink.SetStatus(c.status);
        EXPECT_EQ(sink.Continued(), 1) << c.status;
        _PROGRESS_INFO info{};
        info.state = PROGRESS_RUNNING;
        info.total = 3;
        info.done = 1;
        sink.UpdateProgress(&info);
        EXPECT_EQ(sink.GetStatus(), c.status);
        EXPECT_EQ(sink.IsNeedUIUpdate(), 1);
        EXPECT_EQ(sink.GetProgressInfo().done, 1);
        info.state = PROGRESS_FINISHED;
        info.done = 3;
        sink.UpdateProgress(&info);
        EXPECT_EQ(sink.GetStatus(), VK_OP_IDLE) << c.status;
        EXPECT_EQ(sink.GetProgressInfo().done, 3);
    }
    VKSaveAndRestoreNodeOperate::instance().UpdateProgress(nullptr);
    EXPECT_EQ(VKSaveAndRestoreNodeOperate::instance().GetProgressInfo().done, 3);
}

namespace {

class CountingFilter : public IRecoveryFilter {
public:
    int ShowNormalFiles() const override { return 0; }
    void SetScanType(_SCAN_TYPE) override {}
    int IsFileNodeValid(IFileNode*) override { return 1; }
    void SetFilterTypes(unsigned m) override { mask = m; }
    unsigned GetNodeFileType(IFileNode*) override { return CATEGORY_OTHER; }
    void Release() override { ++released; }
    unsigned mask = 0;
    int released = 0;
};

}  // namespace

// The filter is made once; when making it failed, the next reset tries
// again; the mask reaches the filter; the holder gives it back at its end.
TEST(FilterHolder, MakesTheFilterOnceAndRetriesAfterAFailure) {
    CountingFilter filter;
    struct Case {
        int failuresFirst;
        int madeAfterConstruction;
    } const cases[] = {{0, 1}, {1, 0}};
    for (const Case& c : cases) {
        int calls = 0;
        filter.released = 0;
        {
            VKUIFilter holder([&]() -> IRecoveryFilter* {
                return calls++ < c.failuresFirst ? nullptr : &filter;
            });
            EXPECT_EQ(holder.GetFilter() != nullptr, c.madeAfterConstruction != 0);
            holder.ResetFilter(CATEGORY_PICTURE | CATEGORY_MOVIE);
            holder.ResetFilter(CATEGORY_ALL);
            EXPECT_EQ(holder.GetFilter(), &filter);
            EXPECT_EQ(filter.mask, CATEGORY_ALL);
            EXPECT_EQ(calls, c.failuresFirst + 1);
        }
        EXPECT_EQ(filter.released, 1);
    }
    // The process-wide holder over the engine's filter.
    ASSERT_NE(VKUIFilter::instance().GetFilter(), nullptr);
    EXPECT_EQ(VKUIFilter::instance().GetFilter(), CreateFilter());
}
