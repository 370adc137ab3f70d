// The framed archive in which scan results are saved: a 132-byte header
// guarded by a CRC-16, then frames, each a 36-byte head (signature, 16-byte
// identifier, 32-bit length) followed by its bytes. All integers are
// little-endian; the layout is fixed because saved files depend on it.
#pragma once

#include <cstdint>
#include <exception>

#include "StdFile.h"

// The 16 bytes that open the file and every frame head.
inline constexpr uint8_t kArchiveSignature[16] = {0xEA, 0xF4, 0xB3, 0x1C, 0x05, 0x43, 0xB6, 0x4A,
                                                  0xB4, 0xB8, 0x24, 0x4A, 0x33, 0xD9, 0x13, 0xBB};
inline constexpr int32_t kArchiveVersion = 5800;
inline constexpr int kArchiveHeaderSize = 132;
inline constexpr int kFrameHeaderSize = 36;
inline constexpr int kMaxDescription = 100;
inline constexpr unsigned short kArchiveCrcPolynomial = 0x8005;

// A frame identifier: 16 bytes chosen by the owner of the frame.
struct tagGUIDSIGN {
    uint8_t bytes[16];
};

// Owner-defined state of the file; 1 to 4 mark a usable file.
enum FileStatus : int32_t {
    kFileStatusNone = 0,
};

enum RSMode : int {
    kRSRead = 0,
    kRSWrite = 1,
};

struct FILEHEADER {
    uint8_t sign[16];
    int32_t version;
    int32_t crc;
    int32_t status;
    int32_t descriptionLength;
    char description[kMaxDescription];

    FILEHEADER();
};

// Error numbers carried by CRSException.
enum RSError : int32_t {
    kRSErrBadHeader = 2,
    kRSErrWrongMode = 3,
    kRSErrShortRead = 5,
    kRSErrFrameWrite = 6,
    kRSErrNoSuchFrame = 7,
    kRSErrNoFrame = 8,
};

class CRSException : public std::exception {
public:
    explicit CRSException(int32_t code) : code_(code) {}
    int32_t GetErrorcode() const { return code_; }
    const char* what() const noexcept override { return "framed archive error"; }

private:
    int32_t code_;
};

class IRSData {
public:
    virtual ~IRSData() = default;
    virtual int CheckFile() = 0;
    virtual int StartRS(const char* path, int create) = 0;
    virtual int EndRS() = 0;
    virtual int WriteFileHeader(const FILEHEADER& header) = 0;
    virtual int ReadFileHeader(FILEHEADER& header) = 0;
    virtual FileStatus GetStatus() = 0;
    virtual int SetStatus(FileStatus status) = 0;
    virtual int SetFileDescription(const char* text) = 0;
    virtual int GetFileDescription(char* buffer, int size) = 0;
    virtual int OpenFrame(const tagGUIDSIGN& id) = 0;
    virtual int CloseFrame() = 0;
    virtual unsigned GetFrameSize() = 0;
    virtual int ReadCurFrame(void* buffer, unsigned size) = 0;
    virtual int WriteCurFrame(const void* data, unsigned length) = 0;
    virtual int FlushBuffer() = 0;
};

class CRSData : public IRSData {
public:
    explicit CRSData(RSMode mode);
    ~CRSData() override;

    int CheckFile() override;
    int StartRS(const char* path, int create) override;
    // Writes into a file the caller opened (a new file that will replace
    // the result once whole); the descriptor is closed by EndRS.
    int StartRSOnDescriptor(int fd, const char* path);
    // Closes the archive, writing the open frame's length first. 0 when that
    // write, an earlier frame write or the close failed: the archive on disk
    // is then not whole.
    int EndRS() override;
    int WriteFileHeader(const FILEHEADER& header) override;
    int ReadFileHeader(FILEHEADER& header) override;
    FileStatus GetStatus() override;
    int SetStatus(FileStatus status) override;
    int SetFileDescription(const char* text) override;
    int GetFileDescription(char* buffer, int size) override;
    int OpenFrame(const tagGUIDSIGN& id) override;
    int CloseFrame() override;
    unsigned GetFrameSize() override;
    int ReadCurFrame(void* buffer, unsigned size) override;
    int WriteCurFrame(const void* data, unsigned length) override;
    int FlushBuffer() override { return 1; }

    // Bytes of the open read frame not yet read (0 when none is open).
    // Callers size their buffers by it rather than by counts inside the data.
    unsigned GetFrameRemaining() const;

private:
    [[noreturn]] void Raise(int32_t code);
    bool WriteFrameHead(int64_t position, uint32_t length);

    RSMode mode_;
    CStdFile file_;
    uint8_t frameId_[16] = {};
    uint32_t frameLength_ = 0;
    int64_t framePosition_ = -1;
    uint32_t frameRead_ = 0;
    int32_t pendingError_ = 0;
};

// The header as stored, and the CRC-16 the header bytes carry.
void SerializeFileHeader(const FILEHEADER& header, uint8_t out[kArchiveHeaderSize]);
void ParseFileHeader(const uint8_t in[kArchiveHeaderSize], FILEHEADER& header);
unsigned short FileHeaderCrc(const uint8_t bytes[kArchiveHeaderSize]);
