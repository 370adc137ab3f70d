// Reader of NTFS compressed files: LZNT1 compression units of 16 clusters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FileReader.h"

class IProgress;

enum CompressUnitType : int32_t {
    NONECOMPRESSED_UNIT = 0,
    COMPRESSED_UNIT = 1,
    SPARSE_UNIT = 2,
};

// One piece of a compression unit.
struct tagCompressDataRun {
    long long s64LCN;  // -1 when unallocated, kLostRunStart when lost
    int32_t count;     // clusters
    int32_t eType;     // CompressUnitType
};

// Clusters per compression unit, and the largest unit the reader handles.
constexpr int kCompressUnitClusters = 16;
constexpr int kMaxCompressUnitBytes = 64 * 1024;
// Output of one LZNT1 chunk.
constexpr int kLznt1ChunkBytes = 4096;

// Cuts the runs into the pieces of 16-cluster units, each piece typed by
// how its unit is stored. Lengths above what fits are refused (false).
// Regrouping stops once `maxClusters` clusters are placed (the file's
// clusters, so a damaged run length cannot make the list huge).
bool ReGroupCompressDataRunList(const std::vector<DataRun>& runs,
                                std::vector<tagCompressDataRun>& pieces,
                                long long maxClusters = 1LL << 40);

// Decodes one LZNT1 chunk (header included) of `size` bytes into `out`
// (room for `room` bytes). The decoded length, or -1 when the chunk is
// damaged: a header whose length passes the data, a back-reference before
// the start of the chunk's output, or output past `room`.
int DecompressBlock(const uint8_t* chunk, size_t size, uint8_t* out, size_t room);

// Decodes a whole compression unit read from disk (`size` bytes) into
// `out`, which receives exactly `unitBytes` bytes: every chunk fills its
// 4 KiB (a short chunk and a unit that ends early are zero-filled, as NTFS
// reads them). A first header of 0 means the unit is stored as read.
// False when a chunk is damaged.
bool DecompressUnit(const uint8_t* data, size_t size, uint8_t* out, size_t unitBytes);

// Reads an NTFS compressed file's data unit by unit, as any reader of the
// engine (recovery writes what it reads: ReadPieceLength is a unit, so a
// stop or a progress report falls between units), or into memory. Clusters
// above 4 KiB are refused: 16 of them would not fit one unit buffer.
//
// Damaged media: a unit whose clusters cannot all be read, or whose
// compressed data does not decode, comes back as zeros (a plain unit keeps
// every sector that could be read) and its bytes are added to
// GetLostRanges(); the units around it are kept.
class CCompressFileReader : public CFileReader {
public:
    CCompressFileReader() = default;
    ~CCompressFileReader() override = default;

    int Open(IStorageDevice* device, CFileNode* node, CSearchedPartitionInfo* partition) override;

    // Decodes the first `size` bytes of the file into `buffer`.
    bool Recovery(char* buffer, int size, IProgress* progress);
    // Decodes only the units that hold [offset, offset + length).
    unsigned ReadData(long long offset, char* buffer, unsigned length);
    unsigned ReadData(long long offset, char* buffer, unsigned length, int* error) override;
    // Cuts `runs` (in this reader's cluster geometry) into unit pieces and
    // recovers at most `budget` bytes of them into the buffer of
    // Recovery(buffer).
    bool DeCompressFile(IDataRunList* runs, long long budget);
    // Recovers the units made of `pieces` (as ReGroupCompressDataRunList
    // cuts them) into the current target, at most `budget` bytes.
    bool RecoverCompressFile(const std::vector<tagCompressDataRun>& pieces, long long budget);
    IFileReader* Clone() override;
    // One compression unit; resident data has no units.
    unsigned ReadPieceLength() const override {
        return resident_ ? 0u : static_cast<unsigned>(UnitBytes());
    }

    // The unit pieces of the opened file.
    const std::vector<tagCompressDataRun>& GetPieces() const { return layout_.pieces; }

private:
    // Pieces grouped into units: unit k is pieces [firsts[k], firsts[k+1]).
    struct Layout {
        std::vector<tagCompressDataRun> pieces;
        std::vector<size_t> firsts;
    };
    bool BuildLayout(const std::vector<DataRun>& runs, long long bytes, Layout& layout) const;
    static void IndexUnits(Layout& layout);
    long long UnitBytes() const {
        return static_cast<long long>(bytesPerCluster_) * kCompressUnitClusters;
    }
    // Decodes unit `k` into `out` (unit size bytes). What cannot be read or
    // decoded is zeros and goes to the lost ranges; false then.
    bool DecodeUnit(const Layout& layout, size_t k, std::vector<uint8_t>& raw, uint8_t* out);
    // Decodes bytes [first, first + length) of the data into `out`; false
    // when part of it was lost.
    bool DecodeRange(const Layout& layout, long long first, long long length, uint8_t* out);
    // Zeros the bytes of the unit starting at file byte `unitStart` that lie
    // past the valid data length.
    void ZeroUnwritten(long long unitStart, uint8_t* out) const;
    // Hands decoded bytes to the memory buffer at the write position.
    void Emit(const uint8_t* data, size_t length);

    Layout layout_;
    IProgress* progress_ = nullptr;
    // The memory buffer of Recovery(buffer).
    char* memory_ = nullptr;
    int memorySize_ = 0;
    bool memoryMode_ = false;
    long long writePosition_ = 0;
};

// A new, unopened NTFS compressed-file reader (for the NTFS nodes'
// CreateCompressFileReader).
CCompressFileReader* CreateCompressFileReader();
