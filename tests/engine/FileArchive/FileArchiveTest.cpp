// The framed archive: a golden file written by this code, read back, and
// damaged copies of it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ByteReader.h"
#include "CRC.h"
#include "RSData.h"
#include "support/TestSupport.h"

using velmora::test::ReadFile;
using velmora::test::TempDir;
using velmora::test::WriteFile;

namespace {

const tagGUIDSIGN kFirst = {{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C,
                             0x0D, 0x0E, 0x0F, 0x10}};
const tagGUIDSIGN kSecond = {{0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87, 0x78, 0x69, 0x5A,
                              0x4B, 0x3C, 0x2D, 0x1E, 0x0F}};
const tagGUIDSIGN kMissing = {{0xAA}};

std::vector<uint8_t> FirstFrameData() {
    std::vector<uint8_t> d;
    for (int i = 0; i < 300; ++i)
        d.push_back(static_cast<uint8_t>(i * 7));
    return d;
}

const std::string kSecondPieces[] = {"scan results ", "", "in three pieces"};

std::string GoldenPath() {
    return velmora::test::SourceDir() + "/tests/engine/FileArchive/data/golden.rsd";
}

// The golden archive: header with status 1 and a description, two frames.
void WriteGolden(const std::string& path) {
    CRSData rs(kRSWrite);
    ASSERT_TRUE(rs.StartRS(path.c_str(), 1));
    ASSERT_TRUE(rs.SetStatus(static_cast<FileStatus>(1)));
    ASSERT_TRUE(rs.SetFileDescription("Velmora test archive"));
    ASSERT_TRUE(rs.OpenFrame(kFirst));
    auto first = FirstFrameData();
    ASSERT_TRUE(rs.WriteCurFrame(first.data(), static_cast<unsigned>(first.size())));
    ASSERT_TRUE(rs.OpenFrame(kSecond));  // closes the first frame itself
    for (const auto& piece : kSecondPieces)
        ASSERT_TRUE(rs.WriteCurFrame(piece.data(), static_cast<unsigned>(piece.size())));
    EXPECT_EQ(rs.CloseFrame(), 1);
    EXPECT_EQ(rs.EndRS(), 1);
}

std::vector<uint8_t> ReadFrame(CRSData& rs, const tagGUIDSIGN& id) {
    rs.OpenFrame(id);
    std::vector<uint8_t> out(rs.GetFrameSize());
    if (!out.empty())
        rs.ReadCurFrame(out.data(), static_cast<unsigned>(out.size()));
    return out;
}

int32_t CodeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CRSException& e) {
        return e.GetErrorcode();
    }
    return 0;
}

TEST(FileArchive, ChecksumsMatchTheirPublishedParameters) {
    const auto* digits = reinterpret_cast<const unsigned char*>("123456789");
    EXPECT_EQ(CCRC::RunCRC16(digits, 9, 0x8005), 0xFEE8);
    // Non-reflected 0x04C11DB7 with initial value 0 and no final XOR.
    EXPECT_EQ(CCRC::RunCRC32(digits, 9, 0x04C11DB7), 0x89A1897Ful);
}

TEST(FileArchive, GoldenFileIsByteStableAndReadsBack) {
    TempDir dir;
    const std::string written = dir / "archive.rsd";
    WriteGolden(written);
    // The golden file is never written by the test: a change of layout is a
    // deliberate change of the committed file.
    const auto bytes = ReadFile(written);
    ASSERT_EQ(bytes, ReadFile(GoldenPath()))
        << "the archive layout changed; saved files depend on it";

    // Layout spot checks: header fields, and the frames one after another.
    vk::ByteReader r(bytes.data(), bytes.size());
    EXPECT_EQ(0, std::memcmp(bytes.data(), kArchiveSignature, 16));
    EXPECT_EQ(r.LE32(16), 5800u);
    EXPECT_EQ(r.LE32(24), 1u);
    EXPECT_EQ(r.LE32(28), 20u);
    EXPECT_EQ(0, std::memcmp(bytes.data() + 132, kArchiveSignature, 16));
    EXPECT_EQ(0, std::memcmp(bytes.data() + 148, kFirst.bytes, 16));
    EXPECT_EQ(r.LE32(164), 300u);
    EXPECT_EQ(r.LE32(132 + 36 + 300 + 32), 28u);
    EXPECT_EQ(bytes.size(), 132u + 36 + 300 + 36 + 28);

    CRSData rs(kRSRead);
    ASSERT_TRUE(rs.StartRS(GoldenPath().c_str(), 0));
    EXPECT_TRUE(rs.CheckFile());
    FILEHEADER h;
    EXPECT_TRUE(rs.ReadFileHeader(h));
    EXPECT_EQ(rs.GetStatus(), 1);
    char description[128];
    EXPECT_EQ(rs.GetFileDescription(description, sizeof description), 20);
    EXPECT_STREQ(description, "Velmora test archive");
    EXPECT_EQ(rs.GetFileDescription(description, 10), 9);
    EXPECT_STREQ(description, "Velmora t");
    // Frames are found by identifier, in any order.
    auto second = ReadFrame(rs, kSecond);
    EXPECT_EQ(std::string(second.begin(), second.end()), "scan results in three pieces");
    EXPECT_EQ(ReadFrame(rs, kFirst), FirstFrameData());
}

TEST(FileArchive, ReadingInPiecesAndModeErrors) {
    TempDir dir;
    const std::string path = dir / "a.rsd";
    WriteGolden(path);
    CRSData rs(kRSRead);
    ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
    EXPECT_EQ(CodeOf([&] { rs.GetFrameSize(); }), kRSErrNoFrame);
    char buf[64];
    EXPECT_EQ(CodeOf([&] { rs.ReadCurFrame(buf, 4); }), kRSErrNoFrame);
    EXPECT_EQ(CodeOf([&] { rs.OpenFrame(kMissing); }), kRSErrNoSuchFrame);
    EXPECT_EQ(CodeOf([&] { rs.WriteCurFrame("x", 1); }), kRSErrWrongMode);
    EXPECT_EQ(CodeOf([&] { rs.SetStatus(static_cast<FileStatus>(2)); }), kRSErrWrongMode);

    rs.OpenFrame(kSecond);
    std::memset(buf, 0, sizeof buf);
    rs.ReadCurFrame(buf, 5);
    EXPECT_EQ(std::string(buf), "scan ");
    EXPECT_EQ(rs.GetFrameRemaining(), 23u);
    std::memset(buf, 0, sizeof buf);
    EXPECT_EQ(rs.ReadCurFrame(buf, sizeof buf), 1);  // more than is left: the remainder
    EXPECT_EQ(std::string(buf), "results in three pieces");
    EXPECT_EQ(rs.ReadCurFrame(buf, sizeof buf), 1);
    EXPECT_EQ(rs.GetFrameRemaining(), 0u);

    CRSData writer(kRSWrite);
    ASSERT_TRUE(writer.StartRS((dir / "w.rsd").c_str(), 1));
    EXPECT_EQ(CodeOf([&] { writer.GetStatus(); }), kRSErrWrongMode);
    EXPECT_EQ(CodeOf([&] { writer.ReadCurFrame(buf, 1); }), kRSErrWrongMode);
    EXPECT_EQ(CodeOf([&] { writer.WriteCurFrame("x", 1); }), kRSErrNoFrame);
    EXPECT_EQ(writer.SetFileDescription("no header yet"), 0);
    EXPECT_FALSE(writer.StartRS("", 1));
    EXPECT_FALSE(writer.StartRS(nullptr, 1));
}

TEST(FileArchive, HeaderDamage) {
    TempDir dir;
    const std::string path = dir / "a.rsd";
    WriteGolden(path);
    const auto golden = ReadFile(path);
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> change;
        bool checkFile;
        bool headerValid;
    };
    const std::vector<Case> cases = {
        {"description byte flipped", [](auto& b) { b[40] ^= 0x01; }, true, false},
        {"stored CRC flipped", [](auto& b) { b[20] ^= 0x80; }, true, false},
        {"signature flipped", [](auto& b) { b[3] ^= 0x01; }, false, false},
        {"status 0", [](auto& b) { b[24] = 0; }, false, false},
        {"cut inside the header", [](auto& b) { b.resize(100); }, false, false},
        {"empty file", [](auto& b) { b.clear(); }, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto bytes = golden;
        c.change(bytes);
        WriteFile(path, bytes);
        CRSData rs(kRSRead);
        ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
        EXPECT_EQ(static_cast<bool>(rs.CheckFile()), c.checkFile);
        FILEHEADER h;
        EXPECT_EQ(static_cast<bool>(rs.ReadFileHeader(h)), c.headerValid);
        if (!c.headerValid) {
            EXPECT_EQ(rs.GetStatus(), 0);
        }
    }

    // A valid header whose status or description length is out of range.
    for (int field : {24, 28}) {
        CRSData w(kRSWrite);
        ASSERT_TRUE(w.StartRS(path.c_str(), 1));
        FILEHEADER h;
        h.status = field == 24 ? 5 : 1;
        h.descriptionLength = field == 28 ? 101 : 0;
        ASSERT_TRUE(w.WriteFileHeader(h));
        w.EndRS();
        CRSData rs(kRSRead);
        ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
        char buf[8];
        int32_t code = field == 24 ? CodeOf([&] { rs.GetStatus(); })
                                   : CodeOf([&] { rs.GetFileDescription(buf, sizeof buf); });
        EXPECT_EQ(code, kRSErrBadHeader);
    }
}

TEST(FileArchive, DamagedFramesGiveAClearResult) {
    TempDir dir;
    const std::string path = dir / "a.rsd";
    WriteGolden(path);
    const auto golden = ReadFile(path);
    const size_t secondHead = 132 + 36 + 300;

    // Every cut of the file: a frame is either read whole or reported.
    for (size_t cut = 0; cut <= golden.size(); ++cut) {
        SCOPED_TRACE(cut);
        WriteFile(path,
                  std::vector<uint8_t>(golden.begin(), golden.begin() + static_cast<long>(cut)));
        CRSData rs(kRSRead);
        ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
        int32_t first = CodeOf([&] { EXPECT_EQ(ReadFrame(rs, kFirst), FirstFrameData()); });
        int32_t second = CodeOf([&] { EXPECT_EQ(ReadFrame(rs, kSecond).size(), 28u); });
        EXPECT_EQ(first, cut >= 132 + 36 + 300 ? 0
                         : cut >= 132 + 36     ? kRSErrShortRead
                                               : kRSErrNoSuchFrame);
        EXPECT_EQ(second, cut == golden.size()     ? 0
                          : cut >= secondHead + 36 ? kRSErrShortRead
                                                   : kRSErrNoSuchFrame);
    }

    // A first frame whose length claims 4 GiB: nothing is allocated, the
    // search ends at the end of the file.
    auto bytes = golden;
    vk::StoreLE<uint32_t>(bytes.data() + 164, 0xFFFFFFF0u);
    WriteFile(path, bytes);
    CRSData rs(kRSRead);
    ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
    EXPECT_EQ(CodeOf([&] { rs.OpenFrame(kSecond); }), kRSErrNoSuchFrame);
    EXPECT_EQ(CodeOf([&] { rs.OpenFrame(kFirst); }), kRSErrShortRead);

    // A damaged frame signature is still skipped by its length.
    bytes = golden;
    bytes[133] ^= 0xFF;
    WriteFile(path, bytes);
    CRSData rs2(kRSRead);
    ASSERT_TRUE(rs2.StartRS(path.c_str(), 0));
    EXPECT_EQ(CodeOf([&] { rs2.OpenFrame(kFirst); }), kRSErrNoSuchFrame);
    EXPECT_EQ(ReadFrame(rs2, kSecond).size(), 28u);
}

TEST(FileArchive, WriterKeepsLengthsHonest) {
    TempDir dir;
    const std::string path = dir / "w.rsd";
    {
        CRSData w(kRSWrite);
        ASSERT_TRUE(w.StartRS(path.c_str(), 1));
        ASSERT_TRUE(w.SetStatus(static_cast<FileStatus>(2)));
        ASSERT_TRUE(w.OpenFrame(kFirst));
        ASSERT_TRUE(w.WriteCurFrame("abc", 3));
        // The stored length is 32 bits: a write that would wrap it is refused
        // before a byte is read from the buffer, and later writes stop too.
        EXPECT_EQ(w.WriteCurFrame("abc", 0xFFFFFFFFu), 0);
        EXPECT_EQ(w.WriteCurFrame("d", 1), 0);
        EXPECT_EQ(w.GetFrameSize(), 3u);
        // An error thrown clears the pending one.
        EXPECT_EQ(CodeOf([&] { w.GetStatus(); }), kRSErrWrongMode);
        EXPECT_EQ(w.WriteCurFrame("d", 1), 1);
        ASSERT_TRUE(w.OpenFrame(kSecond));
        ASSERT_TRUE(w.WriteCurFrame("xyz", 3));
        // No CloseFrame: ending the archive still stores the frame's length.
        EXPECT_EQ(w.EndRS(), 1);
    }
    CRSData rs(kRSRead);
    ASSERT_TRUE(rs.StartRS(path.c_str(), 0));
    EXPECT_EQ(rs.GetStatus(), 2);
    auto a = ReadFrame(rs, kFirst);
    EXPECT_EQ(std::string(a.begin(), a.end()), "abcd");
    auto b = ReadFrame(rs, kSecond);
    EXPECT_EQ(std::string(b.begin(), b.end()), "xyz");

    // Reopening without create keeps the frames; a longer description is cut.
    CRSData w(kRSWrite);
    ASSERT_TRUE(w.StartRS(path.c_str(), 0));
    std::string longText(150, 'd');
    EXPECT_TRUE(w.SetFileDescription(longText.c_str()));
    w.EndRS();
    CRSData again(kRSRead);
    ASSERT_TRUE(again.StartRS(path.c_str(), 0));
    char buf[200];
    EXPECT_EQ(again.GetFileDescription(buf, sizeof buf), 100);
    EXPECT_EQ(ReadFrame(again, kSecond).size(), 3u);
}

// The descriptor the process holds for `path` (-1 when none).
int DescriptorOf(const std::string& path) {
    for (int fd = 3; fd < 1024; ++fd) {
        char link[4096];
        const std::string proc = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = readlink(proc.c_str(), link, sizeof link - 1);
        if (n > 0 && std::string(link, static_cast<size_t>(n)) == path)
            return fd;
    }
    return -1;
}

// A saved scan that did not reach the disk whole must not be reported as
// saved: the last write, an earlier frame write and the close each count.
TEST(FileArchive, EndReportsWritesThatFailed) {
    TempDir dir;
    const std::string path = dir / "e.rsd";
    enum Fault { kLastHead, kEarlierWrite, kClose };
    for (Fault fault : {kLastHead, kEarlierWrite, kClose}) {
        SCOPED_TRACE(static_cast<int>(fault));
        CRSData w(kRSWrite);
        ASSERT_TRUE(w.StartRS(path.c_str(), 1));
        ASSERT_TRUE(w.OpenFrame(kFirst));
        ASSERT_TRUE(w.WriteCurFrame("abc", 3));
        const int fd = DescriptorOf(path);
        ASSERT_GE(fd, 0);
        // The archive's descriptor is swapped for one that cannot write.
        const auto readOnly = [&] {
            const int ro = open(path.c_str(), O_RDONLY);
            ASSERT_GE(ro, 0);
            ASSERT_EQ(dup2(ro, fd), fd);
            close(ro);
        };
        if (fault == kLastHead) {
            readOnly();
        } else if (fault == kEarlierWrite) {
            readOnly();
            EXPECT_EQ(w.WriteCurFrame("d", 1), 0);
            const int rw = open(path.c_str(), O_RDWR);
            ASSERT_GE(rw, 0);
            ASSERT_EQ(dup2(rw, fd), fd);
            close(rw);
        } else {
            ASSERT_EQ(w.CloseFrame(), 1);
            close(fd);
        }
        EXPECT_EQ(w.EndRS(), 0);
    }
    // A healthy archive ends with success, ended again too.
    CRSData w(kRSWrite);
    ASSERT_TRUE(w.StartRS(path.c_str(), 1));
    ASSERT_TRUE(w.OpenFrame(kFirst));
    ASSERT_TRUE(w.WriteCurFrame("abc", 3));
    EXPECT_EQ(w.EndRS(), 1);
    EXPECT_EQ(w.EndRS(), 1);
}

TEST(StdFile, OffsetsAndDescriptorZero) {
    TempDir dir;
    const std::string path = dir / "f";
    WriteFile(path, std::string("line one\nline two\r\n"));
    CStdFile f;
    EXPECT_FALSE(f.Open(path.c_str(), 5));
    ASSERT_TRUE(f.Open(path.c_str(), CStdFile::kReadOnly));
    char buf[32];
    EXPECT_EQ(f.ReadLine(buf, sizeof buf), 9);
    EXPECT_STREQ(buf, "line one\n");
    EXPECT_TRUE(f.Seek(0));  // the start of the file is a valid position
    EXPECT_EQ(f.GetPosition(), 0);
    EXPECT_EQ(f.ReadLine(buf, 5), 4);
    EXPECT_STREQ(buf, "line");
    int64_t len = 0;
    EXPECT_TRUE(f.GetFileLength(&len));
    EXPECT_EQ(len, 19);
    EXPECT_FALSE(f.Write("x", 1));  // opened read-only
    f.Close();
    EXPECT_EQ(f.Read(buf, 4), 0);

    ASSERT_TRUE(f.Open((dir / "g").c_str(), CStdFile::kCreateTruncate));
    EXPECT_TRUE(f.WriteLine("a", 1));
    EXPECT_TRUE(f.WriteLine("b\r\n", 3));
    f.Close();
    EXPECT_EQ(velmora::test::ReadText(dir / "g"), "a\r\nb\r\n");

    // A descriptor numbered 0 is an open file like any other.
    int saved = dup(STDIN_FILENO);
    ASSERT_GE(saved, 0);
    close(STDIN_FILENO);
    bool opened = f.Open(path.c_str(), CStdFile::kReadOnly);
    bool isOpen = f.IsOpen();
    long long n = f.Read(buf, 4);
    f.Close();
    dup2(saved, STDIN_FILENO);
    close(saved);
    EXPECT_TRUE(opened);
    EXPECT_TRUE(isOpen);
    EXPECT_EQ(n, 4);
}

}  // namespace
