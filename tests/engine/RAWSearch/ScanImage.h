// Runs the signature search with the real analysers over an image held in
// memory and lists what it carved.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "DataRun.h"
#include "RawFileAnalyserList.h"
#include "RawSearchController.h"
#include "RawTestSupport.h"
#include "support/MemoryStorageDevice.h"

namespace rawtest {

struct Carved {
    long long start = 0;
    long long size = 0;
    std::string name;    // as the tree shows it
    std::string folder;  // the folders above it
};

inline std::vector<Carved> ScanImage(std::vector<uint8_t> image, int sectorSize = 512,
                                     int blockSectors = 64) {
    image.resize((image.size() + sectorSize - 1) / sectorSize * sectorSize);
    velmora::test::MemoryStorageDevice disk(image, sectorSize);
    RecordingBuilder builder;
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
    for (IFileNode* f : builder.Files()) {
        auto* node = dynamic_cast<CFileNode*>(f);
        out.push_back({node->GetDataRunList()->GetFirst()->start, f->GetFileSize(),
                       f->GetFileName(), builder.FolderPath(f)});
    }
    CRawFileAnalyserListSingle::CreateInstance().ClearSearchSet();
    return out;
}

inline const Carved* CarvedAt(const std::vector<Carved>& carved, long long start) {
    for (const Carved& c : carved) {
        if (c.start == start)
            return &c;
    }
    return nullptr;
}

// Places `bytes` at `sector` of the image, growing it.
inline void PutAt(std::vector<uint8_t>& image, long long sector, const std::vector<uint8_t>& bytes,
                  int sectorSize = 512) {
    const size_t at = static_cast<size_t>(sector) * static_cast<size_t>(sectorSize);
    if (image.size() < at + bytes.size())
        image.resize(at + bytes.size());
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<long>(at));
}

}  // namespace rawtest
