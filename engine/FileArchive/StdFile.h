// A plain POSIX file descriptor with the small set of operations the archive
// needs. Every read and write is positioned by the descriptor's offset.
#pragma once

#include <cstdint>
#include <string>

class CStdFile {
public:
    enum OpenMode : int {
        kReadOnly = 0,
        kReadWrite = 1,
        kReadWriteShared = 2,
        kCreateTruncate = 3,
        kReadWriteCreate = 4,
    };

    CStdFile() = default;
    ~CStdFile();
    CStdFile(const CStdFile&) = delete;
    CStdFile& operator=(const CStdFile&) = delete;

    // Closes a previous descriptor first; false for an unknown mode or a
    // failed open. Modes 1, 2 and 4 create a missing file, 3 also truncates.
    bool Open(const char* path, int mode);
    // Takes over an open descriptor (closed with this file); `path` names
    // it in messages.
    bool Adopt(int fd, const char* path);
    // False when the descriptor's last writes could not be completed (close
    // reports what the file system deferred); true when nothing was open.
    bool Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Bytes read (0 when closed or at the end, -1 on an error).
    long long Read(void* buffer, size_t size);
    // True only when every byte was written.
    bool Write(const void* data, size_t length);
    // True when the offset could be set (offset 0 included).
    bool Seek(int64_t offset);
    bool SeekToBegin() { return Seek(0); }
    bool SeekToEnd();
    // The current offset, -1 when closed.
    int64_t GetPosition() const;
    bool GetPosistion(int64_t* position) const;
    bool GetFileLength(int64_t* length) const;
    void Flush() {}
    // Reads up to and including a newline, at most size - 1 bytes, and
    // terminates the text; returns the bytes read.
    int ReadLine(char* buffer, int size);
    // Writes the data and then "\r\n" unless it already ends with it.
    bool WriteLine(const char* data, size_t length);

    const std::string& Path() const { return path_; }

private:
    int fd_ = -1;
    std::string path_;
};
