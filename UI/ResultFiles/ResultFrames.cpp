#include "ResultFrames.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "ByteReader.h"
#include "RSData.h"

namespace SaveRestoreResult {

// GUIDs in their stored form: the first three groups little-endian.
const tagGUIDSIGN frFileSystemSearchControllerList = {{0x94, 0x63, 0x9B, 0x40, 0x81, 0xF6, 0x88,
                                                       0x4E, 0xA2, 0x0F, 0x5D, 0x63, 0x57, 0x82,
                                                       0xED, 0x75}};
const tagGUIDSIGN frDiskDevice = {{0x76, 0xA6, 0x72, 0xB0, 0x48, 0x05, 0x8B, 0x46, 0xBA, 0x9E, 0x91,
                                   0x09, 0x3A, 0x63, 0xB5, 0x17}};
const tagGUIDSIGN frFileSystemNode = {{0x6C, 0xF2, 0x08, 0xD2, 0x8C, 0x07, 0x34, 0x4E, 0x9D, 0x71,
                                       0xD9, 0x1F, 0x53, 0x5F, 0x7B, 0x57}};

// {2C7B1E6A-D493-4B0F-8E51-2A7C94D3B6F1}
const tagGUIDSIGN frFrameChecks = {{0x6A, 0x1E, 0x7B, 0x2C, 0x93, 0xD4, 0x0F, 0x4B, 0x8E, 0x51,
                                    0x2A, 0x7C, 0x94, 0xD3, 0xB6, 0xF1}};

// {8F3C5D21-6B0A-4E97-A4D2-13C5E7F9B086}
const tagGUIDSIGN frValidDataLengths = {{0x21, 0x5D, 0x3C, 0x8F, 0x0A, 0x6B, 0x97, 0x4E, 0xA4, 0xD2,
                                         0x13, 0xC5, 0xE7, 0xF9, 0xB0, 0x86}};

namespace {

constexpr size_t kReaderPiece = 1u << 16;
constexpr int32_t kMaxFrameChecks = 16;

}  // namespace

// ---------------------------------------------------------------------------
// Frame checks

uint32_t FrameCrc(uint32_t crc, const void* data, size_t size) {
    const auto* p = static_cast<const Bytef*>(data);
    while (size != 0) {
        const auto n = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
        crc = static_cast<uint32_t>(::crc32(crc, p, n));
        p += n;
        size -= n;
    }
    return crc;
}

void MarkFrameChecks(FILEHEADER& header) {
    std::memcpy(header.description, kFrameChecksMark, sizeof kFrameChecksMark);
}

bool HasFrameChecks(const FILEHEADER& header) {
    return std::memcmp(header.description, kFrameChecksMark, sizeof kFrameChecksMark) == 0;
}

void WriteFrameChecks(FrameWriter& out, const std::vector<FrameCheck>& checks) {
    out.I32(static_cast<int32_t>(checks.size()));
    for (const FrameCheck& c : checks) {
        out.Bytes(c.id, sizeof c.id);
        out.I32(static_cast<int32_t>(c.length));
        out.I32(static_cast<int32_t>(c.crc));
    }
}

bool ReadFrameChecks(FrameReader& in, std::vector<FrameCheck>* checks) {
    int32_t count = 0;
    if (!in.I32(&count) || count < 1 || count > kMaxFrameChecks)
        return false;
    checks->clear();
    for (int32_t i = 0; i < count; ++i) {
        FrameCheck c;
        int32_t length = 0, crc = 0;
        if (!in.Bytes(c.id, sizeof c.id) || !in.I32(&length) || !in.I32(&crc))
            return false;
        c.length = static_cast<uint32_t>(length);
        c.crc = static_cast<uint32_t>(crc);
        checks->push_back(c);
    }
    return in.Remaining() == 0;
}

bool FramesMatchTheirChecks(IRSData& archive) {
    std::vector<FrameCheck> checks;
    try {
        if (archive.OpenFrame(frFrameChecks) == 0)
            return false;
        {
            FrameReader in(&archive);
            if (!ReadFrameChecks(in, &checks))
                return false;
        }
        archive.CloseFrame();
        auto listed = [&](const tagGUIDSIGN& id) {
            return std::any_of(checks.begin(), checks.end(), [&](const FrameCheck& c) {
                return std::memcmp(c.id, id.bytes, sizeof c.id) == 0;
            });
        };
        for (const tagGUIDSIGN* id :
             {&frFileSystemSearchControllerList, &frDiskDevice, &frFileSystemNode}) {
            if (!listed(*id))
                return false;
        }
        // A valid-length frame nothing vouches for could have been put
        // there to make a file's data read as zeros, or the reverse.
        if (!listed(frValidDataLengths)) {
            bool present = false;
            try {
                present = archive.OpenFrame(frValidDataLengths) != 0;
            } catch (const CRSException&) {
                // Not there (the archive's answer for a missing frame).
            }
            archive.CloseFrame();
            if (present)
                return false;
        }
        std::vector<uint8_t> piece(1u << 20);
        for (const FrameCheck& check : checks) {
            tagGUIDSIGN id;
            std::memcpy(id.bytes, check.id, sizeof id.bytes);
            if (archive.OpenFrame(id) == 0 || archive.GetFrameSize() != check.length)
                return false;
            uint32_t crc = 0;
            for (uint32_t left = check.length; left != 0;) {
                const auto n = static_cast<unsigned>(std::min<size_t>(left, piece.size()));
                archive.ReadCurFrame(piece.data(), n);
                crc = FrameCrc(crc, piece.data(), n);
                left -= n;
            }
            archive.CloseFrame();
            if (crc != check.crc)
                return false;
        }
    } catch (const CRSException&) {
        return false;
    }
    return true;
}

void WriteValidLengths(FrameWriter& out, const std::vector<ValidLengthEntry>& entries) {
    out.I64(static_cast<int64_t>(entries.size()));
    for (const ValidLengthEntry& e : entries) {
        out.I64(e.record);
        out.I64(e.length);
    }
}

bool ReadValidLengths(FrameReader& in, std::vector<ValidLengthEntry>* entries) {
    entries->clear();
    int64_t count = 0;
    if (!in.I64(&count) || count < 0 || static_cast<uint64_t>(count) != in.Remaining() / 16 ||
        in.Remaining() % 16 != 0)
        return false;
    entries->reserve(static_cast<size_t>(count));
    for (int64_t i = 0; i < count; ++i) {
        ValidLengthEntry e;
        if (!in.I64(&e.record) || !in.I64(&e.length) || e.record < 0 || e.length < 0 ||
            (!entries->empty() && e.record <= entries->back().record))
            return false;
        entries->push_back(e);
    }
    return in.Remaining() == 0;
}

// ---------------------------------------------------------------------------
// Writing

void FrameWriter::Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size != 0) {
        if (used_ == buffer_.size())
            Flush();
        const size_t n = std::min(size, buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, p, n);
        used_ += n;
        p += n;
        size -= n;
    }
}

bool FrameWriter::Flush() {
    if (!failed_ && used_ != 0) {
        try {
            if (archive_ == nullptr ||
                archive_->WriteCurFrame(buffer_.data(), static_cast<unsigned>(used_)) == 0) {
                failed_ = true;
            } else {
                crc_ = FrameCrc(crc_, buffer_.data(), used_);
                written_ += used_;
            }
        } catch (const CRSException&) {
            failed_ = true;
        }
    }
    used_ = 0;
    return !failed_;
}

// ---------------------------------------------------------------------------
// Reading

FrameReader::FrameReader(IRSData* archive) : archive_(archive) {
    try {
        remaining_ = archive_ != nullptr ? archive_->GetFrameSize() : 0;
    } catch (const CRSException&) {
        remaining_ = 0;
        failed_ = true;
    }
}

bool FrameReader::Fill(size_t want) {
    if (buffered_ - at_ >= want)
        return true;
    // Keep what is left at the front, then top up from the archive.
    const size_t left = buffered_ - at_;
    if (left != 0 && at_ != 0)
        std::memmove(buffer_.data(), buffer_.data() + at_, left);
    buffered_ = left;
    at_ = 0;
    const size_t room = std::max(want, kReaderPiece);
    if (buffer_.size() < room)
        buffer_.resize(room);
    const size_t take = static_cast<size_t>(std::min<uint64_t>(remaining_, room - buffered_));
    if (take != 0) {
        try {
            archive_->ReadCurFrame(buffer_.data() + buffered_, static_cast<unsigned>(take));
        } catch (const CRSException&) {
            remaining_ = 0;
            return false;
        }
        buffered_ += take;
        remaining_ -= take;
    }
    return buffered_ >= want;
}

bool FrameReader::Bytes(void* out, size_t size) {
    if (failed_)
        return false;
    if (size > Remaining()) {
        failed_ = true;
        return false;
    }
    auto* dst = static_cast<uint8_t*>(out);
    // Large pieces (names, run lists) are served in reader-sized steps, so a
    // record never makes the buffer grow beyond what the frame holds.
    while (size != 0) {
        const size_t step = std::min(size, kReaderPiece);
        if (!Fill(step)) {
            failed_ = true;
            return false;
        }
        std::memcpy(dst, buffer_.data() + at_, step);
        at_ += step;
        dst += step;
        size -= step;
    }
    return true;
}

bool FrameReader::Skip(uint64_t size) {
    if (failed_)
        return false;
    if (size > Remaining()) {
        failed_ = true;
        return false;
    }
    while (size != 0) {
        const size_t step = static_cast<size_t>(std::min<uint64_t>(size, kReaderPiece));
        if (!Fill(step)) {
            failed_ = true;
            return false;
        }
        at_ += step;
        size -= step;
    }
    return true;
}

bool FrameReader::U16(uint16_t* v) {
    uint8_t b[2];
    if (!Bytes(b, sizeof b))
        return false;
    *v = vk::LoadLE<uint16_t>(b);
    return true;
}

bool FrameReader::I32(int32_t* v) {
    uint8_t b[4];
    if (!Bytes(b, sizeof b))
        return false;
    *v = vk::LoadLE<int32_t>(b);
    return true;
}

bool FrameReader::I64(int64_t* v) {
    uint8_t b[8];
    if (!Bytes(b, sizeof b))
        return false;
    *v = vk::LoadLE<int64_t>(b);
    return true;
}

// ---------------------------------------------------------------------------
// Scan kind and device

void WriteScanKind(FrameWriter& out, const ScanKindRecord& kind) {
    out.I32(8);
    out.I32(kind.controllerType);
    out.I32(kind.deep);
}

int ReadScanKind(FrameReader& in, ScanKindRecord* kind) {
    int32_t length = 0;
    ScanKindRecord read;
    if (!in.I32(&length) || length != 8 || !in.I32(&read.controllerType) || !in.I32(&read.deep))
        return kResultNoScanKind;
    if (read.controllerType < 0 || read.controllerType > 2)
        return kResultNoScanKind;
    *kind = read;
    return kResultOk;
}

namespace {

// The image records travel as their fixed layouts; their texts are forced
// to end inside their fields whatever the file holds.
template <typename Record>
void WriteImageRecord(FrameWriter& out, int32_t flag, const std::optional<Record>& record) {
    out.I32(flag);
    if (record) {
        out.I32(static_cast<int32_t>(sizeof(Record)));
        out.Bytes(&*record, sizeof(Record));
    } else {
        out.I32(-1);
    }
}

template <typename Record>
bool ReadImageRecord(FrameReader& in, int32_t* flag, std::optional<Record>* record) {
    int32_t length = 0;
    if (!in.I32(flag) || !in.I32(&length))
        return false;
    if (length == -1) {
        record->reset();
        return true;
    }
    if (length != static_cast<int32_t>(sizeof(Record)))
        return false;
    Record r;
    if (!in.Bytes(&r, sizeof r))
        return false;
    *record = r;
    return true;
}

void Terminate(CDMGDeviceInfoStruct& r) {
    r.fileName[sizeof r.fileName - 1] = '\0';
    r.filePath[sizeof r.filePath - 1] = '\0';
}

void Terminate(CEDIDeviceInfoStruct& r) {
    r.deviceName[sizeof r.deviceName - 1] = '\0';
    r.imagePath[sizeof r.imagePath - 1] = '\0';
}

}  // namespace

void WriteDeviceRecord(FrameWriter& out, const DiskVolumeRecord& record) {
    out.I64(record.size);
    out.I32(record.diskIndex);
    out.I32(record.volumeIndex);
    out.I32(record.fileSystem);
    const size_t n = std::min<size_t>(record.name.size(), kMaxDeviceNameLength);
    out.I32(static_cast<int32_t>(n));
    out.Bytes(record.name.data(), n);
    WriteImageRecord(out, record.diskImage, record.dmgInfo);
    WriteImageRecord(out, record.edi, record.ediInfo);
}

int ReadDeviceRecord(FrameReader& in, DiskVolumeRecord* record) {
    DiskVolumeRecord r;
    int32_t nameLength = 0;
    if (!in.I64(&r.size) || !in.I32(&r.diskIndex) || !in.I32(&r.volumeIndex) ||
        !in.I32(&r.fileSystem) || !in.I32(&nameLength))
        return kResultBadDevice;
    if (nameLength < 0 || nameLength > kMaxDeviceNameLength)
        return kResultBadDevice;
    r.name.resize(static_cast<size_t>(nameLength));
    if (!in.Bytes(r.name.data(), r.name.size()))
        return kResultBadDevice;
    // A name is text up to its first NUL.
    r.name.resize(strnlen(r.name.c_str(), r.name.size()));
    if (!ReadImageRecord(in, &r.diskImage, &r.dmgInfo) || !ReadImageRecord(in, &r.edi, &r.ediInfo))
        return kResultBadDevice;
    if (r.dmgInfo)
        Terminate(*r.dmgInfo);
    if (r.ediInfo)
        Terminate(*r.ediInfo);
    *record = std::move(r);
    return kResultOk;
}

}  // namespace SaveRestoreResult
