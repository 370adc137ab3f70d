// The cover flow's picture loader: which items it loads, that pictures
// land on the main thread only for items still shown, and that stopping it
// gives up a slow read and joins its thread.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <atomic>
#include <thread>

#include "BrowserFixture.h"

using namespace velmora::browser;
using browser_test::Folder;
using browser_test::RunUntil;
using browser_test::SourceOf;
using velmora::seam::FakeBridge;

namespace {

// The items showing a picture of their own.
std::vector<qint64> LoadedItems(const VKPhotoLoader& loader) {
    std::vector<qint64> loaded;
    for (size_t k = 0; k < loader.photos().size(); ++k) {
        if (!loader.photos()[k].isPlaceholder() && !loader.photos()[k].isTypeIcon())
            loaded.push_back(static_cast<qint64>(k));
    }
    return loaded;
}

void RunToTheEnd(VKPhotoLoader& loader) {
    QSignalSpy finished(&loader, &VKPhotoLoader::finished);
    ASSERT_TRUE(RunUntil([&] { return finished.count() > 0; }));
    QCoreApplication::processEvents();
}

}  // namespace

TEST(CoverFlowLoadWindow, HundredItemsEachSideOrAllOfASmallFolder) {
    const struct {
        qint64 index, count;
        LoadWindow expected;
    } cases[] = {
        {250, 1000, {150, 350}},    {0, 1000, {0, 100}}, {999, 1000, {899, 1000}},
        {50, 1000, {0, 150}},       {5, 10, {0, 10}},    {0, 11, {0, 11}},
        {3, 200, {0, 103}},         {0, 0, {0, 0}},      {-1, 1000, {0, 99}},
        {1200, 1000, {1000, 1000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.index << " of " << c.count);
        const LoadWindow window = CoverFlowLoadWindow(c.index, c.count);
        EXPECT_EQ(window.first, c.expected.first);
        EXPECT_EQ(window.end, c.expected.end);
    }
}

TEST(PhotoLoader, LoadsTheWindowAroundTheSelectionAndNothingElse) {
    FakeBridge bridge;
    Folder folder(bridge, 1000, "", {200, 300});
    VKPhotoLoader loader(SourceOf(bridge));
    loader.setNodes(folder.nodes);
    loader.start(250);
    RunToTheEnd(loader);
    EXPECT_EQ(loader.state(), kLoaderStopped);
    // Items 150 to 349 were asked for, the two without a picture show their
    // type's icon (never "Loading..." for ever), and nothing outside the
    // window was read.
    EXPECT_EQ(bridge.pictureReads.load(), 198);
    const std::vector<qint64> loaded = LoadedItems(loader);
    ASSERT_EQ(loaded.size(), 198u);
    EXPECT_EQ(loaded.front(), 150);
    EXPECT_EQ(loaded.back(), 349);
    for (size_t k : {200u, 300u}) {
        const Photo& icon = loader.photos()[k];
        EXPECT_FALSE(icon.isPlaceholder()) << k;
        EXPECT_EQ(icon.imageUID(), QStringLiteral("icon:3IconImage")) << k;
        EXPECT_FALSE(icon.imageRepresentation().isNull()) << k;
        EXPECT_EQ(icon.imageVersion(), 1) << k;
    }
    // A loaded item: its picture, its file's name, a fresh identifier and a
    // new version; identifiers are unique.
    const Photo& photo = loader.photos()[250];
    EXPECT_FALSE(photo.imageRepresentation().isNull());
    EXPECT_EQ(photo.imageTitle(), QStringLiteral("250.jpg"));
    EXPECT_EQ(photo.imageVersion(), 1);
    EXPECT_NE(photo.imageUID(), loader.photos()[251].imageUID());

    // Selecting next to it reads only what is not loaded yet, and lets go of
    // the pictures that left the window.
    loader.start(260);
    RunToTheEnd(loader);
    EXPECT_EQ(bridge.pictureReads.load(), 198 + 10);
    const std::vector<qint64> moved = LoadedItems(loader);
    EXPECT_EQ(moved.front(), 160);
    EXPECT_EQ(moved.back(), 359);
    EXPECT_TRUE(loader.photos()[150].imageRepresentation().isNull());
}

// Files that cannot have a picture show the icon of their kind.
TEST(PhotoLoader, TypeIconsFollowTheFilesKind) {
    const struct {
        const char* name;
        const char* icon;
    } cases[] = {
        {"song.wav", "5IconImage"}, {"tune.MP3", "5IconImage"},   {"clip.mp4", "4IconImage"},
        {"trip.mov", "4IconImage"}, {"photo.jpg", "3IconImage"},  {"report.pdf", "2IconImage"},
        {"note.txt", "2IconImage"}, {"bundle.zip", "6IconImage"}, {"no extension", "8IconImage"},
        {"", "8IconImage"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileTypeIconName(QString::fromUtf8(c.name)), QString::fromLatin1(c.icon))
            << c.name;
}

TEST(PhotoLoader, EveryItemOfASmallFolderGetsItsPicture) {
    const struct {
        const char* what;
        int count;
        qint64 selected;
    } cases[] = {
        {"empty folder", 0, 0},
        {"one picture", 1, 0},
        {"ten pictures, the last selected", 10, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeBridge bridge;
        Folder folder(bridge, c.count);
        VKPhotoLoader loader(SourceOf(bridge));
        loader.setNodes(folder.nodes);
        loader.start(c.selected);
        RunToTheEnd(loader);
        EXPECT_EQ(LoadedItems(loader).size(), static_cast<size_t>(c.count));
        EXPECT_EQ(loader.state(), kLoaderStopped);
    }
}

TEST(PhotoLoader, LatePicturesForItemsNoLongerShownAreDropped) {
    enum class Change { NewFolder, FarSelection };
    for (Change change : {Change::NewFolder, Change::FarSelection}) {
        SCOPED_TRACE(change == Change::NewFolder ? "new folder" : "far selection");
        FakeBridge bridge;
        Folder first(bridge, 1000);
        Folder second(bridge, 1000, "other-");
        VKPhotoLoader loader(SourceOf(bridge));
        loader.setNodes(first.nodes);
        loader.start(0);
        // The thread ends with its pictures still on their way to the main
        // thread.
        while (loader.state() == kLoaderRunning)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (change == Change::NewFolder) {
            loader.setNodes(second.nodes);
        } else {
            loader.start(900);
            loader.stop();
        }
        QCoreApplication::processEvents();
        for (qint64 k = 0; k < 100; ++k)
            ASSERT_TRUE(loader.photos()[static_cast<size_t>(k)].isPlaceholder()) << k;
    }
}

TEST(PhotoLoader, StoppingGivesUpASlowReadAndJoinsTheThread) {
    enum class How { Stop, NewFolder, NewSelection, Destruction };
    for (How how : {How::Stop, How::NewFolder, How::NewSelection, How::Destruction}) {
        SCOPED_TRACE(static_cast<int>(how));
        FakeBridge bridge;
        // A device so slow that only giving up lets the test end in time.
        bridge.pictureDelay = std::chrono::seconds(10);
        Folder folder(bridge, 50);
        std::atomic<int> inFlight{0};
        auto source = [&](const OpNodePtr& node, std::stop_token stop) {
            ++inFlight;
            auto bytes = bridge.GetNSImageByNode(node, stop);
            --inFlight;
            return bytes;
        };
        {
            VKPhotoLoader loader(source);
            loader.setNodes(folder.nodes);
            loader.start(0);
            while (bridge.pictureReads.load() == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            switch (how) {
                case How::Stop:
                    loader.stop();
                    break;
                case How::NewFolder:
                    loader.setNodes({});
                    break;
                case How::NewSelection:
                    loader.start(10);
                    loader.stop();
                    break;
                case How::Destruction:
                    break;
            }
            if (how != How::Destruction) {
                EXPECT_EQ(inFlight.load(), 0);
                EXPECT_EQ(loader.state(), kLoaderStopped);
            }
        }
        // No read outlives the loader.
        EXPECT_EQ(inFlight.load(), 0);
        EXPECT_EQ(bridge.pictureReadsGivenUp.load(), bridge.pictureReads.load());
    }
}

TEST(PhotoLoader, StopOfALoaderNeverStartedOrFinishedReturnsAtOnce) {
    FakeBridge bridge;
    Folder folder(bridge, 3);
    VKPhotoLoader loader(SourceOf(bridge));
    EXPECT_EQ(loader.state(), kLoaderNeverStarted);
    loader.stop();
    EXPECT_EQ(loader.state(), kLoaderNeverStarted);
    loader.setNodes(folder.nodes);
    loader.start(1);
    RunToTheEnd(loader);
    loader.stop();
    EXPECT_EQ(loader.state(), kLoaderStopped);
}

// The state word is read by the window while the loader thread writes it.
TEST(PhotoLoaderThreads, StateIsReadSafelyWhileLoadersStartAndStop) {
    FakeBridge bridge;
    Folder folder(bridge, 40);
    VKPhotoLoader loader(SourceOf(bridge));
    loader.setNodes(folder.nodes);
    std::atomic<bool> done{false};
    std::atomic<int> seenRunning{0};
    std::thread watcher([&] {
        while (!done.load()) {
            if (loader.state() == kLoaderRunning)
                ++seenRunning;
        }
    });
    for (int round = 0; round < 30; ++round) {
        loader.start(round % 40);
        if (round % 3 == 0)
            loader.stop();
        QCoreApplication::processEvents();
    }
    loader.stop();
    done = true;
    watcher.join();
    EXPECT_EQ(loader.state(), kLoaderStopped);
    QCoreApplication::processEvents();
}
