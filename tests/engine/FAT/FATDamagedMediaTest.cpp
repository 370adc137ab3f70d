// Quick scans and recovery of damaged FAT volumes, as a user brings them:
// every case is a small image made by mkfs.fat and mtools and then damaged
// where the case says (make_damaged_fat.py), or a fixture read through the
// faulty-device double. What comes back is checked byte by byte, and every
// loss must be reported, never passed off as data.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "FATDBR.h"
#include "FATQuickSearch.h"
#include "FatQuickScanHarness.h"
#include "FatTools.h"
#include "RecoveryOutput.h"
#include "Utility/MessageCenter.h"
#include "platform/RawIo.h"
#include "support/TestSupport.h"

using namespace velmora::fattest;
using velmora::test::ReadFile;
using velmora::test::TempDir;

namespace {

class FatDamagedMedia : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"mkfs.fat", "mcopy", "mmd", "mdel", "python3"})
            if (!HaveTool(tool))
                GTEST_SKIP() << tool << " is not installed (dosfstools, mtools, python3)";
        setenv("TZ", "UTC", 1);
        tzset();
    }

    // Makes the scenario's image; its path.
    std::string Make(const std::string& scenario) {
        std::string out;
        EXPECT_EQ(RunScript("make_damaged_fat.py", {scenario, m_dir.path()}, &out), 0) << out;
        std::ifstream in(m_dir / (scenario + ".facts"));
        for (std::string line; std::getline(in, line);) {
            const size_t space = line.find(' ');
            if (space != std::string::npos)
                m_facts[line.substr(0, space)] = line.substr(space + 1);
        }
        return m_dir / (scenario + ".img");
    }
    std::vector<uint8_t> Want(const std::string& scenario, const std::string& path) {
        return ReadFile(m_dir / (scenario + ".want" + path));
    }
    long long Fact(const std::string& key) { return std::stoll(m_facts.at(key)); }

    RecoveredFile Recover(QuickScan& scan, IFileNode* node, const std::string& name) {
        return RecoverOne(node, scan.device.get(), scan.searcher.get(), m_dir / name);
    }

    TempDir m_dir;
    std::map<std::string, std::string> m_facts;
};

bool IsDamaged(IFileNode* node) {
    return static_cast<CFileNode*>(node)->IsDamaged() != 0;
}

}  // namespace

// A loop in clusters no file of interest uses no longer costs the FAT: the
// fragmented file comes back right, and only the file whose chain runs into
// the loop is incomplete, and says so.
TEST_F(FatDamagedMedia, LoopInTheFatCostsOnlyTheFileThatUsesIt) {
    QuickScan scan(Make("fat-loop"), FS_FAT32);
    ASSERT_EQ(scan.Run(), VK_OK);
    const auto files = scan.Files();
    ASSERT_TRUE(files.count("/FRAG.BIN"));
    ASSERT_TRUE(files.count("/LOOPED.BIN"));

    IFileNode* frag = files.at("/FRAG.BIN");
    EXPECT_FALSE(IsDamaged(frag));
    const RecoveredFile fragBack = Recover(scan, frag, "FRAG.BIN");
    EXPECT_EQ(fragBack.result, VK_OK);
    EXPECT_EQ(fragBack.bytes, Want("fat-loop", "/FRAG.BIN"));

    IFileNode* looped = files.at("/LOOPED.BIN");
    EXPECT_TRUE(IsDamaged(looped));
    const RecoveredFile loopBack = Recover(scan, looped, "LOOPED.BIN");
    EXPECT_TRUE(ResultIs(loopBack.result, kModuleDataRecovery, kErrRecoveryIncomplete));
    EXPECT_EQ(loopBack.bytes, Want("fat-loop", "/LOOPED.BIN"));
    const long long kept = Fact("loopedKept");
    EXPECT_EQ(loopBack.lost, (std::vector<LostRange>{{kept, Fact("loopedSize") - kept}}));
}

// A folder whose first sector cannot be read is still shown, marked, the
// bad sector reaches the interface as a bad-sector event, and every file
// listed in its readable sectors comes back whole.
TEST_F(FatDamagedMedia, FolderWithAnUnreadableFirstSectorIsShownAndRead) {
    const std::string image = Make("many");
    struct Counter : INotifyCenter {
        std::atomic<int> bad{0};
        void Notify(_MSG_EVENT* e) override {
            if (e->type == kEventSectorReadFailed)
                ++bad;
        }
    } counter;
    CMessageCenter* relay = CMessageCenter::Instance();
    relay->SetDeliveryInterval(std::chrono::milliseconds(2));
    ASSERT_TRUE(relay->RegisterNotifyCenter(77, &counter));
    // The receiver lives on this stack: it leaves the relay however the
    // test ends.
    struct Unregister {
        CMessageCenter* relay;
        ~Unregister() {
            relay->StopReceiveMessage();
            relay->UnregisterNotifyCenter(77);
            relay->SetDeliveryInterval(std::chrono::milliseconds(1000));
        }
    } unregister{relay};
    relay->StartReceiveMessage();

    std::map<std::string, IFileNode*> files;
    {
        QuickScan scan(image, FS_FAT16);
        velmora::platform::FaultyRawIo faulty;
        faulty.FailRange(Fact("folderSector") * 512, 512);
        velmora::platform::ScopedRawIo scoped(&faulty);
        EXPECT_EQ(scan.Run(), VK_OK);
        files = scan.Files(true);
        ASSERT_TRUE(files.count("/Many"));
        EXPECT_TRUE(IsDamaged(files.at("/Many")));
        int found = 0;
        for (int i = 0; i < 30; ++i) {
            char path[64];
            std::snprintf(path, sizeof path, "/Many/file number %02d.txt", i);
            if (!files.count(path))
                continue;
            ++found;
            const RecoveredFile back = Recover(scan, files.at(path), "f" + std::to_string(i));
            EXPECT_EQ(back.result, VK_OK) << path;
            EXPECT_EQ(back.bytes, Want("many", path)) << path;
        }
        // 30 files of two entries each fill four sectors of entries; the
        // first held the dot entries and seven files.
        EXPECT_GE(found, 20);
        EXPECT_LT(found, 30);
    }
    for (int i = 0; i < 500 && counter.bad == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    relay->StopReceiveMessage();
    EXPECT_GE(counter.bad, 1);
}

// One flipped byte made a deleted photo claim almost 3 GB on a 32 MiB
// volume: its size is cut to what the volume can hold, its real bytes are
// all there, and the rest is reported lost.
TEST_F(FatDamagedMedia, SizeTheVolumeCannotHoldIsCutAndReported) {
    QuickScan scan(Make("size-flip"), FS_FAT16);
    ASSERT_EQ(scan.Run(), VK_OK);
    const auto files = scan.Files();
    ASSERT_TRUE(files.count("/#HOTO.JPG"));
    IFileNode* photo = files.at("/#HOTO.JPG");
    EXPECT_TRUE(IsDamaged(photo));
    const long long claimed = Fact("claimed");
    EXPECT_EQ(static_cast<CFileNode*>(photo)->GetClaimedSize(), claimed);
    const long long size = photo->GetFileSize();
    EXPECT_LT(size, 32LL << 20);
    EXPECT_GE(size, Fact("size"));
    const RecoveredFile back = Recover(scan, photo, "photo.jpg");
    EXPECT_TRUE(ResultIs(back.result, kModuleDataRecovery, kErrRecoveryIncomplete));
    ASSERT_EQ(back.bytes.size(), static_cast<size_t>(size));
    const std::vector<uint8_t> want = Want("size-flip", "/_HOTO.JPG");
    EXPECT_TRUE(std::equal(want.begin(), want.end(), back.bytes.begin()));
    EXPECT_EQ(back.lost, (std::vector<LostRange>{{size, claimed - size}}));
}

// The same flipped byte in a live entry: the size is cut to what the volume
// can hold, the size it claimed is kept, the file is marked damaged, and its
// recovery gives back every real byte and reports the rest up to the claim
// as lost.
TEST_F(FatDamagedMedia, LiveSizeTheVolumeCannotHoldIsCutAndReported) {
    QuickScan scan(Make("size-flip-live"), FS_FAT16);
    ASSERT_EQ(scan.Run(), VK_OK);
    const auto files = scan.Files();
    ASSERT_TRUE(files.count("/PHOTO.JPG"));
    IFileNode* photo = files.at("/PHOTO.JPG");
    EXPECT_FALSE(photo->IsDeleted());
    EXPECT_TRUE(IsDamaged(photo));
    const long long claimed = Fact("claimed");
    EXPECT_EQ(static_cast<CFileNode*>(photo)->GetClaimedSize(), claimed);
    const long long size = photo->GetFileSize();
    ASSERT_LT(size, 32LL << 20);
    EXPECT_GE(size, Fact("size"));
    const RecoveredFile back = Recover(scan, photo, "photo.jpg");
    EXPECT_TRUE(ResultIs(back.result, kModuleDataRecovery, kErrRecoveryIncomplete));
    ASSERT_EQ(back.bytes.size(), static_cast<size_t>(size));
    const std::vector<uint8_t> want = Want("size-flip-live", "/PHOTO.JPG");
    EXPECT_TRUE(std::equal(want.begin(), want.end(), back.bytes.begin()));
    // Past the chain's end nothing is the file's: one range from there to
    // the claimed end.
    ASSERT_EQ(back.lost.size(), 1u);
    EXPECT_GE(back.lost[0].offset, Fact("size"));
    EXPECT_EQ(back.lost[0].offset + back.lost[0].length, claimed);
}

// A name of 127 emoji: every pair of surrogates comes back, also the ones
// split across two long-name pieces.
TEST_F(FatDamagedMedia, NamesOutsideTheBasicPlaneComeBackWhole) {
    QuickScan scan(Make("emoji"), FS_FAT16);
    ASSERT_EQ(scan.Run(), VK_OK);
    const std::string name = m_facts.at("name");
    ASSERT_EQ(name.size(), 127u * 4);
    const auto files = scan.Files();
    ASSERT_TRUE(files.count("/" + name));
    const RecoveredFile back = Recover(scan, files.at("/" + name), "emoji.bin");
    EXPECT_EQ(back.result, VK_OK);
    EXPECT_EQ(back.bytes, Want("emoji", "/emoji.bin"));
}

// Two files named with the same 255 characters in one folder, and one whose
// UTF-8 name passes 255 bytes: all come back into one folder, each with its
// extension, none lost to a name that cannot be opened.
TEST_F(FatDamagedMedia, LongNamesThatMeetComeBackSideBySide) {
    QuickScan scan(Make("long-names"), FS_FAT16);
    ASSERT_EQ(scan.Run(), VK_OK);
    const auto files = scan.Files();
    const std::string same = m_facts.at("same");
    const std::string wide = m_facts.at("wide");
    std::vector<IFileNode*> nodes;
    for (const auto& [path, node] : files)
        if (path == "/Same/" + same || path == "/Same/" + wide)
            nodes.push_back(node);
    // The live and the deleted file of one name are two nodes of one path.
    int sameCount = 0;
    for (IFileNode* n : scan.tree.shown)
        if (!n->IsDirectory() && n->GetFileName() && same == n->GetFileName())
            ++sameCount;
    ASSERT_EQ(sameCount, 2);

    TempDir dest;
    velmora::recovery::RecoveryPathBuilder paths(dest.path(), "Recovered Data2024-01-02");
    IDataRecovery* recovery = CreateDataRecoveryObj();
    ASSERT_EQ(recovery->Initialize(scan.searcher.get(), scan.device.get()), VK_OK);
    std::set<std::vector<uint8_t>> written;
    std::set<std::string> names;
    for (IFileNode* n : scan.tree.shown) {
        if (n->IsDirectory())
            continue;
        const std::string path = paths.PathFor(n);
        ASSERT_NE(path, "") << n->GetFileName();
        IFileReader* reader = recovery->SetRecoverNode(n);
        ASSERT_NE(reader, nullptr);
        reader->Release();
        EXPECT_EQ(recovery->RecoverTo(path.c_str(), nullptr, 0), VK_OK) << path;
        const std::string leaf = path.substr(path.rfind('/') + 1);
        EXPECT_LE(leaf.size(), 255u);
        EXPECT_EQ(leaf.substr(leaf.size() - 4), ".txt");
        names.insert(leaf);
        written.insert(ReadFile(path));
    }
    recovery->Release();
    EXPECT_EQ(names.size(), 3u);
    EXPECT_EQ(written, (std::set<std::vector<uint8_t>>{Want("long-names", "/first"),
                                                       Want("long-names", "/second"),
                                                       Want("long-names", "/wide")}));
}

// FAT16 keeps no second boot sector: one damaged byte of its type text must
// not cost the volume. The cluster count names the type.
TEST_F(FatDamagedMedia, Fat16WithADamagedTypeTextIsStillRead) {
    const std::string image = Make("type-text");
    QuickScan scan(image, FS_FAT16);
    std::unique_ptr<IVolumeAnalyze> analyze(CreateFatVolumeAnalyze(scan.device.get(), 0));
    EXPECT_EQ(analyze->GetFileSystemType(), FS_FAT16);
    char label[16] = {};
    analyze->GetLabel(label, sizeof label);
    EXPECT_STREQ(label, "VOL16");
    ASSERT_EQ(scan.Run(), VK_OK);
    const auto files = scan.Files();
    ASSERT_TRUE(files.count("/Docs/report.pdf"));
    const RecoveredFile back = Recover(scan, files.at("/Docs/report.pdf"), "report.pdf");
    EXPECT_EQ(back.result, VK_OK);
    EXPECT_EQ(back.bytes, Want("type-text", "/Docs/report.pdf"));
}
