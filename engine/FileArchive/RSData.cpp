#include "RSData.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "ByteReader.h"
#include "CRC.h"

FILEHEADER::FILEHEADER() : version(0), crc(0), status(0), descriptionLength(0), description{} {
    std::memcpy(sign, kArchiveSignature, sizeof sign);
}

void SerializeFileHeader(const FILEHEADER& header, uint8_t out[kArchiveHeaderSize]) {
    std::memcpy(out, header.sign, 16);
    vk::StoreLE<int32_t>(out + 16, header.version);
    vk::StoreLE<int32_t>(out + 20, header.crc);
    vk::StoreLE<int32_t>(out + 24, header.status);
    vk::StoreLE<int32_t>(out + 28, header.descriptionLength);
    std::memcpy(out + 32, header.description, kMaxDescription);
}

void ParseFileHeader(const uint8_t in[kArchiveHeaderSize], FILEHEADER& header) {
    vk::ByteReader r(in, kArchiveHeaderSize);
    r.Copy(0, header.sign, 16);
    header.version = r.LES32(16);
    header.crc = r.LES32(20);
    header.status = r.LES32(24);
    header.descriptionLength = r.LES32(28);
    r.Copy(32, header.description, kMaxDescription);
}

unsigned short FileHeaderCrc(const uint8_t bytes[kArchiveHeaderSize]) {
    uint8_t copy[kArchiveHeaderSize];
    std::memcpy(copy, bytes, sizeof copy);
    std::memset(copy + 20, 0, 4);
    return CCRC::RunCRC16(copy, sizeof copy, kArchiveCrcPolynomial);
}

CRSData::CRSData(RSMode mode) : mode_(mode) {}

CRSData::~CRSData() {
    EndRS();
}

void CRSData::Raise(int32_t code) {
    pendingError_ = 0;
    throw CRSException(code);
}

int CRSData::CheckFile() {
    if (!file_.IsOpen() || !file_.Seek(0))
        return 0;
    uint8_t raw[kArchiveHeaderSize];
    if (file_.Read(raw, sizeof raw) != kArchiveHeaderSize)
        return 0;
    if (std::memcmp(raw, kArchiveSignature, 16) != 0)
        return 0;
    int32_t status = vk::LoadLE<int32_t>(raw + 24);
    return status >= 1 && status <= 4;
}

int CRSData::StartRS(const char* path, int create) {
    if (!path || !*path)
        return 0;
    EndRS();
    int mode = mode_ == kRSRead ? CStdFile::kReadOnly
                                : (create ? CStdFile::kCreateTruncate : CStdFile::kReadWriteCreate);
    file_.Open(path, mode);
    return file_.IsOpen();
}

int CRSData::StartRSOnDescriptor(int fd, const char* path) {
    EndRS();
    if (mode_ != kRSWrite || fd < 0)
        return 0;
    return file_.Adopt(fd, path) ? 1 : 0;
}

int CRSData::EndRS() {
    // A writer that forgets to close its last frame would otherwise leave a
    // zero length in front of its data, and the data would be read as heads.
    bool ok = true;
    if (mode_ == kRSWrite && framePosition_ >= 0 && file_.IsOpen())
        ok = WriteFrameHead(framePosition_, frameLength_);
    // A frame write that failed earlier left the archive short.
    if (mode_ == kRSWrite && pendingError_)
        ok = false;
    pendingError_ = 0;
    framePosition_ = -1;
    frameLength_ = 0;
    frameRead_ = 0;
    if (!file_.Close())
        ok = false;
    return ok ? 1 : 0;
}

int CRSData::WriteFileHeader(const FILEHEADER& header) {
    if (mode_ != kRSWrite || !file_.IsOpen())
        return 0;
    FILEHEADER h = header;
    h.version = kArchiveVersion;
    h.crc = 0;
    uint8_t raw[kArchiveHeaderSize];
    SerializeFileHeader(h, raw);
    vk::StoreLE<uint32_t>(raw + 20, FileHeaderCrc(raw));
    return file_.Seek(0) && file_.Write(raw, sizeof raw);
}

int CRSData::ReadFileHeader(FILEHEADER& header) {
    if (!file_.IsOpen() || !file_.Seek(0))
        return 0;
    uint8_t raw[kArchiveHeaderSize];
    if (file_.Read(raw, sizeof raw) != kArchiveHeaderSize)
        return 0;
    ParseFileHeader(raw, header);
    uint32_t stored = vk::LoadLE<uint32_t>(raw + 20);
    uint16_t computed = FileHeaderCrc(raw);
    header.crc = computed;
    return stored == computed && header.version == kArchiveVersion;
}

FileStatus CRSData::GetStatus() {
    if (mode_ != kRSRead)
        Raise(kRSErrWrongMode);
    FILEHEADER h;
    if (!ReadFileHeader(h))
        return kFileStatusNone;
    if (h.status >= 5)
        Raise(kRSErrBadHeader);
    return static_cast<FileStatus>(h.status);
}

int CRSData::SetStatus(FileStatus status) {
    if (mode_ != kRSWrite)
        Raise(kRSErrWrongMode);
    FILEHEADER h;
    if (!ReadFileHeader(h))
        h = FILEHEADER();
    h.status = status;
    return WriteFileHeader(h);
}

int CRSData::SetFileDescription(const char* text) {
    if (mode_ != kRSWrite)
        Raise(kRSErrWrongMode);
    FILEHEADER h;
    if (!ReadFileHeader(h))
        return 0;
    size_t len = text ? strnlen(text, kMaxDescription) : 0;
    std::memset(h.description, 0, sizeof h.description);
    if (len)
        std::memcpy(h.description, text, len);
    h.descriptionLength = static_cast<int32_t>(len);
    return WriteFileHeader(h);
}

int CRSData::GetFileDescription(char* buffer, int size) {
    if (!buffer || size < 1)
        return 0;
    if (mode_ != kRSRead)
        Raise(kRSErrWrongMode);
    FILEHEADER h;
    if (!ReadFileHeader(h)) {
        buffer[0] = 0;
        return 0;
    }
    if (h.descriptionLength < 0 || h.descriptionLength > kMaxDescription)
        Raise(kRSErrBadHeader);
    int n = std::min(h.descriptionLength, size - 1);
    std::memcpy(buffer, h.description, static_cast<size_t>(n));
    buffer[n] = 0;
    return n;
}

bool CRSData::WriteFrameHead(int64_t position, uint32_t length) {
    uint8_t head[kFrameHeaderSize];
    std::memcpy(head, kArchiveSignature, 16);
    std::memcpy(head + 16, frameId_, 16);
    vk::StoreLE<uint32_t>(head + 32, length);
    return file_.Seek(position) && file_.Write(head, sizeof head);
}

int CRSData::OpenFrame(const tagGUIDSIGN& id) {
    if (framePosition_ >= 0)
        CloseFrame();
    if (mode_ == kRSWrite) {
        std::memcpy(frameId_, id.bytes, 16);
        int64_t end = 0;
        if (!file_.GetFileLength(&end) || !WriteFrameHead(end, 0))
            Raise(kRSErrFrameWrite);
        framePosition_ = end;
        frameLength_ = 0;
        frameRead_ = 0;
        return 1;
    }

    int64_t fileLength = 0;
    if (!file_.GetFileLength(&fileLength))
        fileLength = 0;
    // Each step moves at least one head forward, so the walk ends on any
    // file; a length that runs past the end ends it too.
    int64_t pos = kArchiveHeaderSize;
    while (pos + kFrameHeaderSize <= fileLength) {
        uint8_t head[kFrameHeaderSize];
        if (!file_.Seek(pos) || file_.Read(head, sizeof head) != kFrameHeaderSize)
            break;
        uint32_t length = vk::LoadLE<uint32_t>(head + 32);
        int64_t dataStart = pos + kFrameHeaderSize;
        if (std::memcmp(head, kArchiveSignature, 16) == 0 &&
            std::memcmp(head + 16, id.bytes, 16) == 0) {
            // The data must be in the file before anyone sizes a buffer by it.
            if (static_cast<int64_t>(length) > fileLength - dataStart)
                Raise(kRSErrShortRead);
            std::memcpy(frameId_, id.bytes, 16);
            framePosition_ = pos;
            frameLength_ = length;
            frameRead_ = 0;
            return 1;
        }
        pos = dataStart + static_cast<int64_t>(length);
    }
    std::memset(frameId_, 0, sizeof frameId_);
    framePosition_ = -1;
    frameLength_ = 0;
    frameRead_ = 0;
    Raise(kRSErrNoSuchFrame);
}

int CRSData::CloseFrame() {
    if (mode_ == kRSWrite && framePosition_ >= 0) {
        int64_t position = framePosition_;
        framePosition_ = -1;
        if (!WriteFrameHead(position, frameLength_))
            Raise(kRSErrFrameWrite);
    }
    framePosition_ = -1;
    frameLength_ = 0;
    frameRead_ = 0;
    return 1;
}

unsigned CRSData::GetFrameSize() {
    if (framePosition_ < 0)
        Raise(kRSErrNoFrame);
    return frameLength_;
}

unsigned CRSData::GetFrameRemaining() const {
    if (framePosition_ < 0 || mode_ != kRSRead)
        return 0;
    return frameLength_ - frameRead_;
}

int CRSData::ReadCurFrame(void* buffer, unsigned size) {
    if (mode_ != kRSRead)
        Raise(kRSErrWrongMode);
    if (framePosition_ < 0)
        Raise(kRSErrNoFrame);
    unsigned n = std::min(size, frameLength_ - frameRead_);
    if (n == 0)
        return 1;
    if (!buffer)
        Raise(kRSErrShortRead);
    int64_t at = framePosition_ + kFrameHeaderSize + frameRead_;
    if (!file_.Seek(at) || file_.Read(buffer, n) != static_cast<long long>(n))
        Raise(kRSErrShortRead);
    frameRead_ += n;
    return 1;
}

int CRSData::WriteCurFrame(const void* data, unsigned length) {
    if (pendingError_)
        return 0;
    if (mode_ != kRSWrite)
        Raise(kRSErrWrongMode);
    if (framePosition_ < 0)
        Raise(kRSErrNoFrame);
    // The stored length is 32 bits: a frame that would outgrow it is refused
    // rather than written with a wrapped length.
    if (length > std::numeric_limits<uint32_t>::max() - frameLength_) {
        pendingError_ = kRSErrFrameWrite;
        return 0;
    }
    if (length == 0)
        return 1;
    bool ok = file_.SeekToEnd() && file_.Write(data, length);
    if (!ok) {
        pendingError_ = kRSErrFrameWrite;
        return 0;
    }
    frameLength_ += length;
    return 1;
}
