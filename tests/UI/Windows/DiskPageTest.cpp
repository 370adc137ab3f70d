#include "Windows/VKSelectDiskViewController.h"

#include <QHeaderView>
#include <atomic>
#include <future>
#include <thread>

#include "ModelCheck.h"
#include "UIPlatform/UserDefaults.h"
#include "Widgets/VKCustomOutlineView.h"
#include "WindowTestSupport.h"
#include "Windows/DeviceListRefresher.h"
#include "Windows/VKDiskOutlineModel.h"

namespace velmora::windows {
namespace {

using seam::FakeBridge;
using testing::Pump;

class RecordingDiskDelegate : public VKSelectDiskViewControllerDelegate {
public:
    void changeSelectDiskViewContinueButtonEnabled(const DiskVolumeNodePtr& row) override {
        reported.push_back(row);
    }
    void doubleClickedListToScan(int desktop) override { scans.push_back(desktop); }
    std::vector<DiskVolumeNodePtr> reported;
    std::vector<int> scans;
};

class DiskPageTest : public testing::WindowTest {
protected:
    // The page as the main window fills it.
    void Fill(std::vector<DiskVolumeNodePtr> devices) {
        page.setDelegate(&delegate);
        page.setAllDiskArr(std::move(devices));
        page.InitFinished();
    }
    QString Cell(int row, int column) {
        const DiskVolumeNodePtr item = page.itemAtRow(row);
        const QModelIndex index = page.model()->indexOf(item.get());
        return page.model()
            ->index(index.row(), column, index.parent())
            .data(Qt::DisplayRole)
            .toString();
    }

    RecordingDiskDelegate delegate;
    VKSelectDiskViewController page;
};

// An opened image is listed without volumes of its own (an image of a bare
// volume has none; it is scanned whole); a disk without volumes is not.
TEST_F(DiskPageTest, OpenedImagesAreListedWithoutVolumes) {
    const DiskVolumeNodePtr data = FakeBridge::Volume("Data", 1'500'000, 3);
    auto image = [](const char* name, bool edi) {
        _DiskVolumeData record;
        record.name = name;
        record.capacity = 25'000'000;
        record.isEdi = edi ? 1 : 0;
        record.isAppleDmg = edi ? 0 : 1;
        return std::make_shared<DiskVolumeNodeData>(record);
    };
    const DiskVolumeNodePtr edi = image("card.edi", true);
    const DiskVolumeNodePtr dmg = image("card.dmg", false);
    Fill({FakeBridge::Disk("sda", 2'000'000, {data}), FakeBridge::Disk("empty", 1000, {}), edi,
          dmg});
    EXPECT_EQ(page.itemAtRow(3), edi);
    EXPECT_EQ(page.itemAtRow(4), dmg);
    EXPECT_FALSE(page.itemAtRow(5));
    EXPECT_EQ(page.desktopVolume(), data);
}

TEST_F(DiskPageTest, ADiskWithTwoVolumesListsDesktopTheDiskAndItsVolumes) {
    const DiskVolumeNodePtr first = FakeBridge::Volume("Data", 1'500'000, 3);
    const DiskVolumeNodePtr second = FakeBridge::Volume("Photos", 999, 2);
    Fill({FakeBridge::Disk("Samsung SSD 860", 2'000'000'000'000, {first, second}),
          FakeBridge::Disk("empty", 1000, {})});
    const struct {
        int row;
        const char* name;
        const char* size;
        const char* fileSystem;
        const char* ssd;
        const char* icon;
    } rows[] = {
        {0, "Desktop", " ", " ", " ", "icon_desktop"},
        {1, "Samsung SSD 860", "2.00 TB", "Disk", "SSD", "icon_disk"},
        {2, "Data", "1.50 MB", "NTFS", " ", "icon_disk_osx"},
        {3, "Photos", "999 byte", "FAT32", " ", "icon_disk"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.row);
        EXPECT_EQ(Cell(r.row, VKDiskOutlineModel::Name), r.name);
        EXPECT_EQ(Cell(r.row, VKDiskOutlineModel::Size), r.size);
        EXPECT_EQ(Cell(r.row, VKDiskOutlineModel::FileSystem), r.fileSystem);
        EXPECT_EQ(Cell(r.row, VKDiskOutlineModel::IsSSD), r.ssd);
        EXPECT_EQ(page.model()->iconName(page.itemAtRow(r.row).get()), r.icon);
    }
    EXPECT_FALSE(page.itemAtRow(4));  // the disk without volumes is left out
    // The first volume is the desktop volume and starts chosen.
    EXPECT_EQ(page.desktopVolume(), first);
    EXPECT_EQ(page.selectDiskVolume(), first);
    EXPECT_EQ(page.selectedRow(), 2);
    EXPECT_EQ(page.outlineView()->isSelectRow(), 2);
    EXPECT_EQ(delegate.reported, std::vector<DiskVolumeNodePtr>{first});
    EXPECT_TRUE(page.scanButton()->isButtonUsable());
}

TEST_F(DiskPageTest, ScanningDesktopScansTheDesktopVolumeAndRemembersTheChoice) {
    const DiskVolumeNodePtr first = FakeBridge::Volume("Data", 1000, 3);
    const DiskVolumeNodePtr second = FakeBridge::Volume("Photos", 1000, 2);
    const DiskVolumeNodePtr disk = FakeBridge::Disk("disk", 3000, {first, second});
    Fill({disk});
    const struct {
        int row;
        DiskVolumeNodePtr scanned;
        int desktop;
    } cases[] = {{0, first, 1}, {3, second, 0}, {1, disk, 0}, {2, first, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        delegate.reported.clear();
        delegate.scans.clear();
        page.clickRow(c.row);
        page.scanButtonAction();
        ASSERT_FALSE(delegate.reported.empty());
        EXPECT_EQ(delegate.reported.back(), c.scanned);
        EXPECT_EQ(delegate.scans, std::vector<int>{c.desktop});
        EXPECT_EQ(ui::UserDefaults::standard().boolValue("isSelectDesktopDisk"), c.desktop == 1);
    }
    // A chosen volume carries its disk's name.
    EXPECT_EQ(first->parentName(), "disk");
}

// A chosen row carries the name its disk's removal is announced with (the
// kernel's), whatever the disk is titled; a disk row its own.
TEST_F(DiskPageTest, AChosenRowCarriesTheKernelNameOfItsDisk) {
    const DiskVolumeNodePtr volume = FakeBridge::Volume("Data", 1000, 3);
    _DiskVolumeData data;
    data.name = "SanDisk Cruzer";
    data.bsdName = "sdb";
    data.capacity = 4000;
    const auto disk = std::make_shared<DiskVolumeNodeData>(data);
    disk->setSubNode(std::vector<DiskVolumeNodePtr>{volume});
    Fill({disk});
    // The volume chosen as the page opens is scanned without a click.
    ASSERT_EQ(page.selectDiskVolume(), volume);
    EXPECT_EQ(volume->parentName(), "sdb");
    const struct {
        int row;
        DiskVolumeNodePtr item;
    } cases[] = {{1, disk}, {2, volume}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        page.clickRow(c.row);
        EXPECT_EQ(page.selectDiskVolume(), c.item);
        EXPECT_EQ(c.item->parentName(), "sdb");
    }
}

TEST_F(DiskPageTest, WithoutAnyVolumeOnlyDesktopShowsAndNothingIsChosen) {
    Fill({FakeBridge::Disk("empty", 1000, {})});
    EXPECT_EQ(Cell(0, VKDiskOutlineModel::Name), "Desktop");
    EXPECT_FALSE(page.itemAtRow(1));
    EXPECT_FALSE(page.selectDiskVolume());
    EXPECT_EQ(page.selectedRow(), -1);
    EXPECT_EQ(delegate.reported, std::vector<DiskVolumeNodePtr>{nullptr});
    EXPECT_FALSE(page.scanButton()->isButtonUsable());
}

TEST_F(DiskPageTest, AClickIntoTheEmptyPartDropsTheChoice) {
    Fill({FakeBridge::Disk("disk", 3000, {FakeBridge::Volume("Data", 1000, 3)})});
    page.clickRow(-1);
    EXPECT_FALSE(page.selectDiskVolume());
    EXPECT_EQ(page.selectedRow(), -1);
    EXPECT_EQ(page.outlineView()->isSelectRow(), -1);
    EXPECT_EQ(delegate.reported.back(), nullptr);
    EXPECT_FALSE(page.scanButton()->isButtonUsable());
}

TEST_F(DiskPageTest, AClickOnTheChosenRowKeepsTheChoice) {
    const DiskVolumeNodePtr first = FakeBridge::Volume("Data", 1000, 3);
    const DiskVolumeNodePtr second = FakeBridge::Volume("Photos", 1000, 2);
    // The desktop volume starts chosen (row 2); a row taken by a click is
    // chosen too (row 3). Clicked again, either stays chosen.
    const struct {
        std::vector<int> clicks;
        DiskVolumeNodePtr chosen;
        int row;
    } cases[] = {{{2}, first, 2}, {{2, 2}, first, 2}, {{3, 3}, second, 3}, {{3, 2, 2}, first, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.clicks.size());
        Fill({FakeBridge::Disk("disk", 3000, {first, second})});
        for (int row : c.clicks)
            page.clickRow(row);
        EXPECT_EQ(page.selectDiskVolume(), c.chosen);
        EXPECT_EQ(page.selectedRow(), c.row);
        EXPECT_EQ(page.outlineView()->isSelectRow(), c.row);
        EXPECT_EQ(delegate.reported.back(), c.chosen);
        EXPECT_TRUE(page.scanButton()->isButtonUsable());
    }
}

TEST_F(DiskPageTest, AHeaderClickBlocksTheDoubleClickScanUntilARowIsChosen) {
    Fill({FakeBridge::Disk("disk", 3000, {FakeBridge::Volume("Data", 1000, 3)})});
    emit page.outlineView()->header()->sectionPressed(0);
    page.doubleToScan();
    EXPECT_TRUE(delegate.scans.empty());
    page.clickRow(1);
    page.doubleToScan();
    EXPECT_EQ(delegate.scans, std::vector<int>{0});
}

TEST_F(DiskPageTest, ADeviceNotificationRebuildsTheListFromTheCatalogue) {
    bridge.devices = {FakeBridge::Disk("disk", 3000, {FakeBridge::Volume("Data", 1000, 3)})};
    Fill(bridge.devices);
    bridge.onRefresh = [this] {
        bridge.devices.push_back(
            FakeBridge::Disk("usb", 8000, {FakeBridge::Volume("Stick", 8000, 7)}));
    };
    for (const char* name : {"RefreshAttachDevice", "RefreshDetachDevice"}) {
        SCOPED_TRACE(name);
        bridge.calls.clear();
        ui::NotificationCenter::defaultCenter().post(QString::fromLatin1(name));
        Pump();
        DeviceListRefresher::shared().waitIdle();
        EXPECT_EQ(bridge.calls,
                  (std::vector<std::string>{"RefreshDeviceInfo", "GetDeviceInfoToArray"}));
        EXPECT_EQ(page.model()->rowCount(), static_cast<int>(bridge.devices.size()) + 1);
    }
    // Once the page leaves the notifications, nothing is rebuilt.
    page.disableRefreshDevice();
    bridge.calls.clear();
    ui::NotificationCenter::defaultCenter().post(QStringLiteral("RefreshAttachDevice"));
    Pump();
    DeviceListRefresher::shared().waitIdle();
    EXPECT_TRUE(bridge.calls.empty());
}

// The rebuild waits for a scan to stop and lists every device again: it
// runs on a thread of its own while the page says the list is being made
// and lets nothing be scanned until the new rows are in.
TEST_F(DiskPageTest, ADeviceEventRebuildsTheListOffTheInterfaceThread) {
    bridge.devices = {FakeBridge::Disk("disk", 3000, {FakeBridge::Volume("Data", 1000, 3)})};
    Fill(bridge.devices);
    page.show();
    ASSERT_TRUE(page.scanButton()->isButtonUsable());
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> rebuilding{false};
    std::thread::id rebuildThread;
    bridge.onRefresh = [&] {
        rebuildThread = std::this_thread::get_id();
        rebuilding = true;
        // On the interface thread this would hold it: the wait then ends
        // by itself and the checks below fail.
        released.wait_for(std::chrono::seconds(2));
        bridge.devices.push_back(
            FakeBridge::Disk("usb", 8000, {FakeBridge::Volume("Stick", 8000, 7)}));
    };
    ui::NotificationCenter::defaultCenter().post(QStringLiteral("RefreshAttachDevice"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rebuilding.load(); }, 5000));
    Pump();
    EXPECT_TRUE(page.isLoading());
    EXPECT_TRUE(page.loadingLabel()->isVisible());
    EXPECT_FALSE(page.scanButton()->isButtonUsable());
    EXPECT_EQ(delegate.reported.back(), nullptr);
    const size_t scansBefore = delegate.scans.size();
    page.scanButtonAction();
    EXPECT_EQ(delegate.scans.size(), scansBefore);

    release.set_value();
    DeviceListRefresher::shared().waitIdle();
    EXPECT_NE(rebuildThread, std::this_thread::get_id());
    EXPECT_FALSE(page.isLoading());
    EXPECT_FALSE(page.loadingLabel()->isVisible());
    EXPECT_EQ(page.model()->rowCount(), 3);  // Desktop, the disk, the stick
    EXPECT_TRUE(page.scanButton()->isButtonUsable());
    EXPECT_NE(delegate.reported.back(), nullptr);
}

// A disk with its partitions comes as several events; each one asked of a
// rebuild that is running makes one more rebuild, not one each.
TEST_F(DiskPageTest, EventsOfOneTurnOrOfOneRebuildMakeOneRebuild) {
    bridge.devices = {FakeBridge::Disk("disk", 3000, {FakeBridge::Volume("Data", 1000, 3)})};
    Fill(bridge.devices);
    bridge.calls.clear();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> rebuilds{0};
    bridge.onRefresh = [&] {
        if (rebuilds++ == 0)
            released.wait_for(std::chrono::seconds(5));
    };
    auto& center = ui::NotificationCenter::defaultCenter();
    for (const char* name : {"RefreshAttachDevice", "RefreshAttachDevice", "RefreshDetachDevice"})
        center.post(QString::fromLatin1(name));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rebuilds.load() == 1; }, 5000));
    for (int i = 0; i < 3; ++i) {
        center.post(QStringLiteral("RefreshDetachDevice"));
        Pump();
    }
    EXPECT_EQ(rebuilds.load(), 1);
    release.set_value();
    DeviceListRefresher::shared().waitIdle();
    EXPECT_EQ(rebuilds.load(), 2);
    EXPECT_EQ(bridge.CountOf("RefreshDeviceInfo"), 2);
}

// Qt's model tester watches the outline while the page is filled, a row is
// chosen and the list is made again after a device event.
TEST_F(DiskPageTest, TheOutlineModelKeepsQtsRules) {
    ::velmora::testing::ModelCheck check(page.model());
    Fill({FakeBridge::Disk(
              "disk", 3000,
              {FakeBridge::Volume("Data", 1000, 3), FakeBridge::Volume("Photos", 900, 2)}),
          FakeBridge::Disk("empty", 1000, {})});
    page.clickRow(3);
    page.clickRow(-1);
    bridge.devices = {FakeBridge::Disk("usb", 8000, {FakeBridge::Volume("Stick", 8000, 7)})};
    ui::NotificationCenter::defaultCenter().post(QStringLiteral("RefreshDetachDevice"));
    Pump();
    DeviceListRefresher::shared().waitIdle();
    EXPECT_EQ(page.model()->rowCount(), 2);
    EXPECT_TRUE(check.failures().isEmpty()) << check.failures().toStdString();
}

// While a scan owns the devices nothing is rebuilt (a rebuild stops the
// scan); going home rebuilds once.
TEST_F(DiskPageTest, NoRebuildWhileSuspendedAndOneOnResuming) {
    DeviceListRefresher& refresher = DeviceListRefresher::shared();
    refresher.suspend();
    refresher.request();
    refresher.request();
    Pump();
    refresher.waitIdle();
    EXPECT_EQ(bridge.CountOf("RefreshDeviceInfo"), 0);
    refresher.resume();
    refresher.waitIdle();
    EXPECT_EQ(bridge.CountOf("RefreshDeviceInfo"), 1);
}

TEST_F(DiskPageTest, TheMouseChoosesARowAndADoubleClickScansIt) {
    const DiskVolumeNodePtr second = FakeBridge::Volume("Photos", 1000, 2);
    Fill({FakeBridge::Disk("disk", 3000, {FakeBridge::Volume("Data", 1000, 3), second})});
    page.show();
    Pump();
    QWidget* viewport = page.outlineView()->viewport();
    const QRect rect = page.outlineView()->visualRect(page.model()->indexOf(second.get()));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(page.selectDiskVolume(), second);
    EXPECT_EQ(delegate.reported.back(), second);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(delegate.scans, std::vector<int>{0});
    // Below the last row: the choice goes.
    QTest::mouseClick(viewport, Qt::LeftButton, {},
                      QPoint(rect.center().x(), viewport->height() - 5));
    EXPECT_FALSE(page.selectDiskVolume());
}

}  // namespace
}  // namespace velmora::windows
