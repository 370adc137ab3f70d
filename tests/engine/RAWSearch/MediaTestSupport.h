// Helpers of the audio and video analyser tests: the carve samples, disk
// images laid out sector by sector, a deep scan of such an image with the
// real registry, and a whole-file sizer run on bytes held in memory.
#pragma once

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "DataRun.h"
#include "RawFileAnalyserList.h"
#include "RawFileInfo.h"
#include "RawSearchController.h"
#include "RawTestSupport.h"
#include "support/TestSupport.h"

namespace mediatest {

using velmora::test::MemoryStorageDevice;

inline std::vector<uint8_t> Sample(const std::string& name) {
    return velmora::test::ReadFile(velmora::test::SourceDir() + "/tests/carve/samples/" + name);
}

// A disk image built sector by sector.
class Image {
public:
    explicit Image(int sectorSize = 512) : sectorSize_(sectorSize) {}
    void Put(long long sector, const std::vector<uint8_t>& bytes) {
        const size_t at = static_cast<size_t>(sector) * static_cast<size_t>(sectorSize_);
        if (bytes_.size() < at + bytes.size())
            bytes_.resize(at + bytes.size());
        std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<long>(at));
    }
    // Random bytes, none of whose sectors begins a file by chance.
    void Random(long long sector, size_t length, unsigned seed = 7) {
        std::mt19937 rnd(seed);
        std::vector<uint8_t> r(length);
        for (auto& b : r)
            b = static_cast<uint8_t>(rnd());
        for (size_t i = 0; i < r.size(); i += static_cast<size_t>(sectorSize_))
            r[i] = 0x5A;
        Put(sector, r);
    }
    void PadTo(long long sectors) {
        const size_t want = static_cast<size_t>(sectors) * static_cast<size_t>(sectorSize_);
        if (bytes_.size() < want)
            bytes_.resize(want);
    }
    std::vector<uint8_t>& Bytes() { return bytes_; }
    int SectorSize() const { return sectorSize_; }

private:
    int sectorSize_;
    std::vector<uint8_t> bytes_;
};

struct Carved {
    long long start = 0;
    long long size = 0;
    std::string name;
    std::string folder;
    int tree = 0;
    long long time = 0;
};

// Deep-scans the image with the registry as it stands (the real table
// unless a test put its own rows in), blocks of `blockSectors`.
inline std::vector<Carved> Scan(Image& image, int blockSectors = 64) {
    std::vector<uint8_t>& bytes = image.Bytes();
    const size_t ss = static_cast<size_t>(image.SectorSize());
    bytes.resize((bytes.size() + ss - 1) / ss * ss + ss);
    MemoryStorageDevice disk(bytes, image.SectorSize());
    rawtest::RecordingBuilder builder;
    {
        CRAWSearchController search;
        search.SetDevice(&disk);
        search.SetBlockSize(blockSectors);
        search.SetDirecotryTreeBuilder(&builder);
        search.PreparetoSearch();
        for (long long first = 0; first < disk.GetTotalSectors(); first += blockSectors)
            search.AnalyzeBlock(first,
                                std::min<long long>(blockSectors, disk.GetTotalSectors() - first));
        search.EndSearch(1);
    }
    std::vector<Carved> out;
    for (const auto& added : builder.added) {
        IFileNode* f = added.node;
        if (f->IsDirectory())
            continue;
        auto* node = dynamic_cast<CFileNode*>(f);
        out.push_back({node->GetDataRunList()->GetFirst()->start, f->GetFileSize(),
                       f->GetFileName(), builder.FolderPath(f), added.type, f->GetCreationTime()});
    }
    return out;
}

inline const Carved* At(const std::vector<Carved>& carved, long long start) {
    for (const Carved& c : carved) {
        if (c.start == start)
            return &c;
    }
    return nullptr;
}

// What a whole-file sizer makes of `bytes` lying at sector 0 of a device.
struct Sized {
    int answer = 0;
    CRawFileInfo info;
};
inline Sized SizeWhole(IRawFileAnalyser& sizer, std::vector<uint8_t> bytes, int sectorSize = 512) {
    bytes.resize((bytes.size() + sectorSize - 1) / sectorSize * sectorSize);
    MemoryStorageDevice disk(std::move(bytes), sectorSize);
    Sized out;
    out.answer = sizer.GetRawFileSize(out.info, &disk);
    return out;
}

// A streaming file that never ends on its own: 33 of them opening inside
// another streaming file cut that file off the stream.
class DecoyInfo : public CRawFileInfo {
public:
    bool WhetherImplementGuess() override { return true; }
    int CalcRawSize(unsigned char*, int, long long, SearchContext&) override { return 2; }
};
class DecoyAnalyser : public IRawFileAnalyser {
public:
    DecoyAnalyser() : IRawFileAnalyser(RAW_JPG) {}
    int AnalyseBuffer(unsigned char*, CRawFileInfo& info) override {
        info.m_type = RAW_JPG;
        return 1;
    }
    CRawFileInfo* CreateRawFileInfo() override { return new DecoyInfo(); }
    int GetRawFileSize(CRawFileInfo&, IStorageDevice*) override { return 0; }
};
inline IRawFileAnalyser* NewDecoyAnalyser() {
    return new DecoyAnalyser();
}

// The bytes of a file with a sector-sized head for AnalyseBuffer.
inline std::vector<uint8_t> Head(std::vector<uint8_t> bytes) {
    bytes.resize(std::max<size_t>(bytes.size(), 4096));
    return bytes;
}

}  // namespace mediatest
