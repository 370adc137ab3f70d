#include "StdFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/FdIo.h"

CStdFile::~CStdFile() {
    Close();
}

bool CStdFile::Open(const char* path, int mode) {
    Close();
    if (!path)
        return false;
    int flags = 0;
    switch (mode) {
        case kReadOnly:
            flags = O_RDONLY;
            break;
        case kReadWrite:
        case kReadWriteShared:
        case kReadWriteCreate:
            flags = O_RDWR | O_CREAT;
            break;
        case kCreateTruncate:
            flags = O_RDWR | O_CREAT | O_TRUNC;
            break;
        default:
            return false;
    }
    const int fd = velmora::platform::OpenRetrying(path, flags | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    fd_ = fd;
    path_ = path;
    return true;
}

bool CStdFile::Adopt(int fd, const char* path) {
    Close();
    if (fd < 0)
        return false;
    fd_ = fd;
    path_ = path ? path : "";
    return true;
}

bool CStdFile::Close() {
    bool ok = true;
    if (fd_ >= 0)
        ok = ::close(fd_) == 0;
    fd_ = -1;
    path_.clear();
    return ok;
}

long long CStdFile::Read(void* buffer, size_t size) {
    if (fd_ < 0 || !buffer)
        return 0;
    const velmora::platform::FdIoResult r = velmora::platform::ReadRetrying(fd_, buffer, size);
    if (r.failed && r.done == 0)
        return -1;
    return static_cast<long long>(r.done);
}

bool CStdFile::Write(const void* data, size_t length) {
    if (fd_ < 0 || (!data && length))
        return false;
    return !velmora::platform::WriteRetrying(fd_, data, length).failed;
}

bool CStdFile::Seek(int64_t offset) {
    if (fd_ < 0 || offset < 0)
        return false;
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool CStdFile::SeekToEnd() {
    return fd_ >= 0 && ::lseek(fd_, 0, SEEK_END) >= 0;
}

int64_t CStdFile::GetPosition() const {
    if (fd_ < 0)
        return -1;
    return ::lseek(fd_, 0, SEEK_CUR);
}

bool CStdFile::GetPosistion(int64_t* position) const {
    int64_t p = GetPosition();
    if (p < 0 || !position)
        return false;
    *position = p;
    return true;
}

bool CStdFile::GetFileLength(int64_t* length) const {
    struct stat st {};
    if (fd_ < 0 || !length || ::fstat(fd_, &st) != 0)
        return false;
    *length = st.st_size;
    return true;
}

int CStdFile::ReadLine(char* buffer, int size) {
    if (!buffer || size < 1)
        return 0;
    int n = 0;
    while (n < size - 1) {
        char c;
        if (Read(&c, 1) != 1)
            break;
        buffer[n++] = c;
        if (c == '\n')
            break;
    }
    buffer[n] = 0;
    return n;
}

bool CStdFile::WriteLine(const char* data, size_t length) {
    if (!Write(data, length))
        return false;
    if (length >= 2 && data[length - 2] == '\r' && data[length - 1] == '\n')
        return true;
    return Write("\r\n", 2);
}
