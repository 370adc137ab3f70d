// Documents, fonts, drawings and stores whose header gives their length;
// mailboxes read to their end; SQLite databases told apart by their tables
// and walked page by page.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Analysers/DocumentAnalysers.h"
#include "Analysers/SQLiteAnalyser.h"
#include "Analysers/StreamedDocAnalysers.h"
#include "Analysers/ThreeDSAnalysers.h"
#include "CarveDriver.h"

namespace {

using namespace rawtest;

std::vector<uint8_t> Head(const std::string& magic) {
    std::vector<uint8_t> s(512, 0);
    PutBytes(s, 0, magic);
    return s;
}

std::vector<uint8_t> With(std::vector<uint8_t> s,
                          const std::function<void(std::vector<uint8_t>&)>& edit) {
    edit(s);
    return s;
}

struct Case {
    const char* what;
    std::function<IRawFileAnalyser*()> make;
    std::vector<uint8_t> sector;
    int accepted;
    RAW_FILE_TYPE type;
    long long size;
};

template <typename T>
std::function<IRawFileAnalyser*()> New() {
    return [] { return new T(); };
}

std::vector<uint8_t> Font(const std::vector<std::string>& tags) {
    std::vector<uint8_t> f(512, 0);
    Put32(f, 0, 0x00010000, false);
    Put16(f, 4, static_cast<uint16_t>(tags.size()), false);
    for (size_t i = 0; i < tags.size(); ++i) {
        PutBytes(f, 12 + 16 * i, tags[i]);
        Put32(f, 12 + 16 * i + 12, 10, false);  // 10 bytes: 12 with padding
    }
    return f;
}

TEST(Documents, LengthsFromTheirHeaders) {
    const std::vector<uint8_t> swf = With(Head("FWS"), [](auto& s) {
        s[3] = 9;
        Put32(s, 4, 3560);
    });
    std::vector<uint8_t> ttf = Sample("subset.ttf");
    ttf.resize(512);
    std::vector<std::string> twelve = {"cmap", "glyf", "head", "hhea", "hmtx", "XXX1",
                                       "XXX2", "XXX3", "XXX4", "XXX5", "XXX6", "XXX7"};
    std::vector<std::string> six = {"cmap", "glyf", "head", "XXX1", "XXX2", "XXX3"};
    std::vector<uint8_t> placeable = Sample("placeable.wmf");
    placeable.resize(512);
    std::vector<uint8_t> wpd = Sample("letter.wpd");
    wpd.resize(512);
    std::vector<uint8_t> pst = Sample("folders.pst");
    pst.resize(512);
    const std::vector<Case> cases = {
        {"flash", New<FileSWFAnalyser>(), swf, 1, RAW_SWF, 3560},
        {"flash, compressed: its unpacked length and 8", New<FileSWFAnalyser>(),
         With(swf, [](auto& s) { s[0] = 'C'; }), 1, RAW_SWF, 3568},
        {"flash, compressed version 5", New<FileSWFAnalyser>(),
         With(swf,
              [](auto& s) {
                  s[0] = 'C';
                  s[3] = 5;
              }),
         0, 0, 0},
        {"flash, version 33", New<FileSWFAnalyser>(), With(swf, [](auto& s) { s[3] = 33; }), 0, 0,
         0},
        {"font", New<FileTTFAnalyser>(), ttf, 1, RAW_TTF, 7592},
        {"font, 5 of 12 tags known", New<FileTTFAnalyser>(), Font(twelve), 0, 0, 0},
        {"font, 3 of 6 tags known", New<FileTTFAnalyser>(), Font(six), 1, RAW_TTF, 12 + 96 + 72},
        {"font, 32 tables", New<FileTTFAnalyser>(),
         With(Font(six), [](auto& s) { Put16(s, 4, 32, false); }), 0, 0, 0},
        {"metafile", New<FileWMFAnalyser>(), Sample("plain.wmf"), 1, RAW_WMF, 1704},
        {"metafile, parameters", New<FileWMFAnalyser>(),
         With(Sample("plain.wmf"), [](auto& s) { s[16] = 1; }), 0, 0, 0},
        {"placeable metafile", New<FileWMFAnalyser>(), placeable, 1, RAW_WMF, 1726},
        {"placeable metafile, checksum", New<FileWMFAnalyser>(),
         With(placeable, [](auto& s) { s[20] ^= 1; }), 0, 0, 0},
        {"WordPerfect document", New<FileWPDAnalyser>(), wpd, 1, RAW_WPD, 6000},
        {"WordPerfect graphics", New<FileWPDAnalyser>(),
         With(wpd,
              [](auto& s) {
                  s[9] = 0x16;
                  s[11] = 0;
                  s[15] = 0;
                  s[16] = 3;
              }),
         1, RAW_WPG, 6000},
        {"WordPerfect, no row", New<FileWPDAnalyser>(), With(wpd, [](auto& s) { s[9] = 0x55; }), 0,
         0, 0},
        {"Outlook, Unicode", New<FilePSTAnalyser>(), pst, 1, RAW_PST, 20480},
        {"Outlook, ANSI", New<FilePSTAnalyser>(),
         With(pst,
              [](auto& s) {
                  s[10] = 0x0E;
                  Put32(s, 168, 5000);
              }),
         1, RAW_PST, 5000},
        {"Outlook, another format", New<FilePSTAnalyser>(),
         With(pst, [](auto& s) { s[10] = 0x15; }), 1, RAW_PST, 0x100000},
        {"media library", New<FileITLAnalyser>(), Sample("library.itl"), 1, RAW_ITL, 9000},
        {"media library, no length", New<FileITLAnalyser>(),
         With(Sample("library.itl"), [](auto& s) { Put32(s, 8, 0); }), 0, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> sector = c.sector;
        sector.resize(std::max<size_t>(sector.size(), 512));
        std::unique_ptr<IRawFileAnalyser> analyser(c.make());
        CRawFileInfo info;
        EXPECT_EQ(analyser->AnalyseBuffer(sector.data(), info), c.accepted) << c.what;
        if (c.accepted) {
            EXPECT_EQ(info.m_type, c.type) << c.what;
            EXPECT_EQ(info.m_size, c.size) << c.what;
        }
    }
}

TEST(Mailbox, EndsAtItsLastMessage) {
    FileMboxAnalyser mbox;
    const std::vector<uint8_t> box = Sample("mail.mbox");
    EXPECT_EQ(WholeFileSize(mbox, box), static_cast<long long>(box.size()));
    struct Tail {
        std::string text;
        long long extra;  // bytes counted after the pattern
    };
    for (const Tail& t : {Tail{"Regards\n--\n\n", 0}, Tail{"Regards\n--\n\n\n\n", 2},
                          Tail{"To: a@example.com>\n\n", 0}}) {
        // Mail text throughout: no NUL inside.
        std::string text = "From a@example.com Mon Jan  1 00:00:00 2018\n";
        text.resize(700, 'm');
        std::vector<uint8_t> file(text.begin(), text.end());
        PutBytes(file, 700, t.text);
        const long long pattern = t.text.find("--") != std::string::npos
                                      ? static_cast<long long>(t.text.find("--")) + 4
                                      : static_cast<long long>(t.text.find(".com>")) + 7;
        EXPECT_EQ(WholeFileSize(mbox, file), 700 + pattern + t.extra) << t.text;
    }
    // Neither end mark: the text ends at the zero fill, or at the first
    // byte no mail holds, never at the device's end.
    const std::vector<uint8_t> inbox = Sample("inbox.mbox");
    EXPECT_EQ(WholeFileSize(mbox, inbox, 0, 1 << 20), static_cast<long long>(inbox.size()));
    std::vector<uint8_t> binary = inbox;
    binary.insert(binary.end(), {'x', 'y', 0x01, 0xFF, 'z'});
    EXPECT_EQ(WholeFileSize(mbox, binary, 0x5A, 1 << 20), static_cast<long long>(inbox.size() + 2));
    // No end in sight: up to where the device cannot be read.
    std::string openText = "From x";
    openText.resize(2048, 'm');
    const std::vector<uint8_t> open(openText.begin(), openText.end());
    EXPECT_EQ(WholeFileSize(mbox, open, 'm', 1024), 3072);
}

// ---------------------------------------------------------------------------
// SQLite

std::vector<uint8_t> Database(int pageSize, int pages, uint8_t pageKind = 0x0D) {
    std::vector<uint8_t> db(static_cast<size_t>(pageSize) * pages, 0x44);
    PutBytes(db, 0, std::string("SQLite format 3\0", 16));
    Put16(db, 16, static_cast<uint16_t>(pageSize), false);
    Put32(db, 28, static_cast<uint32_t>(pages), false);
    Put32(db, 36, 0, false);
    Put32(db, 56, 1, false);
    db[100] = 0x0D;
    Put16(db, 105, static_cast<uint16_t>(pageSize - 300), false);
    Put16(db, 108, static_cast<uint16_t>(pageSize - 100), false);
    for (int p = 1; p < pages; ++p)
        db[static_cast<size_t>(p) * pageSize] = pageKind;
    return db;
}

TEST(Sqlite, Recognition) {
    BruteForce::CFCPEvtAnalyser sqlite;
    CRawFileInfo info;
    std::vector<uint8_t> db = Database(4096, 2);
    EXPECT_EQ(sqlite.AnalyseBuffer(db.data(), info), 1);
    EXPECT_EQ(info.m_type, RAW_FCPEVENT);
    Put16(db, 16, 512, false);
    EXPECT_EQ(sqlite.AnalyseBuffer(db.data(), info), 0) << "pages of 512 bytes";
    Put16(db, 16, 4096, false);
    Put32(db, 56, 0x04000000);
    EXPECT_EQ(sqlite.AnalyseBuffer(db.data(), info), 0) << "the word at 56";
}

TEST(Sqlite, PagesToTheFirstThatIsNoDatabasePage) {
    BruteForce::CFCPEvtAnalyser sqlite;
    // Followed by zero fill: five empty pages end it where they begin.
    const std::vector<uint8_t> db = Database(4096, 6);
    EXPECT_EQ(StreamFile(sqlite, db, 512, 64, 0, 10 * 4096).size, 6 * 4096);
    // Overflow pages whose next pages run 7, 8, 9 ... keep it going; a page
    // that begins 0x53 ends it there.
    std::vector<uint8_t> chained = Database(1024, 13);
    for (int p = 4; p < 10; ++p) {
        chained[static_cast<size_t>(p) * 1024] = 0;
        Put32(chained, static_cast<size_t>(p) * 1024, static_cast<uint32_t>(p + 3), false);
    }
    chained.resize(chained.size() + 1024, 0x53);
    EXPECT_EQ(StreamFile(sqlite, chained, 512, 64, 0x53).size, 13 * 1024);
    // Pages smaller than the device's sectors are each looked at.
    EXPECT_EQ(StreamFile(sqlite, chained, 4096, 8, 0x53).size, 13 * 1024);
    // Every real database kind: the sqlite3 samples end where they end.
    for (const char* name : {"events.db", "contacts.abcddb", "scores.muse", "drawing.sketch"}) {
        const std::vector<uint8_t> file = Sample(name);
        for (int sectorSize : {512, 4096})
            EXPECT_EQ(StreamFile(sqlite, file, sectorSize, 8, 0x77).size,
                      static_cast<long long>(file.size()))
                << name << " " << sectorSize;
    }
}

TEST(Sqlite, KindsByTheirTables) {
    BruteForce::CFCPEvtAnalyser sqlite;
    struct Kind {
        const char* file;
        RAW_FILE_TYPE type;
    };
    for (const Kind& k : {Kind{"events.db", RAW_FCPEVENT}, Kind{"contacts.abcddb", RAW_ABCDDB},
                          Kind{"scores.muse", RAW_MUSE}, Kind{"drawing.sketch", RAW_SKETCH}}) {
        for (int sectorSize : {512, 4096})
            EXPECT_EQ(StreamFile(sqlite, Sample(k.file), sectorSize, 8, 0x77).type, k.type)
                << k.file << " " << sectorSize;
    }
    // A sketch sized a page short of its declared length gets the declared one.
    std::vector<uint8_t> sketch = Sample("drawing.sketch");
    const size_t pages = sketch.size() / 4096;
    std::fill(sketch.end() - 4096, sketch.end(), 0x53);  // the last page is no page
    EXPECT_EQ(StreamFile(sqlite, sketch, 512, 8, 0x77).size, static_cast<long long>(pages * 4096));
    // The address-book test: two of the names, among 26 to 34 cells.
    std::vector<uint8_t> page(4096, 0);
    auto cell = [&](int i, const std::string& name) {
        const size_t at = 2000 + 60 * static_cast<size_t>(i);  // 26 cells and a long name fit
        Put16(page, 8 + 2 * static_cast<size_t>(i), static_cast<uint16_t>(at), false);
        page[at] = static_cast<uint8_t>(2 + name.size());  // record length
        page[at + 1] = static_cast<uint8_t>(i + 1);
        page[at + 2] = 2;  // header length
        PutBytes(page, at + 4, name);
    };
    for (int i = 0; i < 26; ++i)
        cell(i, "Other" + std::to_string(i));
    EXPECT_FALSE(BruteForce::CFCPEvtAnalyser::AnalyseABCDDBFileType(page.data(), 4096, 26));
    cell(3, "ABCDRecord");
    EXPECT_FALSE(BruteForce::CFCPEvtAnalyser::AnalyseABCDDBFileType(page.data(), 4096, 26));
    cell(17, "ABCDPhoneNumber");
    EXPECT_TRUE(BruteForce::CFCPEvtAnalyser::AnalyseABCDDBFileType(page.data(), 4096, 26));
    cell(0, std::string(60, 'n'));  // a name over 50 bytes
    EXPECT_FALSE(BruteForce::CFCPEvtAnalyser::AnalyseABCDDBFileType(page.data(), 4096, 26));
    EXPECT_FALSE(BruteForce::CFCPEvtAnalyser::AnalyseABCDDBFileType(page.data(), 4096, 2100))
        << "more pointers than the page holds";
}

}  // namespace

// ---------------------------------------------------------------------------
// 3D Studio

namespace {

TEST(Mesh, MainChunkLengthAndCartridgeImages) {
    RawSpeed::New3DSAnalyser mesh;
    File3DSAnalyser whole;
    const std::vector<uint8_t> ball = Sample("ball.3ds");
    ASSERT_GT(ball.size(), 0x10000u) << "longer than a 16-bit length can say";
    for (int sectorSize : {512, 4096}) {
        const Streamed s = StreamFile(mesh, ball, sectorSize, 8, 0x77);
        EXPECT_EQ(s.size, static_cast<long long>(ball.size())) << sectorSize;
        EXPECT_EQ(s.name, "3-" + std::to_string(3 + (ball.size() - 1) / sectorSize) + "_");
    }
    EXPECT_EQ(WholeFileSize(whole, ball, 0x77), static_cast<long long>(ball.size()));
    // A length that cannot be: not sized by either road.
    std::vector<uint8_t> broken = ball;
    Put32(broken, 2, 7);
    EXPECT_EQ(StreamFile(mesh, broken, 512, 8, 0x77).size, 0);
    EXPECT_EQ(WholeFileSize(whole, broken, 0x77), -1);
    // Cartridge images count 512-byte units, at most 10^9 bytes.
    std::vector<uint8_t> cartridge(512, 0x11);
    PutBytes(cartridge, 0, "MM");
    PutBytes(cartridge, 256, "NCSD");
    Put32(cartridge, 260, 3000000);
    CRawFileInfo info;
    EXPECT_EQ(mesh.AnalyseBuffer(cartridge.data(), info), 1);
    EXPECT_EQ(whole.AnalyseBuffer(cartridge.data(), info), 0);
    EXPECT_EQ(RawSpeed::New3DSAnalyser::DeclaredLength(cartridge.data()), 1000000000);
    Put32(cartridge, 260, 20);
    EXPECT_EQ(RawSpeed::New3DSAnalyser::DeclaredLength(cartridge.data()), 20 * 512);
    Put32(cartridge, 260, 1000000001);
    EXPECT_EQ(RawSpeed::New3DSAnalyser::DeclaredLength(cartridge.data()), 200000000);
}

}  // namespace

// ---------------------------------------------------------------------------
// CIFF raw, After Effects projects and NGRR recordings, sized while streaming

namespace {

using namespace rawtest;

// A CIFF file whose end mark starts `markAt` bytes in and whose file ends
// 70 bytes after it, the mark's kind byte set to `kind`.
std::vector<uint8_t> Ciff(size_t markAt, uint8_t kind) {
    const std::vector<uint8_t> sample = Sample("camera.crw");
    std::vector<uint8_t> file(sample.begin(), sample.begin() + 24);
    for (size_t i = 24; i < markAt; ++i)
        file.push_back(static_cast<uint8_t>(0x41 + i % 50));
    file.insert(file.end(), sample.end() - 70, sample.end());
    file[markAt + 2] = kind;
    return file;
}

TEST(StreamedDocs, CiffEndsByTheKindOfItsMark) {
    Dunmere::CRWAnalyser crw;
    const std::vector<uint8_t> sample = Sample("camera.crw");
    for (int sectorSize : {512, 4096}) {
        const Streamed s = StreamFile(crw, sample, sectorSize, 64);
        EXPECT_EQ(s.type, RAW_CRW);
        EXPECT_EQ(s.size, static_cast<long long>(sample.size())) << sectorSize;
        EXPECT_EQ(s.name, "3-" + std::to_string(3 + (sample.size() - 1) / sectorSize) + "_");
    }
    struct Case {
        const char* what;
        size_t markAt;
        uint8_t kind;
        long long size;
    };
    const size_t inside = 420 * 1024 + 100;
    const size_t acrossStart = 421 * 1024 - 20;  // the end lies 50 bytes into the next sector
    const std::vector<Case> cases = {
        {"A8: 70 bytes on", inside, 0xA8, static_cast<long long>(inside + 70)},
        {"B2 with more after 60: 70 bytes on", inside, 0xB2, static_cast<long long>(inside + 70)},
        {"E4: 50 bytes on", inside, 0xE4, static_cast<long long>(inside + 50)},
        {"mark in the sector before the end", acrossStart, 0xA8,
         static_cast<long long>(acrossStart + 70)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StreamFile(crw, Ciff(c.markAt, c.kind), 512, 64, 0, 8192).size, c.size) << c.what;
    EXPECT_EQ(StreamFile(crw, Ciff(1000, 0xA8), 512, 64).answer, 0)
        << "no end looked for in the first 400 KiB";
    // A file that cannot end while streaming goes to the whole-file sizer.
    const Streamed cut = StreamFile(crw, Ciff(inside, 0x11), 512, 64, 0, 4096);
    EXPECT_EQ(cut.answer, 0);
    EXPECT_TRUE(cut.handedOver);
}

TEST(StreamedDocs, AfterEffectsByItsLengthOrItsPacket) {
    RawSpeed::AEPAnalyser aep;
    for (int sectorSize : {512, 4096}) {
        const std::vector<uint8_t> plain = Sample("project.aep");
        const Streamed p = StreamFile(aep, plain, sectorSize, 8, 0x5A);
        EXPECT_EQ(p.type, RAW_AEP);
        EXPECT_EQ(p.size, static_cast<long long>(plain.size())) << "slack is no packet";
        EXPECT_EQ(p.endSector, 3 + static_cast<long long>(plain.size() - 8) / sectorSize);
        const std::vector<uint8_t> xmp = Sample("xmp.aep");
        EXPECT_EQ(StreamFile(aep, xmp, sectorSize, 8).size, static_cast<long long>(xmp.size()))
            << "the packet ends the file: nothing of the zero fill is counted";
    }
    std::vector<uint8_t> huge = Sample("project.aep");
    Put32(huge, 4, 0x7FFFFFF0, false);
    EXPECT_EQ(StreamFile(aep, huge).size, 0);
    CRawFileInfo info;
    huge[10] = 'x';
    EXPECT_EQ(aep.AnalyseBuffer(huge.data(), info), 0) << "RIFX of another form";
}

TEST(StreamedDocs, NgrrToTheFirstRecordThatIsNoData) {
    RawSpeed::NGRRAnalyser ngrr;
    std::vector<uint8_t> track = Sample("track.ngrr");
    for (int sectorSize : {512, 4096}) {
        const Streamed s = StreamFile(ngrr, track, sectorSize, 8, 0x5A);
        EXPECT_EQ(s.size, static_cast<long long>(track.size())) << sectorSize;
        EXPECT_EQ(s.name, "3-" + std::to_string(3 + (track.size() - 1) / sectorSize) + "_");
    }
    std::memcpy(track.data(), "-IN-", 4);
    CRawFileInfo info;
    EXPECT_EQ(ngrr.AnalyseBuffer(track.data(), info), 1) << "the head in any case";
    // A record whose length runs past the limit: sized at the limit.
    Put32(track, 60 + 16, 0xF0000000u);
    const Streamed s = StreamFile(ngrr, track, 4096, 64, 0x5A, 0x3300000);
    EXPECT_EQ(s.size, 0x3200000 + 4096);
}

}  // namespace
