// Thumbnails of found files over the Qt thumbnailer, offscreen: real
// pictures and a movie from tests/carve/samples read through a data-recovery
// object, the size limits, the embedded-preview fallback and the private
// temporary files.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BridgeDoubles.h"
#include "QtThumbnailer.h"
#include "RecoveryDoubles.h"
#include "RecoveryOutput.h"
#include "VKUIController.h"
#include "VKUIThumbnail.h"
#include "support/TestNode.h"
#include "support/TestSupport.h"

using velmora::bridge::MovieThumbnailBytes;
using velmora::bridge::QtThumbnailer;
using velmora::bridge::ThumbnailImage;
using velmora::bridgetest::ScanSourceDouble;
using velmora::bridgetest::ScriptedController;
using velmora::test::TempDir;

namespace {

// Serves the bytes of a file on disk as a found file's data.
class FileBytesReader : public IFileReader {
public:
    explicit FileBytesReader(std::vector<uint8_t> bytes, std::vector<bool>* lockedAtRead = nullptr)
        : bytes_(std::move(bytes)), lockedAtRead_(lockedAtRead) {}
    unsigned ReadData(long long offset, char* buffer, unsigned length, int*) override {
        if (lockedAtRead_ != nullptr)
            lockedAtRead_->push_back(velmora::bridgetest::ScanTreeLockHeld());
        if (offset < 0 || static_cast<size_t>(offset) >= bytes_.size())
            return 0;
        const size_t n = std::min<size_t>(length, bytes_.size() - static_cast<size_t>(offset));
        std::memcpy(buffer, bytes_.data() + offset, n);
        return static_cast<unsigned>(n);
    }
    IFileReader* Clone() override { return new FileBytesReader(bytes_, lockedAtRead_); }
    long long GetDataSize() const override { return static_cast<long long>(bytes_.size()); }
    int IsCompressFile() override { return 0; }
    void Release() override { delete this; }

private:
    std::vector<uint8_t> bytes_;
    std::vector<bool>* lockedAtRead_;
};

class FileBytesRecovery : public IDataRecovery {
public:
    VKRESULT Initialize(IFileSystemSearchController*, IStorageDevice*) override { return 0; }
    IFileReader* SetRecoverNode(IFileNode* node) override {
        bytes_ = velmora::test::ReadFile(sources.at(node));
        if (!probeTreeLock)
            return new FileBytesReader(bytes_);
        lockedAtSelect.push_back(velmora::bridgetest::ScanTreeLockHeld());
        return new FileBytesReader(bytes_, &lockedAtRead);
    }
    VKRESULT RecoverTo(const char* path, IProgress*, int limit) override {
        if (probeTreeLock)
            lockedAtRead.push_back(velmora::bridgetest::ScanTreeLockHeld());
        written.push_back(path);
        const int fd = velmora::recovery::OpenRecoveredFile(path);
        if (fd < 0)
            return VK_ERROR(kModuleDataRecovery, kErrRecoveryOpenTarget);
        const size_t n = limit > 0 ? std::min<size_t>(limit, bytes_.size()) : bytes_.size();
        lastLimit = n;
        const bool ok = velmora::recovery::WriteAllAt(fd, bytes_.data(), n, 0);
        ::close(fd);
        return ok ? 0 : VK_ERROR(kModuleDataRecovery, kErrRecoveryWrite);
    }
    int ReadSmallJPG(char* buffer, unsigned size) override {
        if (preview.empty() || preview.size() > size)
            return 0;
        std::memcpy(buffer, preview.data(), preview.size());
        return static_cast<int>(preview.size());
    }
    void Release() override {}

    std::map<IFileNode*, std::string> sources;
    std::string preview;
    std::vector<std::string> written;
    size_t lastLimit = 0;
    // Whether the scan's tree lock was held at each selection, and at each
    // read of data (the reader's reads and the copies to a file).
    bool probeTreeLock = false;
    std::vector<bool> lockedAtSelect, lockedAtRead;

private:
    std::vector<uint8_t> bytes_;
};

class Thumbnails : public ::testing::Test {
protected:
    Thumbnails() : controller(0) {
        velmora::bridge::InstallThumbnailer(std::make_shared<QtThumbnailer>());
        scan.controller = &controller;
        scan.perRoot = [this](IFileNode*) -> IDataRecovery* { return &recovery; };
        root = std::make_unique<CFilesystemNode>("root", "Vol", SEARCHER_FAT, 1);
    }
    ~Thumbnails() override {
        nodes.clear();
        velmora::bridge::InstallThumbnailer(nullptr);
    }
    // A found file named `name` whose data is the sample file `sample`.
    IFileNode* Found(const std::string& name, const std::string& sample) {
        auto node = std::make_unique<TestNode>(static_cast<long long>(nodes.size()) + 2, 1, name);
        const std::string path = velmora::test::SourceDir() + "/tests/carve/samples/" + sample;
        struct stat st {};
        node->size = ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
        root->AddChild(node.get());
        recovery.sources[node.get()] = path;
        nodes.push_back(std::move(node));
        return nodes.back().get();
    }

    velmora::bridgetest::BridgeWorld world;
    FileBytesRecovery recovery;
    ScriptedController controller;
    ScanSourceDouble scan;
    std::unique_ptr<CFilesystemNode> root;
    std::vector<std::unique_ptr<TestNode>> nodes;
};

TEST_F(Thumbnails, RealPicturesAndAMovieAreShown) {
    struct Case {
        const char* sample;
        bool throughFile;  // a movie goes through a temporary file
    };
    const Case cases[] = {{"jfif_baseline.jpg", false},
                          {"picture.png", false},
                          {"plain_ii.tif", false},
                          {"movie.mp4", true},
                          {"raw.psd", true}};
    // Movie frames (and layered pictures without a Qt plugin) come from the
    // ffmpeg program.
    const bool ffmpeg = ::access("/usr/bin/ffmpeg", X_OK) == 0;
    for (const Case& c : cases) {
        if (c.throughFile && !VELMORA_HAVE_TOOL(ffmpeg, "ffmpeg"))
            continue;
        recovery.written.clear();
        const ThumbnailImage image = VKUIController::GetImageByFileNode(Found(c.sample, c.sample));
        ASSERT_FALSE(image.Empty()) << c.sample;
        const QImage q = QtThumbnailer::ToQImage(image);
        EXPECT_FALSE(q.isNull()) << c.sample;
        EXPECT_EQ(recovery.written.empty(), !c.throughFile) << c.sample;
        if (c.throughFile) {
            EXPECT_LE(q.width(), QtThumbnailer::kThumbnailSide);
            EXPECT_LE(q.height(), QtThumbnailer::kThumbnailSide);
        }
    }
    // A file that is not a picture is not read: it gets the theme's icon of
    // its kind (none in a headless run without an icon theme).
    recovery.written.clear();
    const ThumbnailImage icon =
        VKUIController::GetImageByFileNode(Found("notes.txt", "picture.png"));
    EXPECT_TRUE(recovery.written.empty());
    EXPECT_LE(icon.width, 64);
    EXPECT_TRUE(VKUIController::GetImageByFileNode(nullptr).Empty());
}

// The pictures load while the scan's tree builder may hand a copy's runs to
// a shown file under the scan's tree lock: each loader selects its node
// under that lock and reads the data without it.
TEST_F(Thumbnails, NodesAreTakenUnderTheTreeLockAndReadWithoutIt) {
    recovery.probeTreeLock = true;
    EXPECT_FALSE(
        VKUIController::GetImageByFileNode(Found("photo.jpg", "jfif_baseline.jpg")).Empty());
    EXPECT_FALSE(
        velmora::bridge::ReadPictureBytes(Found("picture.png", "picture.png"), {}).empty());
    // A picture through a temporary file (ffmpeg reads it).
    const bool ffmpeg = ::access("/usr/bin/ffmpeg", X_OK) == 0;
    if (VELMORA_HAVE_TOOL(ffmpeg, "ffmpeg"))
        EXPECT_FALSE(VKUIController::GetImageByFileNode(Found("raw.psd", "raw.psd")).Empty());
    ASSERT_FALSE(recovery.lockedAtSelect.empty());
    EXPECT_EQ(recovery.lockedAtSelect, std::vector<bool>(recovery.lockedAtSelect.size(), true));
    ASSERT_FALSE(recovery.lockedAtRead.empty());
    EXPECT_EQ(recovery.lockedAtRead, std::vector<bool>(recovery.lockedAtRead.size(), false));
}

TEST_F(Thumbnails, APreviewThatDoesNotDecodeFallsBackToTheWholeFile) {
    recovery.preview = std::string(4096, 'x');
    const ThumbnailImage image =
        VKUIController::GetImageByFileNode(Found("photo.jpg", "jfif_baseline.jpg"));
    ASSERT_FALSE(image.Empty());
    const QImage whole(QString::fromStdString(velmora::test::SourceDir() +
                                              "/tests/carve/samples/jfif_baseline.jpg"));
    EXPECT_EQ(QtThumbnailer::ToQImage(image).size(), whole.size());
}

TEST(ThumbnailLimits, MoviesAreReadOnlyAsFarAsTheirKindNeeds) {
    const long long MiB = 1 << 20;
    struct Case {
        const char* ext;
        long long size;
        long long written;
    };
    const Case cases[] = {
        {".avi", 50 * MiB, 50 * MiB},
        {".avi", 50 * MiB + 1, 2 * MiB},
        {".mp4", MiB, MiB},
        {".mp4", 3 * MiB, 2 * MiB},
        {".mov", 2 * MiB, 2 * MiB},
        {".m4v", 2 * MiB - 1, 2 * MiB - 1},
        {".mkv", MiB, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MovieThumbnailBytes(c.ext, c.size), c.written) << c.ext << " " << c.size;
}

// The temporary file of a thumbnail is made in a private folder under a
// random name that keeps nothing of the found file's name but a plain
// extension; a link planted where one was is never followed.
TEST_F(Thumbnails, TemporaryFilesArePrivateAndNeverFollowLinks) {
    TempDir outside;
    const std::string victim = outside / "victim";
    velmora::test::WriteFile(victim, std::string("keep"));
    IFileNode* hostile = Found("../../x/evil name.mp4", "movie.mp4");
    VKUIController::GetVideoThumb(hostile);
    ASSERT_EQ(recovery.written.size(), 1u);
    const std::string first = recovery.written.front();
    const std::string folder = first.substr(0, first.rfind('/'));
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    const std::string base = first.substr(first.rfind('/') + 1);
    EXPECT_EQ(base.find("evil"), std::string::npos) << base;
    EXPECT_EQ(base.substr(base.size() - 4), ".mp4");
    // The file is gone after use.
    EXPECT_NE(::lstat(first.c_str(), &st), 0);

    // A link planted at the old place, and then more thumbnails.
    ASSERT_EQ(::symlink(victim.c_str(), first.c_str()), 0);
    for (int i = 0; i < 3; ++i)
        VKUIController::GetVideoThumb(hostile);
    EXPECT_EQ(velmora::test::ReadText(victim), "keep");
    ::unlink(first.c_str());
    // Odd extensions are not carried over.
    for (const char* ext : {"/../../x", ".a/b", ".\x01", ".verylongextension"}) {
        const std::string path = velmora::bridge::MakeThumbnailTempFile(ext);
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(path.substr(0, folder.size() + 1), folder + "/") << path;
        EXPECT_EQ(path.find('.', folder.size()), std::string::npos) << path;
        ::unlink(path.c_str());
    }
}

// Several picture threads loading large pictures at once hold no more than
// the one shared limit between them; a load waiting for room hears its stop.
TEST_F(Thumbnails, PictureLoadsShareOneMemoryLimit) {
    // Pictures of the largest decoded size whose reads are slow enough that
    // every thread is reading at once unless the limit holds them back.
    struct Held {
        std::atomic<long long> now{0};
        std::atomic<long long> most{0};
    } held;
    class SlowReader : public IFileReader {
    public:
        explicit SlowReader(Held* held) : held_(held) {}
        unsigned ReadData(long long offset, char* buffer, unsigned length, int*) override {
            // The first piece is read once the picture's bytes are allocated.
            if (offset == 0 && !reading_) {
                reading_ = true;
                const long long now = held_->now += velmora::bridge::kMaxDecodedPictureBytes;
                long long most = held_->most.load();
                while (now > most && !held_->most.compare_exchange_weak(most, now)) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
            std::memset(buffer, 0, length);
            return length;
        }
        IFileReader* Clone() override { return new SlowReader(held_); }
        long long GetDataSize() const override { return velmora::bridge::kMaxDecodedPictureBytes; }
        int IsCompressFile() override { return 0; }
        void Release() override {
            if (reading_)
                held_->now -= velmora::bridge::kMaxDecodedPictureBytes;
            delete this;
        }

    private:
        Held* held_;
        bool reading_ = false;
    };
    class SlowRecovery : public FileBytesRecovery {
    public:
        explicit SlowRecovery(Held* held) : held_(held) {}
        IFileReader* SetRecoverNode(IFileNode*) override { return new SlowReader(held_); }

    private:
        Held* held_;
    } slow(&held);
    scan.perRoot = [&slow](IFileNode*) -> IDataRecovery* { return &slow; };
    std::vector<IFileNode*> pictures;
    for (int i = 0; i < 4; ++i) {
        IFileNode* node = Found("big" + std::to_string(i) + ".jpg", "jfif_baseline.jpg");
        static_cast<TestNode*>(node)->size = velmora::bridge::kMaxDecodedPictureBytes;
        pictures.push_back(node);
    }
    std::vector<std::thread> threads;
    std::atomic<int> whole{0};
    for (IFileNode* node : pictures) {
        threads.emplace_back([node, &whole] {
            const auto bytes = velmora::bridge::ReadPictureBytes(node, nullptr);
            if (static_cast<long long>(bytes.size()) == velmora::bridge::kMaxDecodedPictureBytes)
                ++whole;
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(whole.load(), 4);
    EXPECT_LE(held.most.load(), velmora::bridge::kPictureMemoryLimit);
    EXPECT_EQ(velmora::bridge::PictureMemoryInUse(), 0);

    // A load that waits for room gives up when it is stopped.
    std::atomic<bool> stop{false};
    std::thread first([&] { velmora::bridge::ReadPictureBytes(pictures[0], nullptr); });
    std::thread second([&] { velmora::bridge::ReadPictureBytes(pictures[1], nullptr); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto stopped =
        velmora::bridge::ReadPictureBytes(pictures[2], [&stop] { return stop.exchange(true); });
    EXPECT_TRUE(stopped.empty());
    first.join();
    second.join();
    EXPECT_EQ(velmora::bridge::PictureMemoryInUse(), 0);
}

// ffmpeg reads bytes of the scanned disk: it is told the format by the
// file's kind (and not run for other kinds), may open plain files only, and
// runs as the invoking user or "nobody" when the program is root. A
// stand-in ffmpeg records who it runs as, its arguments and whether it can
// read the file it is given.
TEST(MovieFrames, FfmpegIsToldTheFormatAndRunsWithoutRoot) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string log = dir / "log";
    velmora::test::WriteFile(log, std::string());
    ASSERT_EQ(::chmod(log.c_str(), 0666), 0);
    const std::string fake = dir / "ffmpeg";
    velmora::test::WriteFile(fake,
                             "#!/bin/sh\n"
                             "{ id -u; for a in \"$@\"; do case $a in\n"
                             "  file:*) head -c 5 \"${a#file:}\"; echo;;\n"
                             "esac; echo \"$a\"; done; } >> " +
                                 log + "\nexit 1\n");
    ASSERT_EQ(::chmod(fake.c_str(), 0755), 0);
    velmora::test::ScopedEnv sudo("SUDO_UID", nullptr);
    velmora::test::ScopedEnv pkexec("PKEXEC_UID", nullptr);
    struct Case {
        const char* name;
        const char* format;  // null: ffmpeg is not run
    } const cases[] = {{"a.MP4", "mov"},       {"b.avi", "avi"},   {"c.psd", "psd_pipe"},
                       {"d.cr2", "tiff_pipe"}, {"e.txt", nullptr}, {"noext", nullptr}};
    QtThumbnailer thumbnailer(QString::fromStdString(fake));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir files;  // private, as the thumbnails' folder is
        const std::string movie = files / c.name;
        velmora::test::WriteFile(movie, std::string("HELLO, not a movie"));
        ASSERT_EQ(::chmod(movie.c_str(), 0600), 0);
        ASSERT_EQ(::truncate(log.c_str(), 0), 0);
        EXPECT_TRUE(thumbnailer.ThumbnailOfFile(movie).Empty());
        const std::string seen = velmora::test::ReadText(log);
        if (c.format == nullptr) {
            EXPECT_EQ(seen, "");
            continue;
        }
        const std::string expectedUser = ::geteuid() == 0 ? "65534\n" : "";
        EXPECT_EQ(seen.substr(0, expectedUser.size()), expectedUser) << seen;
        EXPECT_NE(seen.find(std::string("\n-protocol_whitelist\nfile\n-f\n") + c.format + "\n-i\n"),
                  std::string::npos)
            << seen;
        // It could read the file it was given, and nothing names its path.
        EXPECT_NE(seen.find("HELLO\nfile:/proc/self/fd/"), std::string::npos) << seen;
        EXPECT_EQ(seen.find(files.path()), std::string::npos) << seen;
    }
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
