// Helpers of the enumeration tests: running the fixture script, a FAT
// recogniser standing in for the real one, and the rows that carry it.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "EngineTypes.h"
#include "IStorageDevice.h"
#include "SearchInterfaces.h"
#include "SearcherRow.h"
#include "support/PlannedSearcherRows.h"
#include "support/TestSupport.h"

namespace enumtest {

using velmora::test::RunProgram;

// Knows FAT16 boot sectors (as mkfs.fat writes them) and answers 10 for
// anything else; like the real FAT recogniser it is always created.
class FakeFatAnalyze : public IVolumeAnalyze {
public:
    FakeFatAnalyze(int type, std::string label) : type_(type), label_(std::move(label)) {}
    int GetFileSystemType() override { return type_; }
    long long GetTotalSector() override { return 0; }
    int GetLabel(char* buffer, int size) override {
        if (buffer == nullptr || size <= 0)
            return 0;
        size_t n = std::min(label_.size(), static_cast<size_t>(size - 1));
        std::memcpy(buffer, label_.data(), n);
        buffer[n] = '\0';
        return static_cast<int>(n);
    }

private:
    int type_;
    std::string label_;
};

inline IVolumeAnalyze* CreateFakeFat(IStorageDevice* device, unsigned long long) {
    int ssz = device ? device->GetSectorSize() : 0;
    if (ssz < 512 || ssz > 65536)
        return new FakeFatAnalyze(FS_UNKNOWN, "");
    std::vector<char> sector(static_cast<size_t>(ssz));
    if (!device->ReadSector(sector.data(), 0, 1) ||
        std::memcmp(sector.data() + 54, "FAT16   ", 8) != 0)
        return new FakeFatAnalyze(FS_UNKNOWN, "");
    std::string label(sector.data() + 43, 11);
    while (!label.empty() && label.back() == ' ')
        label.pop_back();
    return new FakeFatAnalyze(FS_FAT16, label);
}

// Rows with only the FAT recogniser, the fake one.
inline std::vector<SearcherRow> FatOnlyRows() {
    SearcherRow fat = velmora::test::PlannedRow(SEARCHER_FAT);
    fat.createVolumeAnalyze = &CreateFakeFat;
    return {fat};
}

// Copies `sectors` 512-byte sectors from `start` of `from` into a new file
// `to`, leaving holes where the source is zero (the images are sparse).
inline bool CopySectors(const std::string& from, const std::string& to, long long start,
                        long long sectors) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = in >= 0 && out >= 0;
    std::vector<char> buf(1 << 20), zero(1 << 20, 0);
    long long done = 0, total = sectors * 512;
    while (ok && done < total) {
        size_t want = static_cast<size_t>(
            std::min<long long>(static_cast<long long>(buf.size()), total - done));
        ssize_t n = pread(in, buf.data(), want, start * 512 + done);
        if (n <= 0)
            break;
        if (std::memcmp(buf.data(), zero.data(), static_cast<size_t>(n)) != 0)
            ok = pwrite(out, buf.data(), static_cast<size_t>(n), done) == n;
        done += n;
    }
    ok = ok && ftruncate(out, total) == 0;
    if (in >= 0)
        close(in);
    if (out >= 0)
        close(out);
    return ok;
}

}  // namespace enumtest
