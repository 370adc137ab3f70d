// Office documents: compound (OLE) files typed by their directory, sized by
// their FAT in whatever order its sectors pass and named from their summary;
// ZIP containers walked record by record, typed by their members and named
// from their core properties; both readers of document properties.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "Analysers/FileOLEAnalyser.h"
#include "Analysers/FileZIPAnalyser.h"
#include "Analysers/OfficeMetadata.h"
#include "Analysers/ZipSearch.h"
#include "DataRun.h"
#include "RawFileAnalyserList.h"
#include "RawSearchController.h"
#include "RawTestSupport.h"
#include "support/TestSupport.h"

namespace {

using rawtest::Put16;
using rawtest::Put32;
using rawtest::PutBytes;
using rawtest::RecordingBuilder;
using velmora::test::MemoryStorageDevice;

constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kEnd = 0xFFFFFFFE;

std::vector<uint8_t> Sample(const std::string& name) {
    return velmora::test::ReadFile(velmora::test::SourceDir() + "/tests/carve/samples/" + name);
}

uint32_t Get32(const std::vector<uint8_t>& v, size_t at) {
    return static_cast<uint32_t>(v.at(at)) | (static_cast<uint32_t>(v.at(at + 1)) << 8) |
           (static_cast<uint32_t>(v.at(at + 2)) << 16) |
           (static_cast<uint32_t>(v.at(at + 3)) << 24);
}

void Put64(std::vector<uint8_t>& v, size_t at, uint64_t x) {
    Put32(v, at, static_cast<uint32_t>(x));
    Put32(v, at + 4, static_cast<uint32_t>(x >> 32));
}

// A compound file with the streams as the root's children, in directory
// order; every stream in regular sectors. The FAT sectors stand before or
// after the DIFAT sectors.
struct Compound {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> fatSectors;
    uint32_t difatStart = kEnd;
    uint32_t directoryStart = 0;
    unsigned sectorBytes = 512;
    size_t SectorOffset(uint32_t n) const { return (static_cast<size_t>(n) + 1) * sectorBytes; }
};

Compound MakeCompound(const std::vector<std::pair<std::u16string, std::vector<uint8_t>>>& streams,
                      int version = 3, bool fatFirst = false,
                      const std::vector<uint8_t>& rootClass = {}) {
    Compound c;
    const unsigned ss = version == 3 ? 512 : 4096;
    c.sectorBytes = ss;
    const unsigned e = ss / 4;
    std::vector<std::vector<uint8_t>> data;
    uint32_t nData = 0;
    for (const auto& s : streams) {
        std::vector<uint8_t> d = s.second;
        if (d.size() < 4096)
            d.resize(4096);
        nData += static_cast<uint32_t>((d.size() + ss - 1) / ss);
        data.push_back(d);
    }
    const uint32_t nDir = static_cast<uint32_t>(((streams.size() + 1) * 128 + ss - 1) / ss);
    uint32_t nFat = 1, nDifat = 0;
    for (;;) {
        const uint32_t total = nData + nDir + nFat + nDifat;
        const uint32_t fat = (total + e - 1) / e;
        const uint32_t difat = fat > 109 ? (fat - 109 + e - 2) / (e - 1) : 0;
        if (fat == nFat && difat == nDifat)
            break;
        nFat = fat;
        nDifat = difat;
    }
    std::vector<uint32_t> fat(static_cast<size_t>(nFat) * e, kFree);
    std::vector<uint8_t> body;
    std::vector<uint32_t> starts;
    uint32_t sector = 0;
    for (const auto& d : data) {
        const uint32_t count = static_cast<uint32_t>((d.size() + ss - 1) / ss);
        starts.push_back(sector);
        for (uint32_t k = 0; k < count; ++k)
            fat[sector + k] = k + 1 < count ? sector + k + 1 : kEnd;
        body.insert(body.end(), d.begin(), d.end());
        body.resize(body.size() + (ss - d.size() % ss) % ss);
        sector += count;
    }
    c.directoryStart = sector;
    for (uint32_t k = 0; k < nDir; ++k)
        fat[sector + k] = k + 1 < nDir ? sector + k + 1 : kEnd;
    sector += nDir;
    const uint32_t fatStart = fatFirst ? sector : sector + nDifat;
    const uint32_t difatStart = fatFirst ? sector + nFat : sector;
    for (uint32_t k = 0; k < nFat; ++k) {
        c.fatSectors.push_back(fatStart + k);
        fat[fatStart + k] = 0xFFFFFFFD;
    }
    for (uint32_t k = 0; k < nDifat; ++k)
        fat[difatStart + k] = 0xFFFFFFFC;
    c.difatStart = nDifat != 0 ? difatStart : kEnd;
    std::vector<uint8_t> dir(static_cast<size_t>(nDir) * ss, 0);
    auto entry = [&](size_t i, const std::u16string& name, uint8_t kind, uint32_t child,
                     uint32_t right, uint32_t start, uint64_t size) {
        const size_t at = i * 128;
        for (size_t k = 0; k < name.size(); ++k)
            Put16(dir, at + 2 * k, name[k]);
        Put16(dir, at + 64, static_cast<uint16_t>(name.size() * 2 + 2));
        dir[at + 66] = kind;
        dir[at + 67] = 1;
        Put32(dir, at + 68, kFree);
        Put32(dir, at + 72, right);
        Put32(dir, at + 76, child);
        Put32(dir, at + 116, start);
        Put64(dir, at + 120, size);
    };
    entry(0, u"Root Entry", 5, streams.empty() ? kFree : 1, kFree, kEnd, 0);
    for (size_t k = 0; k < rootClass.size() && k < 16; ++k)
        dir[0x50 + k] = rootClass[k];
    for (size_t i = 0; i < streams.size(); ++i)
        entry(i + 1, streams[i].first, 2, kFree,
              i + 1 < streams.size() ? static_cast<uint32_t>(i + 2) : kFree, starts[i],
              data[i].size());
    body.insert(body.end(), dir.begin(), dir.end());
    std::vector<uint8_t> fatBytes(fat.size() * 4);
    for (size_t i = 0; i < fat.size(); ++i)
        Put32(fatBytes, i * 4, fat[i]);
    std::vector<uint8_t> difatBytes;
    for (uint32_t k = 0; k < nDifat; ++k) {
        std::vector<uint8_t> s(ss, 0xFF);
        for (uint32_t j = 0; j + 1 < e; ++j) {
            const size_t index = 109 + static_cast<size_t>(k) * (e - 1) + j;
            if (index < c.fatSectors.size())
                Put32(s, j * 4, c.fatSectors[index]);
        }
        Put32(s, (e - 1) * 4, k + 1 < nDifat ? difatStart + k + 1 : kEnd);
        difatBytes.insert(difatBytes.end(), s.begin(), s.end());
    }
    if (fatFirst) {
        body.insert(body.end(), fatBytes.begin(), fatBytes.end());
        body.insert(body.end(), difatBytes.begin(), difatBytes.end());
    } else {
        body.insert(body.end(), difatBytes.begin(), difatBytes.end());
        body.insert(body.end(), fatBytes.begin(), fatBytes.end());
    }
    std::vector<uint8_t> head(ss, 0);
    PutBytes(head, 0, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    Put16(head, 24, 0x3E);
    Put16(head, 26, static_cast<uint16_t>(version));
    Put16(head, 28, 0xFFFE);
    Put16(head, 30, version == 3 ? 9 : 12);
    Put16(head, 32, 6);
    Put32(head, 40, version == 4 ? nDir : 0);
    Put32(head, 44, nFat);
    Put32(head, 48, c.directoryStart);
    Put32(head, 56, 4096);
    Put32(head, 60, kEnd);
    Put32(head, 68, c.difatStart);
    Put32(head, 72, nDifat);
    for (size_t i = 0; i < 109; ++i)
        Put32(head, 76 + 4 * i, i < c.fatSectors.size() ? c.fatSectors[i] : kFree);
    c.bytes = head;
    c.bytes.insert(c.bytes.end(), body.begin(), body.end());
    return c;
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    std::mt19937 rnd(seed);
    for (auto& b : v)
        b = static_cast<uint8_t>(rnd());
    return v;
}

// A SummaryInformation property set: (id, type, raw value bytes after the type).
std::vector<uint8_t> PropertySet(
    const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& props, bool summaryId = true) {
    std::vector<uint8_t> s(48, 0);
    Put16(s, 0, 0xFFFE);
    Put32(s, 24, 1);
    const uint8_t summary[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                 0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
    for (int i = 0; i < 16; ++i)
        s[28 + i] = summaryId ? summary[i] : static_cast<uint8_t>(0x11 * i);
    Put32(s, 44, 48);
    std::vector<uint8_t> section(8 + 8 * props.size(), 0);
    std::vector<uint8_t> values;
    for (size_t i = 0; i < props.size(); ++i) {
        Put32(section, 8 + 8 * i, props[i].first);
        Put32(section, 12 + 8 * i, static_cast<uint32_t>(section.size() + values.size()));
        values.insert(values.end(), props[i].second.begin(), props[i].second.end());
        values.resize((values.size() + 3) / 4 * 4);
    }
    Put32(section, 0, static_cast<uint32_t>(section.size() + values.size()));
    Put32(section, 4, static_cast<uint32_t>(props.size()));
    s.insert(s.end(), section.begin(), section.end());
    s.insert(s.end(), values.begin(), values.end());
    return s;
}
std::vector<uint8_t> Ansi(const std::string& text) {
    std::vector<uint8_t> v(8 + text.size() + 1, 0);
    Put32(v, 0, 30);
    Put32(v, 4, static_cast<uint32_t>(text.size() + 1));
    std::copy(text.begin(), text.end(), v.begin() + 8);
    return v;
}
std::vector<uint8_t> Wide(const std::u16string& text) {
    std::vector<uint8_t> v(8);
    Put32(v, 0, 31);
    Put32(v, 4, static_cast<uint32_t>(text.size() + 1));
    for (char16_t c : text) {
        v.push_back(static_cast<uint8_t>(c));
        v.push_back(static_cast<uint8_t>(c >> 8));
    }
    v.push_back(0);
    v.push_back(0);
    return v;
}
std::vector<uint8_t> Time(uint64_t fileTime) {
    std::vector<uint8_t> v(12);
    Put32(v, 0, 64);
    Put64(v, 4, fileTime);
    return v;
}
uint64_t FileTime(int y, int mo, int d, int h, int mi, int s) {
    struct tm t {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return (static_cast<uint64_t>(timegm(&t)) + 11644473600ULL) * 10000000ULL;
}

struct Carved {
    long long start;
    long long size;
    std::string name;
    std::string folder;
};

class Office : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        savedTz_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
        std::setlocale(LC_ALL, "C.UTF-8");
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", savedTz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet();
    }
    void Put(long long sector, const std::vector<uint8_t>& bytes) {
        const size_t at = static_cast<size_t>(sector) * sectorSize_;
        if (image_.size() < at + bytes.size())
            image_.resize(at + bytes.size());
        std::copy(bytes.begin(), bytes.end(), image_.begin() + static_cast<long>(at));
    }
    // Random bytes that start no file at a sector boundary.
    void Random(long long sector, size_t bytes) {
        std::vector<uint8_t> r = Pattern(bytes, static_cast<uint32_t>(sector));
        for (size_t i = 0; i < r.size(); i += 512)
            r[i] = 0x5A;
        Put(sector, r);
    }
    std::vector<Carved> Scan(int blockSectors = 64) {
        image_.resize((image_.size() / sectorSize_ + 8) * sectorSize_);
        MemoryStorageDevice disk(image_, static_cast<int>(sectorSize_));
        RecordingBuilder builder;
        {
            CRAWSearchController search;
            search.SetDevice(&disk);
            search.SetBlockSize(blockSectors);
            search.SetDirecotryTreeBuilder(&builder);
            search.PreparetoSearch();
            for (long long first = 0; first < disk.GetTotalSectors(); first += blockSectors)
                search.AnalyzeBlock(
                    first, std::min<long long>(blockSectors, disk.GetTotalSectors() - first));
            search.EndSearch(1);
        }
        std::vector<Carved> out;
        for (IFileNode* f : builder.Files()) {
            auto* node = dynamic_cast<CFileNode*>(f);
            out.push_back({node->GetDataRunList()->GetFirst()->start, f->GetFileSize(),
                           f->GetFileName(), builder.FolderPath(f)});
        }
        return out;
    }
    static const Carved* At(const std::vector<Carved>& carved, long long start) {
        for (const Carved& c : carved) {
            if (c.start == start)
                return &c;
        }
        return nullptr;
    }
    // Sizes the file at sector 0 of `bytes` through the analyser's
    // whole-file road.
    static int Whole(IRawFileAnalyser& analyser, std::vector<uint8_t> bytes, CRawFileInfo& info,
                     unsigned sectorSize = 512, size_t pad = 0) {
        bytes.resize((bytes.size() + pad + sectorSize - 1) / sectorSize * sectorSize);
        MemoryStorageDevice disk(bytes, static_cast<int>(sectorSize));
        info.m_startSector = 0;
        return analyser.GetRawFileSize(info, &disk);
    }

    std::vector<uint8_t> image_;
    unsigned sectorSize_ = 512;
    std::string savedTz_;
    bool hadTz_ = false;
};

// ---------------------------------------------------------------------------
// Compound files

TEST_F(Office, DirectoryRulesDecideTheType) {
    const std::vector<uint8_t> classId(16, 7);
    struct Case {
        std::vector<std::u16string> names;
        RAW_FILE_TYPE type;
        bool zeroClass = true;
    };
    const std::vector<Case> cases = {
        {{u"Data"}, RAW_MOF},
        {{u"1Table", u"Data", u"x", u"ObjectPool"}, RAW_DOC},
        {{u"1Table", u"WordDocument"}, RAW_DOC},
        // A later rule wins: a workbook with an object pool is a workbook.
        {{u"ObjectPool", u"Workbook"}, RAW_XLS},
        {{u"Book"}, RAW_XLS},
        {{u"x", u"y", u"Workbook"}, RAW_MOF},
        {{u"Current User", u"x", u"PowerPoint Document"}, RAW_PPT},
        {{u"PP40"}, RAW_PPT},
        {{u"x", u"Scene"}, RAW_MAX},
        {{u"VisioDocument"}, RAW_VSD},
        {{u"PerfectOffice_MAIN", u"PerfectOffice_OBJECTS", u"\x05SummaryInformation"}, RAW_SHW},
        {{u"PerfectOffice_MAIN", u"PerfectOffice_OBJECTS", u"Other"}, RAW_WPG},
        {{u"PerfectOffice_MAIN", u"PerfectOffice_OBJECTS", u"Other"}, RAW_WPD, false},
        {{u"RSeStorage", u"x", u"RSeEmbeddings"}, RAW_IPT},
        {{u"Objects", u"Quill", u"QuillSub"}, RAW_PUB},
        {{u"Objects", u"Quill", u"Other"}, RAW_MOF},
        {{u"NativeContent_MAIN"}, RAW_QPW},
        {{u"properties"}, RAW_AAF},
        {{u"\x01"
          u"CompObj",
          u"   112", u"   212"},
         RAW_MPP},
        {{u"\x01"
          u"CompObj",
          u"   19", u"   212"},
         RAW_MOF},
        {{u"VBA", u"VBAProject", u"VBA"}, RAW_ADP},
        {{u"PropData", u"Forms", u"Reports"}, RAW_ADP},
        // Names compare whole: a longer name is another name.
        {{u"Workbook2"}, RAW_MOF},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<std::u16string, std::vector<uint8_t>>> streams;
        for (const auto& n : c.names)
            streams.emplace_back(n, std::vector<uint8_t>(10, 1));
        const Compound file =
            MakeCompound(streams, 3, false, c.zeroClass ? std::vector<uint8_t>{} : classId);
        const uint8_t* dir = file.bytes.data() + file.SectorOffset(file.directoryStart);
        std::string what;
        for (const auto& n : c.names)
            what += std::string(n.begin(), n.end()) + ",";
        EXPECT_EQ(FileOLEAnalyser::CheckSectDirData(dir, 1024), c.type) << what;
    }
}

// The FAT sectors of a file over 7 MB lie before the DIFAT sector that
// lists the last of them: the size must not depend on the order sectors
// pass in, on either road, on 512- and 4096-byte devices.
TEST_F(Office, FatSectorsBeforeTheDifatAreCounted) {
    const std::vector<uint8_t> big = Pattern(7500 * 1024, 3);
    for (bool fatFirst : {true, false}) {
        const Compound file = MakeCompound({{u"Workbook", big}}, 3, fatFirst);
        ASSERT_GT(file.fatSectors.size(), 109u);
        FileOLEAnalyser analyser;
        CRawFileInfo info;
        ASSERT_EQ(Whole(analyser, file.bytes, info), 1);
        EXPECT_EQ(info.m_size, static_cast<long long>(file.bytes.size())) << fatFirst;
        EXPECT_EQ(info.m_type, RAW_XLS);
        for (unsigned ss : {512u, 4096u}) {
            image_.clear();
            sectorSize_ = ss;
            Put(16, file.bytes);
            const auto carved = Scan(ss == 512 ? 64 : 8);
            const Carved* c = At(carved, 16);
            ASSERT_NE(c, nullptr) << fatFirst << " " << ss;
            EXPECT_EQ(c->size, static_cast<long long>(file.bytes.size())) << fatFirst << " " << ss;
            const long long end = 16 + (static_cast<long long>(file.bytes.size()) - 1) / ss;
            EXPECT_EQ(c->name, "16-" + std::to_string(end) + "000.XLS") << fatFirst << " " << ss;
        }
    }
}

TEST_F(Office, VersionFourFilesOnBothDevices) {
    const Compound file =
        MakeCompound({{u"WordDocument", Pattern(20000, 4)}, {u"1Table", Pattern(9000, 5)}}, 4);
    for (unsigned ss : {512u, 4096u}) {
        FileOLEAnalyser analyser;
        CRawFileInfo info;
        ASSERT_EQ(Whole(analyser, file.bytes, info, ss), 1);
        EXPECT_EQ(info.m_size, static_cast<long long>(file.bytes.size()));
        EXPECT_EQ(info.m_type, RAW_DOC);
        image_.clear();
        sectorSize_ = ss;
        Put(8, file.bytes);
        const auto carved = Scan(ss == 512 ? 64 : 8);
        const Carved* c = At(carved, 8);
        ASSERT_NE(c, nullptr) << ss;
        EXPECT_EQ(c->size, static_cast<long long>(file.bytes.size())) << ss;
        EXPECT_EQ(c->folder, "doc");
    }
}

// Damaged structures: the walk ends, the file is sized as far as it can be
// or dropped, and nothing reads past what is there.
TEST_F(Office, DamagedCompoundFiles) {
    const std::vector<uint8_t> big = Pattern(7500 * 1024, 6);
    const Compound base = MakeCompound({{u"Workbook", big}}, 3, false);
    const size_t difat = base.SectorOffset(base.difatStart);
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> damage;
        int accepted;
        long long size;  // -1: the undamaged size
        RAW_FILE_TYPE type;
    };
    const std::vector<Case> cases = {
        {"DIFAT chained to itself", [&](auto& b) { Put32(b, difat + 508, base.difatStart); }, 1, -1,
         RAW_XLS},
        {"DIFAT chained backwards", [&](auto& b) { Put32(b, difat + 508, 3); }, 1, -1, RAW_XLS},
        {"DIFAT past the device", [&](auto& b) { Put32(b, 0x44, 0x7FFFFFF0); }, 0, 0, 0},
        {"last FAT sector past the device",
         [&](auto& b) { Put32(b, difat + 4 * (base.fatSectors.size() - 110), 0x7FFFFFF0); }, 0, 0,
         0},
        {"directory past the device", [&](auto& b) { Put32(b, 48, 0x7FFFFFF0); }, 1, -1, RAW_MOF},
        {"not a compound file", [&](auto& b) { Put16(b, 28, 0x1234); }, 0, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = base.bytes;
        c.damage(bytes);
        FileOLEAnalyser analyser;
        CRawFileInfo info;
        EXPECT_EQ(Whole(analyser, bytes, info), c.accepted) << c.what;
        if (c.accepted == 0)
            continue;
        EXPECT_EQ(info.m_size, c.size < 0 ? static_cast<long long>(base.bytes.size()) : c.size)
            << c.what;
        EXPECT_EQ(info.m_type, c.type) << c.what;
        // The search ends on the same file without a hang.
        image_.clear();
        Put(4, bytes);
        const auto carved = Scan();
        const Carved* carvedFile = At(carved, 4);
        ASSERT_NE(carvedFile, nullptr) << c.what;
        EXPECT_EQ(carvedFile->size, static_cast<long long>(base.bytes.size())) << c.what;
    }
    // Untyped, a file over 10 MB is not believed.
    const Compound large = MakeCompound({{u"Workbook", Pattern(11 * 1024 * 1024, 7)}});
    std::vector<uint8_t> bytes = large.bytes;
    Put32(bytes, 48, 0x7FFFFFF0);
    FileOLEAnalyser analyser;
    CRawFileInfo info;
    EXPECT_EQ(Whole(analyser, bytes, info), 0);
}

TEST_F(Office, SummaryNamesAndLabels) {
    const std::vector<uint8_t> summary = PropertySet({
        {2, Ansi("Quarterly review")},
        {4, Ansi("Sam Writer")},
        {8, Ansi("Ann Editor")},
        {12, Time(FileTime(2015, 6, 1, 10, 20, 30))},
        {13, Time(FileTime(2024, 2, 29, 12, 0, 0))},
    });
    struct Case {
        std::u16string stream;
        std::string name;
        std::string folder;
    };
    const std::vector<Case> cases = {
        {u"Workbook", "Ann Editor_Quarterly review_2024-02-29-12-00-00000.XLS",
         "Office/Excel/Ann Editor"},
        // A drawing gets the name, not the label.
        {u"VisioDocument", "Quarterly review_2024-02-29-12-00-00000.VSD", "vsd"},
    };
    for (const Case& c : cases) {
        const Compound file =
            MakeCompound({{c.stream, Pattern(6000, 8)}, {u"\x05SummaryInformation", summary}});
        image_.clear();
        Put(2, file.bytes);
        const auto carved = Scan();
        const Carved* f = At(carved, 2);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->name, c.name);
        EXPECT_EQ(f->folder, c.folder);
        EXPECT_EQ(f->size, static_cast<long long>(file.bytes.size()));
    }
}

TEST_F(Office, SummaryReader) {
    struct Case {
        const char* what;
        std::vector<uint8_t> stream;
        int length;  // 0: the whole stream
        int answer;
        std::string title, creator, lastAuthor, modified;
    };
    const std::string gbk = "\xD6\xD0\xCE\xC4";  // two Chinese characters in GBK
    const std::vector<uint8_t> full = PropertySet({{2, Ansi("Title")}, {4, Ansi("Author")}});
    std::vector<Case> cases = {
        {"plain texts", full, 0, 1, "Title", "Author", "", ""},
        {"GBK converted", PropertySet({{2, Ansi(gbk)}}), 0, 1, "\xE4\xB8\xAD\xE6\x96\x87", "", "",
         ""},
        {"leading spaces, cut to 24 bytes",
         PropertySet({{2, Ansi("   An exceedingly long document title")}}), 0, 1,
         "An exceedingly long docu", "", "", ""},
        {"cut between characters", PropertySet({{2, Ansi("abcdefghijklmnopqrstuvw\xC3\xA9")}}), 0,
         1, "abcdefghijklmnopqrstuvw", "", "", ""},
        {"UTF-16 text", PropertySet({{8, Wide(u"\u00C5sa")}}), 0, 1, "", "", "\xC3\x85sa", ""},
        {"leap day", PropertySet({{13, Time(FileTime(2000, 3, 1, 0, 0, 0))}}), 0, 1, "", "", "",
         "2000-03-01-00-00-00"},
        {"time 0 is no time", PropertySet({{12, Time(0)}, {2, Ansi("T")}}), 0, 1, "T", "", "", ""},
        {"list past the stream keeps what was read", full, 48 + 8 + 8 + 4, 0, "", "", "", ""},
        {"another property set", PropertySet({{2, Ansi("Category")}}, false), 0, 0, "", "", "", ""},
    };
    for (const Case& c : cases) {
        CSummaryInFormation reader;
        FileProperty p;
        const int length = c.length != 0 ? c.length : static_cast<int>(c.stream.size());
        EXPECT_EQ(reader.GetFileInformation(c.stream.data(), p, length), c.answer) << c.what;
        EXPECT_EQ(p.title, c.title) << c.what;
        EXPECT_EQ(p.creator, c.creator) << c.what;
        EXPECT_EQ(p.lastAuthor, c.lastAuthor) << c.what;
        EXPECT_EQ(p.modified, c.modified) << c.what;
    }
    // The property list is cut short after the first entry: what came
    // before stays.
    std::vector<uint8_t> two = PropertySet({{2, Ansi("Kept")}, {4, Ansi("Lost")}});
    const size_t secondEntry = 48 + 8 + 8;
    Put32(two, secondEntry + 4, 5000);
    CSummaryInFormation reader;
    FileProperty p;
    EXPECT_EQ(reader.GetFileInformation(two.data(), p, static_cast<int>(two.size())), 0);
    EXPECT_EQ(p.title, "Kept");
}

// ---------------------------------------------------------------------------
// ZIP

TEST_F(Office, ZipRecords) {
    using classZipSearch::ReadRecord;
    using classZipSearch::ReadResult;
    using classZipSearch::RecordKind;
    std::vector<uint8_t> end(22 + 5, 0);
    Put32(end, 0, 0x06054B50);
    Put16(end, 20, 5);
    std::vector<uint8_t> local(30 + 8 + 20, 0);
    Put32(local, 0, 0x04034B50);
    Put32(local, 18, 0xFFFFFFFF);
    Put16(local, 26, 4);
    Put16(local, 28, 24);
    PutBytes(local, 30, "a.tx");
    Put16(local, 34, 0x5455);  // another block first
    Put16(local, 36, 0);
    Put16(local, 38, 0x0001);
    Put16(local, 40, 16);
    Put64(local, 42, 100);
    Put64(local, 50, 0x123456789ULL);
    std::vector<uint8_t> zip64End(56, 0);
    Put32(zip64End, 0, 0x06064B50);
    Put64(zip64End, 4, 44);
    std::vector<uint8_t> absurd = zip64End;
    Put64(absurd, 4, 1ULL << 62);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        ReadResult result;
        RecordKind kind;
        uint64_t length;
    };
    const std::vector<Case> cases = {
        {"end record with its comment", end, ReadResult::Ok, RecordKind::End, 27},
        {"Zip64 size from a later extra block", local, ReadResult::Ok, RecordKind::Local,
         30 + 4 + 24 + 0x123456789ULL},
        {"Zip64 end record", zip64End, ReadResult::Ok, RecordKind::Zip64End, 56},
        {"Zip64 end record of absurd size", absurd, ReadResult::Invalid, RecordKind::None, 0},
        {"header cut short", std::vector<uint8_t>(local.begin(), local.begin() + 20),
         ReadResult::NeedMore, RecordKind::None, 0},
    };
    for (const Case& c : cases) {
        classZipSearch::Record r;
        EXPECT_EQ(ReadRecord(c.bytes.data(), c.bytes.size(), 1024, r), c.result) << c.what;
        EXPECT_EQ(r.kind, c.kind) << c.what;
        EXPECT_EQ(r.length, c.length) << c.what;
    }
}

// Every ZIP sample, whole and in a scan with random bytes after it: the
// size is the archive's, whatever its members' flags, comment or Zip64
// records, and whether or not zero fill follows it.
TEST_F(Office, ZipArchivesEndAtTheirEndRecord) {
    const std::vector<std::pair<std::string, RAW_FILE_TYPE>> samples = {
        {"plain.zip", RAW_ZIP},      {"comment.zip", RAW_ZIP},  {"piped.zip", RAW_ZIP},
        {"piped_0a.zip", RAW_ZIP},   {"stream.zip", RAW_ZIP},   {"zip64.zip", RAW_ZIP},
        {"app.jar", RAW_IPA},        {"report.docx", RAW_DOCX}, {"budget.xlsx", RAW_XLSX},
        {"slides.pptx", RAW_PPTX},   {"text.odt", RAW_ODT},     {"book.epub", RAW_EPUB},
        {"letter.pages", RAW_PAGES}, {"talk.key", RAW_KEY},     {"archive.olm", RAW_OLM},
    };
    for (const auto& [name, type] : samples) {
        const std::vector<uint8_t> bytes = Sample(name);
        ASSERT_FALSE(bytes.empty()) << name;
        FileZIPAnalyser analyser;
        CRawFileInfo info;
        std::vector<uint8_t> dirty = bytes;
        const std::vector<uint8_t> after = Pattern(8192, 9);
        dirty.insert(dirty.end(), after.begin(), after.end());
        ASSERT_EQ(Whole(analyser, dirty, info), 1) << name;
        EXPECT_EQ(info.m_size, static_cast<long long>(bytes.size())) << name << " whole";

        image_.clear();
        sectorSize_ = 512;
        Random(0, 40 * 512);
        Put(8, bytes);
        const long long end = 8 + (static_cast<long long>(bytes.size()) + 511) / 512;
        Random(end, 40 * 512);
        // Slack after the archive's last byte is not zero either.
        for (size_t k = bytes.size(); k % 512 != 0; ++k)
            image_[8 * 512 + k] = 0xA5;
        const auto carved = Scan();
        const Carved* c = At(carved, 8);
        ASSERT_NE(c, nullptr) << name;
        EXPECT_EQ(c->size, static_cast<long long>(bytes.size())) << name << " streamed";
        const std::string ext = RawFileTypeName(type);
        EXPECT_NE(c->name.find("." + ext), std::string::npos) << name << " " << c->name;
    }
}

TEST_F(Office, ZipMembersDecideTheType) {
    struct Case {
        std::string name;
        std::string data;
        bool office;
        bool whole;
        uint32_t before;
        uint32_t type;
    };
    const std::vector<Case> cases = {
        {"mimetype", "application/epub+zip", false, false, RAW_ZIP, RAW_EPUB},
        {"mimetype", "application/vnd.oasis.opendocument.spreadsheet", false, true, RAW_ZIP,
         RAW_ODS},
        {"mimetype", "application/vnd.oasis.opendocument.text-template", false, false, RAW_ZIP,
         RAW_ODT},
        {"word/_rels/document.xml.rels", "", true, false, RAW_ZIP, RAW_DOCX},
        {"word/_rels/document.xml.rels", "", false, false, RAW_ZIP, RAW_ZIP},
        {"word/theme/theme1.xml", "", true, true, RAW_ZIP, RAW_DOCX},
        {"ppt/_rels/presentation.xml.rels", "", true, true, RAW_ZIP, RAW_PPTX},
        {"Accounts/Outlook/", "", true, false, RAW_ZIP, RAW_OLM},
        {"8d2b7c1e-4f3a-4b6d-9e0f-1a2b3c4d5e6f", "", false, false, RAW_ZIP, RAW_TAX},
        {"8d2b7c1e-4f3a-4b6d-9e0f-1a2b3c4d5e6f", "", false, true, RAW_ZIP, RAW_ZIP},
        {"Index/Slide1.iwa", "", false, false, RAW_ZIP, RAW_KEY},
        {"buildVersionHistory.plist", "<string>pages-trunk", false, false, RAW_ZIP, RAW_PAGES},
        {"buildVersionHistory.plist", "<string>numbers-trunk", false, true, RAW_ZIP, RAW_NUMBERS},
        {"buildVersionHistory.plist", "<string>pages-trunk", false, false, RAW_KEY, RAW_KEY},
        {"Index/DocumentStylesheet.iwa", "xx layout-style-1", false, true, RAW_ZIP, RAW_PAGES},
        {"Index/Metadata.iwa", "no marks", false, false, RAW_ZIP, RAW_NUMBERS},
        {"OEBPS/Text/chapter01.xhtml", "", false, false, RAW_ZIP, RAW_EPUB},
        {"numbers/tables.iwa", "", false, false, RAW_PAGES, RAW_PAGES},
    };
    for (const Case& c : cases) {
        uint32_t type = c.before;
        bool core = false;
        FileZIPAnalyser::ClassifyMember(c.name,
                                        reinterpret_cast<const unsigned char*>(c.data.data()),
                                        c.data.size(), c.office, c.whole, type, core);
        EXPECT_EQ(type, c.type) << c.name << " office " << c.office << " whole " << c.whole;
    }
    std::vector<uint8_t> head(512, 0);
    Put32(head, 0, 0x04034B50);
    Put16(head, 26, 9);
    PutBytes(head, 30, "meta-inf/");
    EXPECT_EQ(FileZIPAnalyser::ZipIpaFileType(head.data()), 1);
    PutBytes(head, 30, "metadata/");
    EXPECT_EQ(FileZIPAnalyser::ZipIpaFileType(head.data()), 0);
}

// Damaged archives: sized to what is there or dropped, never a read past
// the device or a walk without end.
TEST_F(Office, DamagedZipArchives) {
    const std::vector<uint8_t> plain = Sample("plain.zip");
    const std::vector<uint8_t> piped = Sample("piped.zip");
    ASSERT_FALSE(plain.empty());
    const size_t endRecord = plain.size() - 22;
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        std::function<void(std::vector<uint8_t>&)> damage;
        int accepted;
        long long size;
    };
    // The second member of plain.zip ("sub/", a folder).
    const size_t second = 30 + plain[26] + plain[28] + Get32(plain, 18);
    const std::vector<Case> cases = {
        {"end record's directory past the device", piped,
         [](auto& b) { Put32(b, b.size() - 22 + 16, 0x7FFFFF00); }, 1, -2},
        {"Zip64 compressed size of 2^62", plain,
         [&](auto& b) {
             Put32(b, second + 18, 0xFFFFFFFF);
             Put16(b, second + 28, 20);
             Put16(b, second + 30 + 4, 0x0001);
             Put16(b, second + 30 + 6, 16);
             Put64(b, second + 30 + 8 + 8, 1ULL << 62);
         },
         1, -1},
        {"central directory cut off", plain, [&](auto& b) { b.resize(endRecord - 40); }, 1, -1},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = c.bytes;
        c.damage(bytes);
        FileZIPAnalyser analyser;
        CRawFileInfo info;
        EXPECT_EQ(Whole(analyser, bytes, info, 512, 4096), c.accepted) << c.what;
        EXPECT_GT(info.m_size, 0) << c.what;
        EXPECT_LE(info.m_size, static_cast<long long>(bytes.size() + 4096 + 512)) << c.what;
        image_.clear();
        Put(4, bytes);
        const auto carved = Scan();
        EXPECT_NE(At(carved, 4), nullptr) << c.what;
    }
}

TEST_F(Office, CoreProperties) {
    const std::string xml =
        "<?xml version=\"1.0\"?><cp:coreProperties xmlns:cp=\"c\" xmlns:dc=\"d\" "
        "xmlns:dcterms=\"t\"><dc:title>Plan \xC3\xA9t\xC3\xA9</dc:title><dc:creator>A</dc:creator>"
        "<cp:lastModifiedBy></cp:lastModifiedBy><dcterms:modified>2013-05-01T10:20:30Z"
        "</dcterms:modified></cp:coreProperties>";
    FileProperty p;
    p.lastAuthor = "kept";
    ASSERT_EQ(Dunmere::OfficeTagFromXML::ReadCoreProperties(xml, p), 1);
    EXPECT_EQ(p.title, "Plan \xC3\xA9t\xC3\xA9");
    EXPECT_EQ(p.creator, "A");
    EXPECT_EQ(p.lastAuthor, "kept");  // an empty text assigns nothing
    EXPECT_EQ(p.modified, "2013-05-01 10-20-30 ");
    FileProperty none;
    EXPECT_EQ(Dunmere::OfficeTagFromXML::ReadCoreProperties("<root/>", none), 0);
    EXPECT_EQ(Dunmere::OfficeTagFromXML::ReadCoreProperties("<?xml?><a><b></a>", none), 0);

    // The core-properties member straddles a block boundary: it is read
    // once its data has arrived, and the document is named from it.
    const std::vector<uint8_t> docx = Sample("report.docx");
    for (long long start : {61, 62, 63}) {
        image_.clear();
        Put(start, docx);
        const auto carved = Scan();
        const Carved* c = At(carved, start);
        ASSERT_NE(c, nullptr) << start;
        EXPECT_EQ(c->name, "[Content_Types].xml_Annual report_2018-09-10 11-12-13000.DOCX")
            << start;
        EXPECT_EQ(c->folder, "Office/Word/Max Checker") << start;
    }
}

}  // namespace
