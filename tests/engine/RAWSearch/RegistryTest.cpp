// The registry: its one table, the order it asks analysers in, its two
// sets, and the file-start test the FAT walker asks.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "Analysers/JpegAnalyzer.h"
#include "RawFileAnalyserList.h"
#include "RawSearchController.h"
#include "RawTestSupport.h"

namespace {

std::vector<std::string> g_asked;
int g_alive = 0;

// An analyser that notes when it is asked and answers as it was told.
template <int kId>
class Noting : public IRawFileAnalyser, public ISpecialRawFileAnalyser {
public:
    Noting() : IRawFileAnalyser(RAW_RAW) { ++g_alive; }
    ~Noting() override { --g_alive; }
    int AnalyseBuffer(unsigned char*, CRawFileInfo&) override {
        g_asked.push_back(Name());
        return accept;
    }
    ISpecialRawFileAnalyser* GetSpecialRawFile() override { return lookAhead ? this : nullptr; }
    int AnalyseBufferEx(unsigned char*, CRawFileInfo&, long long, long long, long long,
                        long long) override {
        g_asked.push_back(Name() + "+");
        return accept;
    }
    static std::string Name() { return names[kId]; }
    static inline int accept = 0;
    static inline bool lookAhead = false;
    static inline const char* names[] = {"Mov", "Mp4", "3GP", "MP3", "HTML", "UHTML",
                                         "PDF", "EPS", "L1",  "L2",  "JPEG"};
};
template <int kId>
IRawFileAnalyser* Make() {
    return new Noting<kId>();
}

constexpr AnalyserRow kRows[] = {
    {AnalyserPlace::Map, RawKey4(0xFF, 0xD8, 0xFF, 0xE0), "JPEG", &Make<10>},
    {AnalyserPlace::Map, RawKey4("%PDF"), "PDF", nullptr},
    {AnalyserPlace::Multimap, RawKey2("%!"), "PDF", &Make<6>},
    {AnalyserPlace::Multimap, RawKey2(0xFF, 0xFE), "MP3", &Make<3>},
    {AnalyserPlace::Multimap, RawKey2(0xFF, 0xFE), "HTML", &Make<4>},
    {AnalyserPlace::Multimap, RawKey2(0x00, 0x00), "Mov", &Make<0>},
    {AnalyserPlace::Multimap, RawKey2(0x00, 0x00), "Mp4", &Make<1>},
    {AnalyserPlace::Multimap, RawKey2("%!"), "EPS", &Make<7>},
    {AnalyserPlace::Multimap, RawKey2(0x00, 0x00), "3GP", &Make<2>},
    {AnalyserPlace::Multimap, RawKey2(0xFF, 0xFE), "UHTML", &Make<5>},
    {AnalyserPlace::List, 0, "L1", &Make<8>},
    {AnalyserPlace::List, 0, "L2", &Make<9>},
};

class Registry : public ::testing::Test {
protected:
    void TearDown() override {
        CRawFileAnalyserListSingle& r = CRawFileAnalyserListSingle::CreateInstance();
        r.UseTableForTesting({});
        r.ClearSearchSet();
    }
};

std::vector<std::string> Ask(std::vector<uint8_t> head) {
    head.resize(512);
    g_asked.clear();
    CRawFileInfo scratch;
    CRawFileAnalyserListSingle::CreateInstance().Lookup(0, head.data(), scratch, 512, 0, {});
    return g_asked;
}

TEST_F(Registry, AsksByFourBytesThenTwoBytesThenTheList) {
    CRawFileAnalyserListSingle& r = CRawFileAnalyserListSingle::CreateInstance();
    r.UseTableForTesting(kRows);
    r.ReinitAnalyzeList(nullptr);
    using V = std::vector<std::string>;
    EXPECT_EQ(Ask({0, 0, 0, 0}), (V{"L1", "L2"})) << "a zero first word reaches only the list";
    EXPECT_EQ(Ask({0, 0, 0, 0x18}), (V{"Mov", "Mp4", "3GP", "L1", "L2"}));
    EXPECT_EQ(Ask({0xFF, 0xFE, 'a', 0}), (V{"MP3", "HTML", "UHTML", "L1", "L2"}));
    EXPECT_EQ(Ask({'%', '!', 'P', 'S'}), (V{"PDF", "EPS", "L1", "L2"}));
    EXPECT_EQ(Ask({'%', 'P', 'D', 'F'}), (V{"L1", "L2"}))
        << "a key whose analyser is not built answers nothing";
    EXPECT_EQ(Ask({0xFF, 0xD8, 0xFF, 0xE0}), (V{"JPEG", "L1", "L2"}));
    // The look-ahead face answers for keyed analysers, never in the list.
    Noting<3>::lookAhead = Noting<8>::lookAhead = true;
    EXPECT_EQ(Ask({0xFF, 0xFE, 'a', 0}), (V{"MP3+", "HTML", "UHTML", "L1", "L2"}));
    Noting<3>::lookAhead = Noting<8>::lookAhead = false;
    // The first that accepts is the answer.
    Noting<1>::accept = 1;
    EXPECT_EQ(Ask({0, 0, 0, 0x18}), (V{"Mov", "Mp4"}));
    Noting<1>::accept = 0;
    Noting<9>::accept = 1;
    EXPECT_EQ(Ask({0, 0, 0, 0}), (V{"L1", "L2"}));
    Noting<9>::accept = 0;
}

TEST_F(Registry, RebuildingSetZeroLeavesOneAnalyserPerEntryAndSetOneAlone) {
    CRawFileAnalyserListSingle& r = CRawFileAnalyserListSingle::CreateInstance();
    const std::vector<IRawFileAnalyser*> fileStart(r.GetAnalyserList(1).begin(),
                                                   r.GetAnalyserList(1).end());
    const size_t fileStartKeys = r.GetAnalyserMap(1).size();
    r.UseTableForTesting(kRows);
    const int before = g_alive;
    r.ReinitAnalyzeList(nullptr);
    r.ReinitAnalyzeList(nullptr);
    EXPECT_EQ(g_alive - before, 11) << "every built row owns one analyser";
    EXPECT_EQ(r.GetAnalyserMap(0).size(), 1u);
    EXPECT_EQ(r.GetAnalyserMultimap(0).size(), 8u);
    EXPECT_EQ(r.GetAnalyserList(0).size(), 2u);
    EXPECT_EQ(
        std::vector<IRawFileAnalyser*>(r.GetAnalyserList(1).begin(), r.GetAnalyserList(1).end()),
        fileStart);
    EXPECT_EQ(r.GetAnalyserMap(1).size(), fileStartKeys);
    r.ClearSearchSet();
    EXPECT_EQ(g_alive, before);
    EXPECT_TRUE(r.IsEmpty(0));
}

// The table keeps every key the search will ever know, in order.
TEST(RegistryTable, HoldsEveryKeyInItsPlace) {
    const auto table = GetAnalyserTable();
    std::set<uint32_t> mapKeys;
    std::vector<std::string> list;
    std::vector<std::string> underZero;
    std::vector<std::string> underFFFE;
    std::vector<std::string> underPercent;
    for (const AnalyserRow& row : table) {
        ASSERT_NE(row.className, nullptr);
        if (row.place == AnalyserPlace::Map) {
            EXPECT_TRUE(mapKeys.insert(row.key).second)
                << "key " << std::hex << row.key << " twice";
        } else if (row.place == AnalyserPlace::List) {
            list.push_back(row.className);
        } else if (row.key == RawKey2(0, 0)) {
            underZero.push_back(row.className);
        } else if (row.key == RawKey2(0xFF, 0xFE)) {
            underFFFE.push_back(row.className);
        } else if (row.key == RawKey2("%!")) {
            underPercent.push_back(row.className);
        }
    }
    EXPECT_EQ(mapKeys.size(), 81u);
    using V = std::vector<std::string>;
    EXPECT_EQ(list, (V{"Dunmere::LZHAnalyser", "FileEMFAnalyser", "BruteForce::MovAnalyzer",
                       "RawSpeed::InddAnalyser", "RawSpeed::New3DSAnalyser",
                       "RawSpeed::TARAnalyser", "BruteForce::CM2TSAnalyser",
                       "RawSpeed::MOBIAnalyser", "RawSpeed::PSAFE3Analyser"}));
    EXPECT_EQ(underZero, (V{"BruteForce::MovAnalyzer", "BruteForce::Mp4Analyzer",
                            "BruteForce::C3GPAnalyser"}));
    EXPECT_EQ(underFFFE,
              (V{"BruteForce::MP3Analyzer", "RawSpeed::HTMLAnalyser", "FileUnicodeHTMAnalyser"}));
    EXPECT_EQ(underPercent, (V{"BruteForce::PdfAnalyzer", "BruteForce::CEPSAnalyser"}));
    for (uint32_t key : {RawKey4(0xFF, 0xD8, 0xFF, 0xE0), RawKey4(0xFF, 0xD8, 0xFF, 0xE1),
                         RawKey4(0xFF, 0xD8, 0xFF, 0xDB), RawKey4(0xFF, 0xD8, 0xFF, 0xEE)}) {
        EXPECT_TRUE(mapKeys.count(key));
        EXPECT_TRUE(dynamic_cast<BruteForce::JpegAnalyzer*>(
            CRawFileAnalyserListSingle::CreateInstance().GetAnalyserMap(1).at(key)));
    }
}

TEST(RegistryTable, FileStartTest) {
    std::vector<uint8_t> bmp(512, 0);
    rawtest::PutBytes(bmp, 0, "BM");
    rawtest::Put32(bmp, 2, 5000);
    rawtest::Put32(bmp, 14, 40);
    std::vector<uint8_t> bmp108 = bmp;
    rawtest::Put32(bmp108, 14, 108);
    std::vector<uint8_t> emf(512, 0x11);
    rawtest::PutBytes(emf, 40, " EMF");
    rawtest::Put16(emf, 58, 0);
    std::vector<uint8_t> money(512, 0);
    rawtest::PutBytes(money, 0, std::string("\x00\x01\x00\x00MSISAM Database", 19));
    const struct {
        const char* what;
        std::vector<uint8_t> sector;
        int expected;
    } cases[] = {
        {"JFIF head", {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F'}, 1},
        {"a key alone is enough", {0xFF, 0xD8, 0xFF, 0xDB}, 1},
        {"PDF head", {'%', 'P', 'D', 'F', '-', '1'}, 1},
        {"bitmap with a 40-byte header", bmp, 1},
        {"bitmap with a 108-byte header", bmp108, 0},
        {"metafile, found by the list", emf, 1},
        {"Money file", money, 1},
        {"zeros", std::vector<uint8_t>(512, 0), 0},
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RawSearchTestFileStart(c.sector.data(), static_cast<unsigned>(c.sector.size())),
                  c.expected)
            << c.what;
    EXPECT_EQ(RawSearchTestFileStart(nullptr, 512), 0);
    EXPECT_EQ(RawSearchTestFileStart(bmp.data(), 3), 0);
}

}  // namespace
