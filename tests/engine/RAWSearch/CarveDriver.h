// Two ways to run analysers in tests: a whole signature search over a disk
// image held in memory (the real registry, the real trees), and one
// streaming candidate fed sector by sector the way the search feeds it, with
// blocks of a chosen length, to pin down where and how it ends.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "DataRun.h"
#include "FileNode.h"
#include "RawFileAnalyserList.h"
#include "RawSearchController.h"
#include "RawTestSupport.h"
#include "support/TestSupport.h"

namespace rawtest {

inline std::vector<uint8_t> Sample(const std::string& name) {
    return velmora::test::ReadFile(velmora::test::SourceDir() + "/tests/carve/samples/" + name);
}

struct Carved {
    long long start;
    long long size;
    std::string name;
    std::string folder;
};

// A disk image built piece by piece.
class Image {
public:
    explicit Image(int sectorSize = 512) : sectorSize_(sectorSize) {}
    void Put(long long sector, const std::vector<uint8_t>& bytes) {
        const size_t at = static_cast<size_t>(sector) * static_cast<size_t>(sectorSize_);
        if (bytes_.size() < at + bytes.size())
            bytes_.resize(at + bytes.size());
        std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<long>(at));
    }
    // Random bytes that start no file at any sector.
    void Noise(long long sector, size_t count, unsigned seed = 1) {
        std::mt19937 rnd(seed);
        std::vector<uint8_t> r(count);
        for (auto& b : r)
            b = static_cast<uint8_t>(rnd() | 1);
        for (size_t i = 0; i < r.size(); i += static_cast<size_t>(sectorSize_))
            r[i] = 0x5A;
        Put(sector, r);
    }
    std::vector<uint8_t>& Bytes() { return bytes_; }
    int SectorSize() const { return sectorSize_; }

    // The whole search, in blocks of `blockSectors`.
    std::vector<Carved> Scan(long long blockSectors = 64, long long padSectors = 16) {
        const size_t S = static_cast<size_t>(sectorSize_);
        bytes_.resize((bytes_.size() + S - 1) / S * S + static_cast<size_t>(padSectors) * S);
        velmora::test::MemoryStorageDevice disk(bytes_, sectorSize_);
        RecordingBuilder builder;
        {
            CRAWSearchController search;
            search.SetDevice(&disk);
            search.SetBlockSize(static_cast<int>(blockSectors));
            search.SetDirecotryTreeBuilder(&builder);
            search.PreparetoSearch();
            const long long total = disk.GetTotalSectors();
            for (long long first = 0; first < total; first += blockSectors)
                search.AnalyzeBlock(first, std::min(blockSectors, total - first));
            search.EndSearch(1);
        }
        std::vector<Carved> out;
        for (IFileNode* f : builder.Files()) {
            auto* node = dynamic_cast<CFileNode*>(f);
            out.push_back({node->GetDataRunList()->GetFirst()->start, f->GetFileSize(),
                           f->GetFileName(), builder.FolderPath(f)});
        }
        CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet();
        return out;
    }

private:
    int sectorSize_;
    std::vector<uint8_t> bytes_;
};

inline const Carved* CarvedAt(const std::vector<Carved>& carved, long long start) {
    for (const Carved& c : carved) {
        if (c.start == start)
            return &c;
    }
    return nullptr;
}

// What became of one streaming candidate.
struct Streamed {
    int answer = 0;  // 1 finished; 0 never finished (the disk ended)
    long long size = 0;
    long long endSector = -1;  // where it finished
    std::string name;
    RAW_FILE_TYPE type = 0;
    bool handedOver = false;  // its analyser was replaced by a whole-file partner
    IRawFileAnalyser* owner = nullptr;
};

// Recognises `file` with `analyser` (which must accept its first sector),
// places it at `start` of a disk of `filler` bytes (`after` of them behind
// it) and streams the sectors past the candidate in blocks of
// `blockSectors`, as the search does.
inline Streamed StreamFile(IRawFileAnalyser& analyser, const std::vector<uint8_t>& file,
                           int sectorSize = 512, long long blockSectors = 64, uint8_t filler = 0,
                           size_t after = 8192, long long start = 3) {
    const size_t S = static_cast<size_t>(sectorSize);
    std::vector<uint8_t> disk(static_cast<size_t>(start) * S, 0x33);
    disk.insert(disk.end(), file.begin(), file.end());
    disk.resize(disk.size() + after, filler);
    disk.resize((disk.size() + S - 1) / S * S, filler);
    const long long total = static_cast<long long>(disk.size() / S);
    Streamed out;
    CRawFileInfo scratch;
    std::vector<uint8_t> first(disk.begin() + static_cast<long>(start * sectorSize),
                               disk.begin() + static_cast<long>((start + 1) * sectorSize));
    if (analyser.AnalyseBuffer(first.data(), scratch) == 0)
        return out;
    std::unique_ptr<CRawFileInfo> info(analyser.CreateRawFileInfo());
    if (!info)
        return out;
    info->m_type = scratch.m_type;
    info->m_size = scratch.m_size;
    info->m_startSector = start;
    info->m_analyser = &analyser;
    out.type = info->m_type;
    if (info->m_size != 0 || !info->WhetherImplementGuess()) {
        out.answer = 1;
        out.size = info->m_size;
        return out;
    }
    const size_t blockBytes = static_cast<size_t>(blockSectors) * S;
    std::vector<uint8_t> buffer(2 * blockBytes + CRawFileInfo::kContextSlackBytes, 0);
    for (long long b = 0; b < total; b += blockSectors) {
        const long long count = std::min(blockSectors, total - b);
        std::fill(buffer.begin() + static_cast<long>(blockBytes), buffer.end(), 0);
        std::copy(disk.begin() + static_cast<long>(b * sectorSize),
                  disk.begin() + static_cast<long>((b + count) * sectorSize),
                  buffer.begin() + static_cast<long>(blockBytes));
        for (long long s = std::max(b, start); s < b + count; ++s) {
            unsigned char* sector = buffer.data() + blockBytes + static_cast<size_t>(s - b) * S;
            CRawFileInfo::SearchContext context;
            context.windowFirstSector = b > 0 ? b - blockSectors : b;
            context.windowEndSector = b + count;
            int zeros = 0;
            while (zeros < 32 && sector[S - 1 - static_cast<size_t>(zeros)] == 0)
                ++zeros;
            context.zeroTail = zeros / 4 * 4;
            if (info->CalcRawSize(sector, sectorSize, s, context) == 1) {
                out.answer = 1;
                out.size = info->m_size;
                out.endSector = s;
                out.name = info->GetRawFileName();
                out.type = info->m_type;
                if (info->m_size == 0)
                    info->WillBeRemove(sector, s);
                out.handedOver = info->m_analyser != &analyser;
                out.owner = info->m_analyser;
                return out;
            }
        }
        std::copy(buffer.begin() + static_cast<long>(blockBytes),
                  buffer.begin() + static_cast<long>(2 * blockBytes), buffer.begin());
    }
    info->WillBeRemove(nullptr, -1);
    out.size = info->m_size;
    out.handedOver = info->m_analyser != &analyser;
    out.owner = info->m_analyser;
    out.type = info->m_type;
    return out;
}

// The whole-file road: `file` at sector 3 of a disk, then `after` filler.
inline long long WholeFileSize(IRawFileAnalyser& analyser, const std::vector<uint8_t>& file,
                               uint8_t filler = 0, size_t after = 8192, int sectorSize = 512,
                               CRawFileInfo* out = nullptr) {
    const size_t S = static_cast<size_t>(sectorSize);
    std::vector<uint8_t> disk(3 * S, 0x33);
    disk.insert(disk.end(), file.begin(), file.end());
    disk.resize(disk.size() + after, filler);
    disk.resize((disk.size() + S - 1) / S * S, filler);
    velmora::test::MemoryStorageDevice device(disk, sectorSize);
    CRawFileInfo info;
    info.m_startSector = 3;
    const int answer = analyser.GetRawFileSize(info, &device);
    if (out != nullptr)
        *out = info;
    return answer != 0 ? info.m_size : -1;
}

}  // namespace rawtest
