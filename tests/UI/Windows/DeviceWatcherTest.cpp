#include "Windows/USBNotifier.h"

#include "WindowTestSupport.h"

namespace velmora::windows {
namespace {

using platform::BlockDeviceEvent;
using testing::PostRecorder;
using testing::Pump;

BlockDeviceEvent Event(BlockDeviceEvent::Kind kind, const char* name, const char* devtype,
                       uint64_t size) {
    BlockDeviceEvent event;
    event.kind = kind;
    event.name = name;
    event.devtype = devtype;
    event.sizeBytes = size;
    return event;
}

TEST(DeviceWatcher, ADiskAndItsPartitionsArriveInOnePost) {
    PostRecorder attach(QStringLiteral("RefreshAttachDevice"));
    USBNotifier notifier;
    notifier.HandleEvent(Event(BlockDeviceEvent::Kind::Appeared, "sdb", "disk", 8'000'000));
    notifier.HandleEvent(Event(BlockDeviceEvent::Kind::Appeared, "sdb1", "partition", 3'000'000));
    notifier.HandleEvent(Event(BlockDeviceEvent::Kind::Appeared, "sdb2", "partition", 5'000'000));
    EXPECT_TRUE(attach.posts.empty());  // posted on the next turn of the loop
    Pump();
    ASSERT_EQ(attach.posts.size(), 1u);
    const QVariantList media = attach.posts[0].object.toList();
    const struct {
        const char* path;
        qint64 size;
        bool disk;
    } expected[] = {{"/dev/sdb", 8'000'000, true},
                    {"/dev/sdb1", 3'000'000, false},
                    {"/dev/sdb2", 5'000'000, false}};
    ASSERT_EQ(media.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QVariantMap medium = media[i].toMap();
        EXPECT_EQ(medium.value("VolumePath").toString(), expected[i].path);
        EXPECT_EQ(medium.value("VolumeSize").toLongLong(), expected[i].size);
        EXPECT_EQ(medium.value("isDisk").toBool(), expected[i].disk);
    }
}

TEST(DeviceWatcher, ARemovalNamesTheKernelDevice) {
    PostRecorder attach(QStringLiteral("RefreshAttachDevice"));
    PostRecorder detach(QStringLiteral("RefreshDetachDevice"));
    USBNotifier notifier;
    notifier.HandleEvent(Event(BlockDeviceEvent::Kind::Gone, "sdb", "disk", 0));
    notifier.HandleEvent(
        Event(BlockDeviceEvent::Kind::Gone, "EHCI Root Hub Simulation", "disk", 0));
    Pump();
    EXPECT_TRUE(attach.posts.empty());
    ASSERT_EQ(detach.posts.size(), 2u);
    EXPECT_EQ(detach.posts[0].object.toMap().value("USBPath").toString(), "sdb");
    EXPECT_EQ(detach.posts[1].object.toMap().value("USBPath").toString(), "USB 2.0 Bus");
}

}  // namespace
}  // namespace velmora::windows
