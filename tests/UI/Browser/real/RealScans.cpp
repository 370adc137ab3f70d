#include "Browser/real/RealScans.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>

#include "Browser/CommOutlineView.h"
#include "Browser/ResultTreeModel.h"
#include "UIPlatform/NotificationCenter.h"
#include "VKAppDelegate.h"
#include "VKUIController.h"
#include "Windows/VKRootWindowController.h"
#include "Windows/VKSelectDiskViewController.h"
#include "Windows/VKSelectTypeViewController.h"
#include "support/TestSupport.h"

namespace velmora::browser::real {

namespace {

using test::real::RowOf;
using test::real::RunTool;

// The scan's pause state for the delegate's quit question.
class BridgeScan final : public ::VKScanControl {
public:
    bool IsScanRunning() override { return VKUIController::IsScanRunning() != 0; }
    bool IsPause() override { return VKUIController::IsPause() != 0; }
    void PauseOrResumeScan() override { VKUIController::PauseOrResumeScan(); }
};

BridgeScan& TheScan() {
    static BridgeScan scan;
    return scan;
}

void CollectPaths(ResultTreeModel& model, const QModelIndex& parent, const QString& above,
                  QStringList& out) {
    if (model.canFetchMore(parent))
        model.fetchMore(parent);
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        const QString path =
            above + QLatin1Char('/') + model.data(index, Qt::DisplayRole).toString();
        out << path;
        CollectPaths(model, index, path, out);
    }
}

}  // namespace

const BrowserDisks& Disks() {
    static const BrowserDisks disks = [] {
        BrowserDisks made;
        static test::TempDir folder;
        const QString out = QString::fromStdString(folder.path());
        const QString script = QString::fromStdString(test::SourceDir()) +
                               "/tests/fixtures/windows/make_browser_disks.py";
        QString output;
        if (!RunTool({"python3", script, out}, &output, 120000)) {
            made.why =
                "make_browser_disks.py failed (needs python3, mkfs.fat, mtools, sgdisk): " + output;
            return made;
        }
        made.fatDisk = out + "/browser_fat.img";
        made.lostDisk = out + "/browser_lost.img";
        return made;
    }();
    return disks;
}

QJsonObject Manifest(const QString& image) {
    QString path = image;
    path.replace(QRegularExpression(QStringLiteral("\\.img$")), QStringLiteral(".json"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

std::set<QString> ManifestFolders(const QJsonObject& volume) {
    std::set<QString> folders;
    for (const QJsonValue& entry : volume.value("files").toArray()) {
        if (entry.toObject().value("type").toString() == "dir")
            folders.insert(entry.toObject().value("path").toString());
    }
    return folders;
}

std::set<QString> ManifestMonths(const QJsonObject& volume) {
    std::set<QString> months;
    for (const QJsonValue& entry : volume.value("files").toArray()) {
        const QJsonObject file = entry.toObject();
        if (file.value("type").toString() != "file" || !file.contains("times"))
            continue;
        const qint64 mtime = file.value("times").toObject().value("mtime").toInteger();
        months.insert(QDateTime::fromSecsSinceEpoch(mtime, Qt::UTC).toString("yyyy-MM"));
    }
    return months;
}

QStringList TreePaths(const CommOutlineView& view) {
    QStringList paths;
    CollectPaths(*view.treeModel(), QModelIndex(), QString(), paths);
    return paths;
}

ScanSession::ScanSession(bool watchDevices) {
    windows::RootWindowSeams rootSeams;
    BrowserSeams browserSeams;
    // Leaving asks nothing: these tests never save.
    browserSeams.saveScanResult = [] { return true; };
    windows_ = std::make_unique<ProgramWindows>(rootSeams, browserSeams);
    if (!watchDevices) {
        QWidget* root = windows_->openRootWindow(QString());
        if (root)
            windows_->root()->showWindow();
        return;
    }
    VKAppDelegateWiring wiring;
    wiring.scan = &TheScan();
    wiring.closeApp = [] {};
    wiring.makeRootWindow = [this](const QString& rsfPath) -> QWidget* {
        return windows_->openRootWindow(rsfPath);
    };
    wiring.watchDevices = true;
    delegate_ = std::make_unique<VKAppDelegate>(std::move(wiring));
    delegate_->applicationDidFinishLaunching();
}

ScanSession::~ScanSession() {
    VKUIController::StopScan(1);
    VKUIController::WaitForScanThread();
    // The windows first: the browser tells the bridge to let its arrays go.
    delegate_.reset();
    windows_.reset();
    loop_.reset();
}

bool ScanSession::watching() const {
    return delegate_ && delegate_->isWatchingDevices();
}

bool ScanSession::Start(const QString& image, int volume, bool deep, QStringList categories) {
    if (!WaitFor([&] { return windows_->root() != nullptr; }, 20000)) {
        failure = "the main window did not open";
        return false;
    }
    windows::VKRootWindowController& root = *windows_->root();
    // A second scan of the same disk finds it attached still.
    if (!loop_ || image != image_) {
        loop_ = std::make_unique<AttachedLoop>(image);
        image_ = image;
    }
    if (loop_->node().isEmpty()) {
        failure = "cannot attach a loop device (losetup failed)";
        return false;
    }
    const QString node = loop_->node();
    root.selectTypeVC()->selectScanTypeButtonClick(deep ? 3 : 1);
    if (categories.isEmpty())
        categories = windows::AllCategoryKeys();
    root.nextButtonActionWithAllTypeArr(&categories);
    if (!WaitFor([&] { return root.whichPage() == 3; }, 20000)) {
        failure = "the disk page did not open";
        return false;
    }
    // A loop device's partitions come as events of their own, each
    // rebuilding the page's rows: the row must be there with its volumes.
    auto listed = [&]() -> DiskVolumeNodePtr {
        windows::VKSelectDiskViewController* page = root.selectDiskVC();
        if (!page)
            return nullptr;
        DiskVolumeNodePtr row = RowOf(*page, node);
        if (!row || (volume >= 0 && row->numberOfChildren() <= static_cast<size_t>(volume)))
            return nullptr;
        return row;
    };
    if (!WaitFor([&] { return listed() != nullptr; }, 20000)) {
        failure = node + " is not listed on the disk page";
        return false;
    }
    WaitFor([] { return false; }, 300);
    windows::VKSelectDiskViewController* page = root.selectDiskVC();
    const DiskVolumeNodePtr disk = listed();
    if (!disk) {
        failure = node + " left the disk page";
        return false;
    }
    const DiskVolumeNodeData* row =
        volume >= 0 ? disk->childAtIndex(static_cast<size_t>(volume)).get() : disk.get();
    // The browser starts its scan a moment after it opens; from then on it
    // follows the scan's refreshes.
    auto& center = ui::NotificationCenter::defaultCenter();
    const int following = center.observerCount(QStringLiteral("NormalScranValue"));
    page->clickRow(page->rowForItem(row));
    page->scanButtonAction();
    if (!WaitFor(
            [&] {
                return browser() != nullptr && browser()->window()->isVisible() &&
                       center.observerCount(QStringLiteral("NormalScranValue")) > following;
            },
            10000)) {
        failure = "the results browser did not open and start its scan";
        return false;
    }
    return true;
}

VKDeletailWindowController* ScanSession::browser() const {
    if (!windows_->root())
        return nullptr;
    return dynamic_cast<VKDeletailWindowController*>(windows_->root()->deletailWC());
}

// The browser takes the scan's end over at the first refresh that finds the
// scan ended. The scan's thread can end between the browser's observer and
// ours on one refresh: the browser then takes the end at the next one, and
// shows the files' total when it has.
bool ScanSession::WaitForScanEnd(int ms) {
    // A scan that ended before the wait began posts nothing more.
    bool ended = !VKUIController::IsScanRunning();
    QObject watch;
    ui::NotificationCenter::defaultCenter().addObserver(
        &watch, QStringLiteral("NormalScranValue"),
        [&ended](const ui::Notification&) { ended = ended || !VKUIController::IsScanRunning(); });
    return WaitFor([&] { return ended && browser() && browser()->selectFilesLabel()->isVisible(); },
                   ms);
}

}  // namespace velmora::browser::real

int main(int argc, char** argv) {
    // The file-type table lies beside the program; here in the build's
    // work folder.
    if (qEnvironmentVariableIsEmpty("VELMORA_WORK_PATH"))
        qputenv("VELMORA_WORK_PATH",
                QByteArray::fromStdString(velmora::test::BinaryDir() + "/tests/work"));
    return velmora::test::real::RunRealWindowTests(argc, argv);
}
