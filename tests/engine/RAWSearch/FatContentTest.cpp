// The FAT walk puts back the cleared high word of a deleted FAT32 entry's
// first cluster by asking the signature search whether a candidate cluster
// starts a file. With the real analysers behind that question, every
// deleted file of the fixture lands on its true cluster and reads back whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "DataRun.h"
#include "EngineServices.h"
#include "FATQuickSearch.h"
#include "RawSearchController.h"
#include "RawTestSupport.h"
#include "RecoveryInterfaces.h"
#include "SearcherRow.h"
#include "StorageDeviceData.h"
#include "StorageDevices.h"
#include "support/PlannedSearcherRows.h"
#include "support/TestSupport.h"

namespace {

using velmora::test::RunProgram;
using velmora::test::ScopedSearcherRows;
using velmora::test::TempDir;

// A file-start test answering through a function.
class FileStart final : public IFileStartService {
public:
    explicit FileStart(int (*test)(const unsigned char*, unsigned)) : test_(test) {}
    int TestFileStart(const unsigned char* sector, unsigned length) override {
        return test_(sector, length);
    }

private:
    int (*test_)(const unsigned char*, unsigned);
};

// The only rows: one providing the file-start test (null: none at all).
std::vector<SearcherRow> ProvidingFileStart(IFileStartService* service) {
    SearcherRow provider;
    provider.name = "file-start test";
    provider.fileStart = service;
    return {provider};
}

FileStart g_signatureSearch(&RawSearchTestFileStart);
FileStart g_knowsNothing([](const unsigned char*, unsigned) { return 0; });

struct Expected {
    unsigned long long cluster;
    std::string sha256;
};

class FatContent : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("TZ", "UTC", 1);
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        tzset();
        s_dir = new TempDir();
        std::string out;
        s_ok = RunProgram(
            {"sh", velmora::test::SourceDir() + "/tests/fixtures/fat/make.sh", s_dir->path()},
            &out);
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override {
        if (!s_ok)
            GTEST_SKIP() << "the FAT fixtures cannot be made here (mkfs.fat, mtools, python3)";
    }

    // Deleted files whose first cluster lies above the first 64 Ki clusters:
    // the ones whose high word was cleared.
    static std::map<std::string, Expected> ClearedFiles(const std::string& manifest) {
        static const char* kList =
            "import json,sys\n"
            "for v in json.load(open(sys.argv[1]))['volumes']:\n"
            "  for f in v['files']:\n"
            "    if f['state']=='deleted' and f['type']=='file' and "
            "f.get('first_cluster',0)>=0x10000:\n"
            "      print('%s\\t%d\\t%s' % (f['path'].lstrip('/'), f['first_cluster'], "
            "f['sha256']))\n";
        std::string out;
        std::map<std::string, Expected> files;
        if (!RunProgram({"python3", "-c", kList, manifest}, &out))
            return files;
        std::istringstream lines(out);
        std::string path, cluster, sha;
        while (std::getline(lines, path, '\t') && std::getline(lines, cluster, '\t') &&
               std::getline(lines, sha))
            files[path] = {std::stoull(cluster), sha};
        return files;
    }

    struct Found {
        unsigned long long cluster;
        std::string sha256;
    };
    // Quick-scans the image and recovers every deleted file it shows.
    std::map<std::string, Found> Scan(const std::string& image) {
        std::map<std::string, Found> found;
        std::unique_ptr<IStorageDevice> device(CreateVolumeDevice(image.c_str()));
        if (!device || device->Open(nullptr) == 0)
            return found;
        auto* record = new CCollectedVolumeDeviceInfoStruct{};
        record->fileSystemType = FS_FAT32;
        record->sectorSize = 512;
        record->totalSectors = device->GetTotalSectors();
        record->partitionNumber = -1;
        device->SetPrivateData(CreateVolumeDeviceData(record));
        rawtest::RecordingBuilder builder;
        rawtest::SwitchProgress progress;
        std::unique_ptr<IQuickFileSystemSearchController> searcher(CreateFATQuickSearcher());
        searcher->SetDirecotryTreeBuilder(&builder);
        if (ResultFailed(searcher->QuickSearchFiles(device.get(), &progress)))
            return found;
        IDataRecovery* recovery = CreateDataRecoveryObj();
        recovery->Initialize(searcher.get(), device.get());
        TempDir out;
        int n = 0;
        for (IFileNode* node : builder.Files()) {
            if (!node->IsDeleted() || node->GetFileSize() == 0)
                continue;
            auto* fileNode = dynamic_cast<CFileNode*>(node);
            const DataRun* run = fileNode && fileNode->GetDataRunList()
                                     ? fileNode->GetDataRunList()->GetFirst()
                                     : nullptr;
            if (run == nullptr)
                continue;
            const std::string folder = builder.FolderPath(node);
            const std::string path = (folder.empty() ? "" : folder + "/") + node->GetFileName();
            const std::string copy = out / std::to_string(n++);
            std::string sha;
            IFileReader* reader = recovery->SetRecoverNode(node);
            if (reader != nullptr && !ResultFailed(recovery->RecoverTo(copy.c_str(), nullptr, 0)) &&
                RunProgram({"sha256sum", copy}, &sha))
                sha = sha.substr(0, 64);
            if (reader != nullptr)
                reader->Release();
            found[path] = {static_cast<unsigned long long>(run->start) + 2, sha};
        }
        recovery->Release();
        return found;
    }

    static inline TempDir* s_dir = nullptr;
    static inline bool s_ok = false;
};

TEST_F(FatContent, ClearedHighWordsComeBackThroughTheFileStartTest) {
    const std::string image = s_dir->path() + "/fat/fat32_hiclear.img";
    const auto expected = ClearedFiles(s_dir->path() + "/fat/fat32_hiclear.json");
    ASSERT_GE(expected.size(), 3u);

    const ScopedSearcherRows rows(ProvidingFileStart(&g_signatureSearch));
    const auto found = Scan(image);
    for (const auto& [path, want] : expected) {
        ASSERT_TRUE(found.count(path)) << path;
        EXPECT_EQ(found.at(path).cluster, want.cluster) << path;
        EXPECT_EQ(found.at(path).sha256, want.sha256) << path;
    }
}

// A volume where only the content can tell: deleted pictures and other
// carvable files above cluster 0x10000, one of them listed in the root
// folder's second cluster, which the walk reads with no cluster expected.
TEST_F(FatContent, OnlyTheContentPlacesSomeFiles) {
    if (!RunProgram({"sh", "-c", "command -v mkfs.fat && command -v mcopy"}))
        GTEST_SKIP() << "mkfs.fat and mtools are needed";
    TempDir dir;
    const std::string img = dir / "vol.img";
    const std::string samples = velmora::test::SourceDir() + "/tests/carve/samples/";
    ASSERT_TRUE(RunProgram(
        {"mkfs.fat", "-C", "-F", "32", "-s", "1", "-i", "1234ABCD", "-n", "CARVE", img, "49152"}));
    velmora::test::WriteFile(dir / "filler.bin", std::vector<uint8_t>(33u << 20, 'F'));
    auto mcopy = [&](const std::string& from, const std::string& to) {
        return RunProgram({"mcopy", "-i", img, from, "::/" + to});
    };
    ASSERT_TRUE(mcopy(dir / "filler.bin", "FILLER.BIN"));
    const char* kept[] = {"jfif_baseline.jpg", "image.bmp",    "tone.au",   "icon.ico",
                          "gray.jpg",          "archive.cab",  "help.chm",  "drawing.emf",
                          "pointer.cur",       "v5.bmp",       "word2.doc", "winhelp.hlp",
                          "paint.cpt",         "dqt_first.jpg"};
    for (const char* name : kept)
        ASSERT_TRUE(mcopy(samples + name, std::string("keep_") + name));
    const char* gone[] = {"exif_camera.jpg", "jfif_progressive.jpg", "image.icns", "eoi_split.jpg"};
    for (const char* name : gone)
        ASSERT_TRUE(mcopy(samples + name, std::string("gone_") + name));
    for (const char* name : gone)
        ASSERT_TRUE(RunProgram({"mdel", "-i", img, std::string("::/gone_") + name}));
    const std::string cleared = dir / "cleared.img";
    std::string listing;
    ASSERT_TRUE(
        RunProgram({"python3", velmora::test::SourceDir() + "/tests/fixtures/fat/clear_hiword.py",
                    img, cleared},
                   &listing));
    ASSERT_NE(listing.find("gone_eoi_split.jpg"), std::string::npos) << listing;

    std::map<std::string, Found> truth, guessed, blind;
    {
        const ScopedSearcherRows rows(ProvidingFileStart(&g_signatureSearch));
        truth = Scan(img);
        guessed = Scan(cleared);
    }
    {
        const ScopedSearcherRows rows(ProvidingFileStart(&g_knowsNothing));
        blind = Scan(cleared);
    }
    for (const char* name : gone) {
        const std::string path = std::string("gone_") + name;
        ASSERT_TRUE(truth.count(path) && guessed.count(path)) << path;
        EXPECT_GE(truth.at(path).cluster, 0x10000u);
        EXPECT_EQ(guessed.at(path).cluster, truth.at(path).cluster) << path;
        EXPECT_EQ(guessed.at(path).sha256, truth.at(path).sha256) << path;
    }
    // A test that knows no file leaves some of them elsewhere: the answers
    // above are the analysers' work.
    int misplaced = 0;
    for (const char* name : gone) {
        const std::string path = std::string("gone_") + name;
        if (blind.count(path) && blind.at(path).cluster != truth.at(path).cluster)
            ++misplaced;
    }
    EXPECT_GE(misplaced, 1);
}

}  // namespace
