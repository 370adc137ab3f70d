// The usage-statistics bridge against the stub library the tests build.
#include "VKSpyBridge.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <filesystem>

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include "UIPlatform/NotificationCenter.h"
#include "VKAppDelegate.h"
#include "platform/desktop/StatisticsLibrary.h"
#include "support/TestSupport.h"

namespace {

class SpyBridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_ / velmora::platform::StatisticsLibrary::kFileName;
        std::filesystem::copy_file(VELMORA_STATISTICS_STUB, path_);
        chmod(path_.c_str(), 0755);
        VKSpyBridge::UseLibraryFolder(dir_.path());
    }
    void TearDown() override { VKSpyBridge::UseLibraryFolder({}); }

    bool Loaded() const {
        void* handle = dlopen(path_.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle)
            dlclose(handle);
        return handle != nullptr;
    }
    std::string Log() const {
        void* handle = dlopen(path_.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!handle)
            return "(not loaded)";
        auto log = reinterpret_cast<const char* (*)()>(dlsym(handle, "StubCallLog"));
        std::string text = log ? log() : "(no log)";
        dlclose(handle);
        return text;
    }

    velmora::test::TempDir dir_;
    std::string path_;
};

}  // namespace

TEST_F(SpyBridgeTest, IdentifiersBelow4096NeverLoadTheLibrary) {
    VKSpyBridge::SpyIDIncreateTable1(4095);
    VKSpyBridge::SpyIDIncreateTable2(0, 1);
    VKSpyBridge::SpyIDStringTable1(4095, "x");
    VKSpyBridge::SpyIDWStringTable1(-1, "x");
    VKSpyBridge::SpyIDStringTable2(3584, "x");
    EXPECT_FALSE(Loaded());
    VKSpyBridge::SpyIDIncreateTable1(4096);
    VKSpyBridge::SpyIDIncreateTable2(4097, 3);
    VKSpyBridge::SpyIDWStringTable1(4098, QString::fromUtf8("wörter"));
    VKSpyBridge::SpyIDStringTable1(4099, "one");
    VKSpyBridge::SpyIDStringTable2(4100, "two");
    EXPECT_EQ(Log(), "increase 4096;value 4097=3;wide 4098=6;string1 4099=one;string2 4100=two;");
}

TEST_F(SpyBridgeTest, QuitSendsUploadThenEndEventThenFinish) {
    const std::string upload = "string2 3584=" + VKSpyBridge::UploadAddress() + ";";
    VKSpyBridge::SetUserParticipart(3);
    VKSpyBridge::SetEdiRsf(false);
    VKSpyBridge::SetEdiRsf(true);
    VKSpyBridge::SetEdiRsf(true);
    VKSpyBridge::SpyIDSaveToServerTable();
    VKSpyBridge::SpyIDEnd();
    EXPECT_EQ(Log(), "install 1 " + std::to_string(dir_.path().size()) +
                         ";value 4175=1;value 4175=2;" + upload + "event 2,5;" + upload +
                         "event 7,5;finish;");
    EXPECT_EQ(VKSpyBridge::UploadAddress(),
              "/product/index.php/?a=statistics&p_type=m_mac_vexa_user_operation")
        << "the shipped settings name no host";
}

TEST_F(SpyBridgeTest, EveryWayOutEndsTheStatistics) {
    VKAppDelegateWiring wiring;
    wiring.watchDevices = false;
    wiring.closeApp = &VKAppDelegate::CloseApp;
    VKAppDelegate delegate(std::move(wiring));
    velmora::ui::NotificationCenter::defaultCenter().addObserver(
        &delegate, "appWillTerminate",
        [&](const velmora::ui::Notification&) { delegate.applicationWillTerminate(); });
    velmora::ui::NotificationCenter::defaultCenter().post("appWillTerminate");
    // The end of the event loop is queued: the program's loop ends with 0
    // (1 here, if nothing ended it).
    QTimer never;
    never.setSingleShot(true);
    QObject::connect(&never, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    never.start(10000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    const std::string upload = "string2 3584=" + VKSpyBridge::UploadAddress() + ";";
    EXPECT_EQ(Log(), upload + "event 7,5;finish;");
}

TEST(SpyBridge, WithoutTheLibraryEveryCallDoesNothing) {
    velmora::test::TempDir empty;
    VKSpyBridge::UseLibraryFolder(empty.path());
    VKSpyBridge::SpyIDInstall();
    VKSpyBridge::SpyIDIncreateTable1(5000);
    VKSpyBridge::SpyIDEnd();
    EXPECT_EQ(VKSpyBridge::Library().Object(), nullptr);
    VKSpyBridge::UseLibraryFolder({});
}
