// Recovering ticked files through the results browser on the program's own
// bridge and engine: a GPT disk made by tests/fixtures/windows/
// make_recover_volume.py, attached to a loop device and scanned from the main
// window, then recovered into real folders through the real folder dialog,
// progress window and end windows on real modal loops. Alerts answer from a
// script. Run under Xvfb, as root (loop devices, mounts), in a mount
// namespace of its own so that nothing it mounts outlives it.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "Browser/CommOutlineView.h"
#include "Browser/FileListModel.h"
#include "Browser/FileListPane.h"
#include "Browser/FileListSort.h"
#include "Browser/ResultTreeModel.h"
#include "Browser/VKDeletailWindowController.h"
#include "Browser/VKRecoverController.h"
#include "Browser/VKResultFilePane.h"
#include "EngineFactories.h"
#include "RealDevices.h"
#include "TopView/TCImageButton.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "VKUIController.h"
#include "Windows/VKRootWindowController.h"
#include "Windows/VKScanEndSaveWindowController.h"
#include "Windows/VKScanNotEndSaveWindowController.h"
#include "Windows/VKSelectDiskViewController.h"
#include "Windows/VKSelectTypeViewController.h"
#include "Windows/VKShowScanProgressWindowController.h"
#include "platform/desktop/Workspace.h"
#include "support/TestSupport.h"

namespace velmora::browser {
namespace {

// Loop devices, commands, bounded waits and the disk page's rows.
using namespace velmora::test::real;

using Panel = windows::VKShowScanProgressWindowController::Panel;

// The unprivileged user the recovered files must belong to (nobody).
constexpr uid_t kInvokingUid = 65534;
constexpr gid_t kInvokingGid = 65534;

QByteArray Sha256Of(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

// What the manifest says of each file: size and SHA-256 by path ("/Docs/x").
struct Expected {
    qint64 size = 0;
    QByteArray sha256;
};

std::map<QString, Expected> ReadManifest(const QString& path) {
    std::map<QString, Expected> files;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return files;
    const QJsonArray volumes = QJsonDocument::fromJson(file.readAll())["volumes"].toArray();
    for (const QJsonValue& volume : volumes) {
        for (const QJsonValue& entry : volume["files"].toArray()) {
            if (entry["type"].toString() == QLatin1String("file"))
                files[entry["path"].toString()] = {entry["size"].toInteger(),
                                                   entry["sha256"].toString().toLatin1()};
        }
    }
    return files;
}

// A recovered file: its path below the volume's folder ("/Docs/x"), where
// it lies, its owner.
struct Recovered {
    QString path;
    QString where;
    uid_t uid = 0;
    gid_t gid = 0;
};

// Every regular file below `destination`, keyed by its path below the two
// folders the recovery makes (the file system's numbered folder and the
// volume's). Folders on the way are checked for their owner in `folders`.
std::vector<Recovered> RecoveredFiles(const QString& destination,
                                      std::vector<Recovered>* folders = nullptr) {
    std::vector<Recovered> out;
    QDirIterator it(destination, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString where = it.next();
        struct stat st {};
        if (::lstat(where.toLocal8Bit().constData(), &st) != 0)
            continue;
        QStringList parts = QDir(destination).relativeFilePath(where).split('/');
        Recovered r{QString(), where, st.st_uid, st.st_gid};
        if (S_ISDIR(st.st_mode)) {
            if (folders)
                folders->push_back(r);
            continue;
        }
        r.path = '/' + parts.mid(2).join('/');
        out.push_back(r);
    }
    return out;
}

std::set<QString> PathsOf(const std::vector<Recovered>& files) {
    std::set<QString> paths;
    for (const Recovered& r : files)
        paths.insert(r.path);
    return paths;
}

// Mounts made by the tests; unmounted when they go (the namespace would
// drop them at the end anyway).
class Mount {
public:
    Mount(const QString& source, const QString& target, const char* type, const QString& options)
        : target_(target) {
        QDir().mkpath(target);
        ok_ = ::mount(source.toLocal8Bit().constData(), target.toLocal8Bit().constData(), type, 0,
                      options.isEmpty() ? nullptr : options.toLocal8Bit().constData()) == 0;
        if (!ok_)
            error_ = std::strerror(errno);
    }
    ~Mount() {
        if (ok_)
            ::umount2(target_.toLocal8Bit().constData(), MNT_DETACH);
    }
    bool ok() const { return ok_; }
    const char* error() const { return error_; }
    bool remount(const char* type, const QString& options) {
        return ::mount("none", target_.toLocal8Bit().constData(), type, MS_REMOUNT,
                       options.toLocal8Bit().constData()) == 0;
    }

private:
    QString target_;
    bool ok_ = false;
    const char* error_ = "";
};

// Steps taken on the main thread while modal loops run: a timer looks at
// the windows and runs the first rule whose condition holds, once, from a
// single-shot timer of its own (a step may run a loop of its own, and a
// timer is not delivered again while its handler runs).
class Autopilot {
public:
    struct Rule {
        QString name;
        std::function<bool()> when;
        std::function<void()> act;
        bool done = false;
    };

    Autopilot() {
        QObject::connect(&timer_, &QTimer::timeout, [this] { look(); });
        timer_.start(10);
    }
    void add(const QString& name, std::function<bool()> when, std::function<void()> act) {
        rules_.push_back({name, std::move(when), std::move(act)});
    }
    const QStringList& taken() const { return taken_; }

private:
    void look() {
        if (pending_)
            return;
        for (Rule& rule : rules_) {
            if (rule.done || !rule.when())
                continue;
            rule.done = true;
            pending_ = true;
            QTimer::singleShot(0, [this, &rule] {
                pending_ = false;
                taken_.push_back(rule.name);
                rule.act();
            });
            return;
        }
    }

    std::deque<Rule> rules_;
    QStringList taken_;
    bool pending_ = false;
    QTimer timer_;
};

class RecoverRealTest : public ::testing::Test {
protected:
    // One scan of the disk serves every case; each case ticks what it needs.
    static void SetUpTestSuite() {
        if (!velmora::test::IsRoot()) {
            skip_ = "needs root to attach loop devices and mount";
            return;
        }
        work_ = std::make_unique<velmora::test::TempDir>();
        const QString folder = QString::fromStdString(work_->path());
        // The recovery folder is checked as the invoking user, who must
        // reach it.
        ::chmod(work_->path().c_str(), 0755);
        const QString script = QString::fromStdString(velmora::test::SourceDir()) +
                               "/tests/fixtures/windows/make_recover_volume.py";
        if (!RunTool({"python3", script, folder})) {
            skip_ = "make_recover_volume.py failed (needs mkfs.exfat, exfat-fuse, FUSE)";
            return;
        }
        manifest_ = ReadManifest(folder + "/recover_volume.json");
        // Read-write: one case mounts the volume to offer a folder on it.
        disk_ = std::make_unique<AttachedLoop>(folder + "/recover_volume.img",
                                               LoopOptions{.readOnly = false, .partitions = false});
        if (disk_->node().isEmpty()) {
            skip_ = "cannot attach a loop device (losetup failed)";
            return;
        }
        ui::SetAlertPresenter(&alerts_);
        seams_ = std::make_unique<windows::RootWindowSeams>();
        BrowserSeams browserSeams;
        browserSeams.workspace = &workspace_;
        InstallResultsBrowser(*seams_, browserSeams);
        root_ = std::make_unique<windows::VKRootWindowController>(*seams_);
        if (!root_->windowDidLoad()) {
            skip_ = "the main window did not load";
            return;
        }
        root_->showWindow();
        root_->selectTypeVC()->nextButtonAction();
        const bool listed = WaitFor(
            [] {
                return root_->whichPage() == 3 && root_->selectDiskVC() &&
                       RowOf(*root_->selectDiskVC(), disk_->node());
            },
            20000);
        if (!listed) {
            failure_ = disk_->node().toStdString() + " is not listed on the disk page";
            return;
        }
        windows::VKSelectDiskViewController* page = root_->selectDiskVC();
        const DiskVolumeNodePtr disk = RowOf(*page, disk_->node());
        page->clickRow(page->rowForItem(disk->childAtIndex(0).get()));
        page->scanButtonAction();
        if (!WaitFor([] { return root_->deletailWC() != nullptr; }, 10000)) {
            failure_ = "no browser opened";
            return;
        }
        browser_ = dynamic_cast<VKDeletailWindowController*>(root_->deletailWC());
        if (!browser_ || !WaitFor([] { return !browser_->selectFilesLabel()->isHidden(); }, 120000))
            failure_ = "the scan did not end";
        if (!WaitFor([] { return PathTree()->model()->rowCount() > 0; }, 10000))
            failure_ = "the path tree stayed empty";
    }

    static void TearDownTestSuite() {
        if (root_) {
            VKUIController::StopScan(1);
            VKUIController::WaitForScanThread();
        }
        browser_ = nullptr;
        root_.reset();
        seams_.reset();
        ui::SetAlertPresenter(nullptr);
        disk_.reset();
        work_.reset();
    }

    void SetUp() override {
        if (!skip_.empty())
            GTEST_SKIP() << skip_;
        ASSERT_TRUE(failure_.empty()) << failure_;
        ASSERT_NE(browser_, nullptr);
        alerts_.answers.clear();
        alerts_.shown.clear();
        alerts_.unscripted = 0;
        UntickAll();
    }

    // --- ticking, as the user does it ---

    static CommOutlineView* PathTree() { return browser_->outline(OP_TREE_PATH); }

    static QModelIndex Child(const QModelIndex& parent, const QString& name) {
        CommOutlineView* tree = PathTree();
        tree->expand(parent);
        if (tree->model()->canFetchMore(parent))
            tree->model()->fetchMore(parent);
        for (int row = 0; row < tree->model()->rowCount(parent); ++row) {
            const QModelIndex index = tree->model()->index(row, 0, parent);
            if (QString::fromStdString(tree->treeModel()->nodeAt(index)->name()) == name)
                return index;
        }
        return {};
    }
    // The folder at "/A/B" in the path tree.
    static QModelIndex Folder(const QString& path) {
        QModelIndex index = PathTree()->treeModel()->rootIndex(0);
        for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
            index = Child(index, part);
            if (!index.isValid())
                break;
        }
        return index;
    }
    static int TickedCount() {
        int count = 0;
        unsigned long long size = 0;
        VKUIController::GetSelectedFilesAmoutAndSize(&count, &size);
        return count;
    }
    // The root's box: partly or none ticked → all; all → none.
    static void UntickAll() {
        const QModelIndex root = PathTree()->treeModel()->rootIndex(0);
        for (int i = 0; i < 2 && TickedCount() != 0; ++i)
            browser_->clickButtonAction(PathTree(), root);
        ASSERT_EQ(TickedCount(), 0);
    }
    static void TickFolder(const QString& path) {
        const QModelIndex index = Folder(path);
        ASSERT_TRUE(index.isValid()) << path.toStdString();
        browser_->clickButtonAction(PathTree(), index);
    }
    // Shows `folder` in the file list and ticks the named files there.
    static void TickFiles(const QString& folder, const QStringList& names) {
        const QModelIndex index = Folder(folder);
        ASSERT_TRUE(index.isValid()) << folder.toStdString();
        PathTree()->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        FileListPane* list = browser_->resultFilePane()->list();
        for (const QString& name : names) {
            int found = -1;
            for (int row = 0; row < list->model()->rowCount(); ++row) {
                if (list->model()->cellText(row, kNameColumn) == name)
                    found = row;
            }
            ASSERT_GE(found, 0) << name.toStdString() << " is not listed in "
                                << folder.toStdString();
            list->nsbuttonCellClick(found);
        }
    }

    // --- the recovery, as the user starts it ---

    static QFileDialog* OpenFolderDialog() {
        for (QFileDialog* dialog : browser_->window()->findChildren<QFileDialog*>()) {
            if (dialog->isVisible())
                return dialog;
        }
        return nullptr;
    }
    // Presses Recover and picks `folder` in the folder dialog.
    static void ChooseFolder(Autopilot& pilot, const QString& folder) {
        pilot.add(
            "folder dialog", [] { return OpenFolderDialog() != nullptr; },
            [folder] {
                QFileDialog* dialog = OpenFolderDialog();
                dialog->setDirectory(folder);
                static_cast<QDialog*>(dialog)->accept();
            });
        ASSERT_TRUE(browser_->recovertyButton()->isButtonUsable());
        browser_->recovertyButton()->click();
    }

    static VKRecoverController* Recover() { return browser_->recoverController(); }
    static windows::VKShowScanProgressWindowController* Progress() {
        auto* progress = Recover()->recoveryProgressWindow();
        return progress && progress->window()->isVisible() ? progress : nullptr;
    }
    static windows::VKScanEndSaveWindowController* Finished() {
        auto* end = Recover()->scanEndSaveWC();
        return end && end->window()->isVisible() ? end : nullptr;
    }
    static windows::VKScanNotEndSaveWindowController* Stopped() {
        auto* end = Recover()->scanNotEndSaceWC();
        return end && end->window()->isVisible() ? end : nullptr;
    }
    static bool Idle() {
        return VKUIController::IsRecoveryRunning() == 0 && !Progress() && !Finished() &&
               !Stopped() && !OpenFolderDialog();
    }

    // Every file of `paths` arrived whole, belongs to the invoking user, and
    // nothing else arrived.
    // With `count`, that many files of the manifest arrived (whichever).
    void ExpectRecovered(const QString& destination, const std::set<QString>& paths,
                         size_t count = 0) {
        std::vector<Recovered> folders;
        const std::vector<Recovered> files = RecoveredFiles(destination, &folders);
        if (count != 0)
            EXPECT_EQ(files.size(), count);
        else
            EXPECT_EQ(PathsOf(files), paths);
        for (const Recovered& file : files) {
            SCOPED_TRACE(file.where.toStdString());
            auto it = manifest_.find(file.path);
            ASSERT_NE(it, manifest_.end());
            EXPECT_EQ(QFileInfo(file.where).size(), it->second.size);
            EXPECT_EQ(Sha256Of(file.where), it->second.sha256);
            EXPECT_EQ(file.uid, kInvokingUid);
            EXPECT_EQ(file.gid, kInvokingGid);
        }
        for (const Recovered& folder : folders) {
            SCOPED_TRACE(folder.where.toStdString());
            EXPECT_EQ(folder.uid, kInvokingUid);
        }
    }

    // A folder of the invoking user's, as the one they would choose.
    QString Destination(const QString& name) {
        const QString path = QString::fromStdString(work_->path()) + '/' + name;
        QDir().mkpath(path);
        EXPECT_EQ(::chown(path.toLocal8Bit().constData(), kInvokingUid, kInvokingGid), 0);
        return path;
    }

    static QString Shots() {
        const QString shots = QStringLiteral(VELMORA_WINDOW_SHOTS_DIR);
        QDir().mkpath(shots);
        return shots;
    }

    // The program's invoking user: what it writes belongs to them.
    velmora::test::ScopedEnv pkexec_{"PKEXEC_UID", nullptr};
    velmora::test::ScopedEnv sudoUid_{"SUDO_UID", "65534"};
    velmora::test::ScopedEnv sudoGid_{"SUDO_GID", "65534"};

    static inline std::string skip_;
    static inline std::string failure_;
    static inline std::unique_ptr<velmora::test::TempDir> work_;
    static inline std::map<QString, Expected> manifest_;
    static inline std::unique_ptr<AttachedLoop> disk_;
    static inline ui::ScriptedAlerts alerts_;
    static inline platform::RecordingWorkspace workspace_;
    static inline std::unique_ptr<windows::RootWindowSeams> seams_;
    static inline std::unique_ptr<windows::VKRootWindowController> root_;
    static inline VKDeletailWindowController* browser_ = nullptr;
};

// Files ticked in two folders and a whole folder with a subfolder arrive
// byte for byte in their folders, owned by the user who started the program.
TEST_F(RecoverRealTest, TickedFilesArriveWholeInTheirFoldersOwnedByTheUser) {
    TickFiles("/Docs", {"report.mp3", "notes.wav"});
    TickFiles("/Pics", {"one.mp4", "two.mov"});
    TickFolder("/Music");
    ASSERT_EQ(TickedCount(), 7);
    EXPECT_TRUE(browser_->selectFilesLabel()->text().contains(QStringLiteral("7 file")))
        << browser_->selectFilesLabel()->text().toStdString();

    const QString destination = Destination("plain");
    Autopilot pilot;
    bool sawProgress = false;
    pilot.add(
        "progress", [] { return Progress() != nullptr; }, [&] { sawProgress = true; });
    pilot.add(
        "finished", [] { return Finished() != nullptr; },
        [] {
            Finished()->window()->grab().save(Shots() + "/recover_real_finished.png");
            Finished()->okButton()->click();
        });
    ChooseFolder(pilot, destination);
    ASSERT_TRUE(WaitFor([&] { return pilot.taken().contains("finished") && Idle(); }, 60000))
        << pilot.taken().join(", ").toStdString();
    EXPECT_EQ(Recover()->recoverySavePathStr(), destination);
    EXPECT_EQ(Finished(), nullptr);
    EXPECT_EQ(Recover()->scanNotEndSaceWC(), nullptr);
    ExpectRecovered(destination,
                    {"/Docs/report.mp3", "/Docs/notes.wav", "/Pics/one.mp4", "/Pics/two.mov",
                     "/Music/a.mp3", "/Music/b.mp3", "/Music/Live/c.mp3"});
    EXPECT_EQ(alerts_.shown.size(), 0u);
    (void)sawProgress;
}

// A folder on the scanned volume itself (mounted while its disk is
// scanned) gets the same-device warning, whose only button chooses another
// folder: the dialog opens again, and nothing is written onto the volume.
TEST_F(RecoverRealTest, AFolderOnTheScannedVolumeGetsTheSameDeviceWarning) {
    TickFiles("/Docs", {"report.mp3"});
    const QString mountPoint = Destination("volume");
    // Through exfat-fuse, as a desktop without the kernel's driver mounts it
    // for its user.
    ASSERT_TRUE(
        RunTool({"mount.exfat-fuse", "-o",
                 QStringLiteral("allow_other,uid=%1,gid=%2").arg(kInvokingUid).arg(kInvokingGid),
                 disk_->node(), mountPoint}));
    struct Unmount {
        QString at;
        ~Unmount() { RunTool({"fusermount", "-u", at}); }
    } unmount{mountPoint};
    const QString folder = mountPoint + "/Docs";
    const QStringList before = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    Autopilot pilot;
    alerts_.answers = {1};  // "Choose Another Folder"
    ChooseFolder(pilot, folder);
    // The sheet's default button asks again half a second later: cancelled.
    ASSERT_TRUE(WaitFor([] { return alerts_.shown.size() == 1 && OpenFolderDialog(); }, 10000));
    EXPECT_EQ(alerts_.shown[0].message, ui::texts::Text("PLX_FOUR_SAVE_SAME_PATH_TITLE"));
    // The bridge never writes there: the sheet offers no way to go on.
    EXPECT_TRUE(alerts_.shown[0].alternateButton.isEmpty());
    OpenFolderDialog()->reject();
    ASSERT_TRUE(WaitFor(&Idle, 5000));
    EXPECT_EQ(Recover()->recoveryProgressWindow(), nullptr);
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    EXPECT_TRUE(browser_->recovertyButton()->isButtonUsable());
    EXPECT_EQ(alerts_.unscripted, 0);
}

// A tmpfs whose pages the files overrun (each small file takes two) passes
// the free-space check, then fills: the progress window shows the no-space
// panel; once the tmpfs is made larger, continue finishes with every file
// whole.
TEST_F(RecoverRealTest, AFullDestinationShowsNoSpaceAndContinueFinishesWhole) {
    TickFolder("/Small");
    // Of the deleted small files the scan finds most (their entries are
    // reused as the folder's entries are freed), more than the tmpfs holds.
    const int ticked = TickedCount();
    ASSERT_GT(ticked, 40);
    const QString destination = Destination("small");
    Mount tmpfs("tmpfs", destination, "tmpfs", "size=300k,mode=0755,uid=65534,gid=65534");
    ASSERT_TRUE(tmpfs.ok()) << tmpfs.error();

    Autopilot pilot;
    pilot.add(
        "no space", [] { return Progress() && Progress()->visiblePanel() == Panel::NoSpace; },
        [&] {
            Progress()->window()->grab().save(Shots() + "/recover_real_nospace.png");
            // Paused by the bridge: nothing is written meanwhile.
            EXPECT_EQ(VKUIController::IsRecoveryRunning(), 1);
            ASSERT_TRUE(tmpfs.remount("tmpfs", "size=4m,mode=0755,uid=65534,gid=65534"));
            Progress()->continueButton()->click();
        });
    pilot.add(
        "finished", [] { return Finished() != nullptr; }, [] { Finished()->okButton()->click(); });
    ChooseFolder(pilot, destination);
    ASSERT_TRUE(WaitFor([&] { return pilot.taken().contains("finished") && Idle(); }, 60000))
        << pilot.taken().join(", ").toStdString();
    EXPECT_EQ(pilot.taken().join(", ").toStdString(), "folder dialog, no space, finished");
    ExpectRecovered(destination, {}, static_cast<size_t>(ticked));
    EXPECT_EQ(alerts_.shown.size(), 0u);
}

// Stopped where the destination filled up: the stopped window counts the
// files really written (the one the full disk cut was removed), never
// shows the finished window.
TEST_F(RecoverRealTest, StoppedAtAFullDestinationCountsTheFilesReallyWritten) {
    TickFolder("/Small");
    const QString destination = Destination("stopped_full");
    Mount tmpfs("tmpfs", destination, "tmpfs", "size=300k,mode=0755,uid=65534,gid=65534");
    ASSERT_TRUE(tmpfs.ok()) << tmpfs.error();

    Autopilot pilot;
    QString shown;
    pilot.add(
        "no space", [] { return Progress() && Progress()->visiblePanel() == Panel::NoSpace; },
        [] { Progress()->cancelButton()->click(); });
    pilot.add(
        "finished", [] { return Finished() != nullptr; }, [] { Finished()->okButton()->click(); });
    pilot.add(
        "stopped", [] { return Stopped() != nullptr; },
        [&] {
            shown = Stopped()->noteLabel()->text();
            Stopped()->okButton()->click();
        });
    ChooseFolder(pilot, destination);
    ASSERT_TRUE(WaitFor([&] { return pilot.taken().contains("stopped") && Idle(); }, 60000))
        << pilot.taken().join(", ").toStdString();
    EXPECT_EQ(pilot.taken().join(", ").toStdString(), "folder dialog, no space, stopped");
    const std::vector<Recovered> files = RecoveredFiles(destination);
    ASSERT_GT(files.size(), 0u);
    ASSERT_LT(files.size(), 64u);
    for (const Recovered& file : files) {
        SCOPED_TRACE(file.where.toStdString());
        EXPECT_EQ(Sha256Of(file.where), manifest_[file.path].sha256);
    }
    EXPECT_EQ(shown.toStdString(), ui::texts::Format(QStringLiteral("PLX_FOUR_RECOVER_NOTEND_NODE"),
                                                     {static_cast<double>(files.size())})
                                       .toStdString());
}

}  // namespace
}  // namespace velmora::browser

int main(int argc, char** argv) {
    // Mounts and the single-instance lock stay in a mount namespace of this
    // program's own. The file-type table of the scan's filter lies beside
    // the program (the log goes there too).
    return velmora::test::real::RunRealWindowTests(
        argc, argv, {.workFolderWithFileTypes = true, .needsMountNamespace = true});
}
