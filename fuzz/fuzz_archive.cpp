// The framed archive read from any bytes, through a file in a private
// temporary folder.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "RSData.h"

namespace {

const std::string& ArchivePath() {
    static const std::string path = [] {
        char tmpl[] = "/tmp/velmora-fuzz-archive-XXXXXX";
        const char* dir = mkdtemp(tmpl);
        return std::string(dir ? dir : "/tmp") + "/input.rsd";
    }();
    return path;
}

void ReadWholeFrame(CRSData& rs, const tagGUIDSIGN& id) {
    try {
        rs.OpenFrame(id);
        // Sized by the frame, which the reader has checked against the file.
        std::vector<uint8_t> buffer(rs.GetFrameRemaining());
        uint8_t small[7];
        rs.ReadCurFrame(small, sizeof small);
        if (!buffer.empty())
            rs.ReadCurFrame(buffer.data(), static_cast<unsigned>(buffer.size()));
        rs.CloseFrame();
    } catch (const CRSException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = ArchivePath();
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return 0;
    bool written = size == 0 || write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    if (!written)
        return 0;

    CRSData rs(kRSRead);
    if (!rs.StartRS(path.c_str(), 0))
        return 0;
    rs.CheckFile();
    FILEHEADER header;
    rs.ReadFileHeader(header);
    try {
        rs.GetStatus();
        char description[16];
        rs.GetFileDescription(description, sizeof description);
    } catch (const CRSException&) {
    }
    tagGUIDSIGN id{};
    for (int i = 0; i < 16; ++i)
        id.bytes[i] = static_cast<uint8_t>(i + 1);
    ReadWholeFrame(rs, id);
    // The identifier of the first frame in the input, so frames are found.
    if (size >= 164) {
        std::memcpy(id.bytes, data + 148, 16);
        ReadWholeFrame(rs, id);
    }
    rs.EndRS();
    return 0;
}
