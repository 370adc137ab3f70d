// The records of a result file inside the framed archive: the three frames,
// the device record, and the bounded reader and buffered writer every record
// goes through. A result file may come from anywhere, so the reader never
// trusts a count: it consumes exactly the bytes a record declares, and a
// record that does not fit what is left of its frame ends the reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "StorageDeviceData.h"

class IRSData;
struct FILEHEADER;
struct tagGUIDSIGN;

namespace SaveRestoreResult {

// The frames, in the order a result file holds them.
extern const tagGUIDSIGN frFileSystemSearchControllerList;
extern const tagGUIDSIGN frDiskDevice;
extern const tagGUIDSIGN frFileSystemNode;
// After them, in files this program writes: a CRC-32 over each of the three
// (readers that do not know it pass it by). A file that has it says so in
// its header, whose own CRC guards the mark: a damaged check frame is found
// as surely as a damaged frame. Files without the mark load unchecked.
extern const tagGUIDSIGN frFrameChecks;
// Also in files this program writes, before the checks (and checked with
// the others): the valid data length of each node that has one below its
// size (NTFS initialized size, exFAT valid data length), which the node
// record has no field for. A file without it (an earlier version's) loads
// with every node valid to its size.
extern const tagGUIDSIGN frValidDataLengths;

// The mark: the first bytes of the header's description text, whose length
// stays 0 as in every result file.
inline constexpr char kFrameChecksMark[8] = {'V', 'F', 'C', 'R', 'C', '3', '2', '\0'};

// What a save or a load ends with, as the progress record's result reports
// it. 1 to 7 are the codes the interface already knows; 8 to 10 tell what
// a load of a damaged file or a save that did not finish came to.
enum ResultFileCode : int {
    kResultOk = 0,
    kResultNoArchive = 1,    // the archive object could not be made
    kResultCannotOpen = 2,   // the file could not be opened, or (save) created or written
    kResultBadHeader = 3,    // header CRC, version or status
    kResultNoScanKind = 4,   // the scan-kind frame is missing or not understood
    kResultBadDevice = 5,    // the device frame is missing or damaged
    kResultNoEdiDevice = 6,  // the stored edi image cannot be found
    kResultNoDevice = 7,     // no live device matches, or nothing of the file is for it
    kResultDamaged = 8,      // the node frame is damaged; what passed its checks was kept
    kResultCancelled = 9,    // a save stopped by the user; the unfinished file was removed
    kResultBusy = 10,        // another save or load is under way
};

// The extension of result files the program writes and offers to open.
inline constexpr char kResultFileExtension[] = ".Velmora";

// Names longer than this are refused in the device record.
constexpr int32_t kMaxDeviceNameLength = 4096;

// The scan-kind frame.
struct ScanKindRecord {
    int32_t controllerType = 3;  // 0 quick, 1 deep of a volume, 2 deep of a disk, 3 none
    int32_t deep = 0;
};

// The scanned device as the device catalogue records it.
struct DiskVolumeRecord {
    int64_t size = 0;  // bytes
    int32_t diskIndex = -1;
    int32_t volumeIndex = -1;  // -1 for a whole disk
    int32_t fileSystem = 10;
    std::string name;
    int32_t diskImage = 0;
    std::optional<CDMGDeviceInfoStruct> dmgInfo;
    int32_t edi = 0;
    std::optional<CEDIDeviceInfoStruct> ediInfo;
};

// Little-endian bytes gathered in memory and handed to the open frame in
// large pieces. The first failed write is remembered; later ones are not
// tried.
class FrameWriter {
public:
    explicit FrameWriter(IRSData* archive) : archive_(archive) {}
    ~FrameWriter() = default;
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    void Bytes(const void* data, size_t size);
    void I16(uint16_t v) { Put(v); }
    void I32(int32_t v) { Put(v); }
    void I64(int64_t v) { Put(v); }
    // Writes what is gathered; false once any write failed.
    bool Flush();
    bool Failed() const { return failed_; }
    // What was written so far: its length and CRC-32 (FrameCrc).
    uint64_t Written() const { return written_; }
    uint32_t Crc() const { return crc_; }

private:
    template <typename T>
    void Put(T v) {
        if (used_ + sizeof(T) > buffer_.size())
            Flush();
        for (size_t i = 0; i < sizeof(T); ++i)
            buffer_[used_ + i] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
        used_ += sizeof(T);
    }

    IRSData* archive_;
    std::vector<uint8_t> buffer_ = std::vector<uint8_t>(1u << 20);
    size_t used_ = 0;
    bool failed_ = false;
    uint64_t written_ = 0;
    uint32_t crc_ = 0;
};

// Reads the open frame of an archive in read mode, never past its end. A
// read that cannot be served whole consumes nothing more and fails, and so
// does every read after it; an archive error (a file cut short under the
// frame) counts as the end.
class FrameReader {
public:
    explicit FrameReader(IRSData* archive);
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    bool Bytes(void* out, size_t size);
    bool Skip(uint64_t size);
    bool U16(uint16_t* v);
    bool I32(int32_t* v);
    bool I64(int64_t* v);
    // Bytes of the frame not yet consumed.
    uint64_t Remaining() const { return remaining_ + (buffered_ - at_); }
    bool Failed() const { return failed_; }

private:
    bool Fill(size_t want);

    IRSData* archive_;
    uint64_t remaining_ = 0;  // in the archive, not yet buffered
    std::vector<uint8_t> buffer_;
    size_t buffered_ = 0;
    size_t at_ = 0;
    bool failed_ = false;
};

struct FrameCheck {
    uint8_t id[16] = {};  // the frame's identifier
    uint32_t length = 0;
    uint32_t crc = 0;
};

// CRC-32 (as zlib computes it) of `size` bytes, continuing `crc`.
uint32_t FrameCrc(uint32_t crc, const void* data, size_t size);
void MarkFrameChecks(FILEHEADER& header);
bool HasFrameChecks(const FILEHEADER& header);
// Count (1 to 16), then per frame its identifier, length and CRC.
void WriteFrameChecks(FrameWriter& out, const std::vector<FrameCheck>& checks);
bool ReadFrameChecks(FrameReader& in, std::vector<FrameCheck>* checks);
// True when the file holds the check frame, each of the three frames and
// every other frame it lists has the length and the CRC it gives, and a
// valid-length frame the file holds is listed.
bool FramesMatchTheirChecks(IRSData& archive);

// One entry of the valid-length frame: the node record it belongs to,
// counted from 0 over the node frame's file-node records (marker 0) of all
// roots in file order, and the bytes from the file's start that hold data.
struct ValidLengthEntry {
    int64_t record = 0;
    int64_t length = 0;
};
// Count, then each entry as two int64, records strictly increasing.
void WriteValidLengths(FrameWriter& out, const std::vector<ValidLengthEntry>& entries);
// False for a frame that is not exactly such a list (a count that does not
// fill it, records out of order, a negative length).
bool ReadValidLengths(FrameReader& in, std::vector<ValidLengthEntry>* entries);

void WriteScanKind(FrameWriter& out, const ScanKindRecord& kind);
// kResultOk, or kResultNoScanKind for a record of another length or kind.
int ReadScanKind(FrameReader& in, ScanKindRecord* kind);

void WriteDeviceRecord(FrameWriter& out, const DiskVolumeRecord& record);
// kResultOk or kResultBadDevice: a record cut short, a name length outside
// 0 to 4096, or an image record whose length is neither -1 nor the size of
// its kind. The text fields of the image records come back terminated.
int ReadDeviceRecord(FrameReader& in, DiskVolumeRecord* record);

}  // namespace SaveRestoreResult
