// A scan that meets an unreadable sector: the engine's volume device reports
// it to the event relay, the relay's thread hands it to the scan's observer,
// and the main loop delivers "BadSectorNotify".
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "BadSectorNotify.h"
#include "BridgeDoubles.h"
#include "FatFixtureScan.h"
#include "platform/RawIo.h"

using velmora::bridgetest::BridgeWorld;
using velmora::bridgetest::NotificationLog;

// A quick scan of a FAT volume whose root folder cannot be read: the
// engine's volume device reports it to the relay, the relay's thread hands
// it to the scan's observer, and the main loop delivers "BadSectorNotify".
TEST(BadSector, UnreadableSectorOfARealScanReachesTheMainLoop) {
    velmora::test::TempDir dir;
    std::string why;
    if (!velmora::bridgetest::FatFixtureScan::MakeImage(dir.path(), &why))
        VELMORA_REQUIRE_TOOL(false, why);
    const std::string image = dir / "fat16.img";
    // Where the root folder lies, from the boot sector.
    std::vector<uint8_t> boot(512);
    std::ifstream(image, std::ios::binary).read(reinterpret_cast<char*>(boot.data()), 512);
    const auto u16 = [&](int at) { return boot[at] | (boot[at + 1] << 8); };
    const long long rootSector = u16(14) + static_cast<long long>(boot[16]) * u16(22);

    BridgeWorld world;
    NotificationLog log(CProgressNotify::kNotificationName);
    CMessageCenter* relay = CMessageCenter::Instance();
    relay->SetDeliveryInterval(std::chrono::milliseconds(1));
    relay->StartReceiveMessage();
    {
        velmora::platform::FaultyRawIo faulty;
        faulty.FailRange(rootSector * 512, 512);
        velmora::platform::ScopedRawIo scoped(&faulty);
        CProgressNotify observer;
        velmora::bridgetest::FatFixtureScan scan(image);
        velmora::bridgetest::RunToEnd progress;
        scan.Run(&progress);
        // The relay delivers on its own thread; the main loop runs until the
        // notification is there (bounded, so a lost event fails, not hangs).
        for (int turn = 0; turn < 2000 && log.objects.empty(); ++turn) {
            world.poster->RunPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    relay->StopReceiveMessage();
    relay->SetDeliveryInterval(std::chrono::milliseconds(1000));
    ASSERT_FALSE(log.objects.empty());
    EXPECT_EQ(log.threads[0], std::this_thread::get_id());
    EXPECT_EQ(relay->GetNotifyCenter(1), nullptr);
}
