// Documents, fonts, drawings and mail stores whose first sector gives their
// length (Flash movies, TrueType fonts, Windows metafiles, WordPerfect
// files, Outlook folders, media-library files), and mailboxes, whose end is
// found by reading them. Declarations only: each format's code is in its
// own file (SwfAnalyser.cpp, TtfAnalyser.cpp, WmfAnalyser.cpp,
// WpdAnalyser.cpp, PstAnalyser.cpp, ItlAnalyser.cpp, MboxAnalyser.cpp).
#pragma once

#include "Carver.h"
#include "RawFileInfo.h"

struct SwfFormat {  // Flash movies
    static constexpr RAW_FILE_TYPE kType = RAW_SWF;
    static bool Size(const vk::ByteReader& head, const unsigned char* sector, long long* size);
};
class FileSWFAnalyser : public rawcarve::HeaderSizedCarver<SwfFormat> {};

struct TtfFormat {  // TrueType fonts
    static constexpr RAW_FILE_TYPE kType = RAW_TTF;
    static bool Size(const vk::ByteReader& head, const unsigned char* sector, long long* size);
};
class FileTTFAnalyser : public rawcarve::HeaderSizedCarver<TtfFormat> {};

struct WmfFormat {  // Windows metafiles
    static constexpr RAW_FILE_TYPE kType = RAW_WMF;
    static bool Size(const vk::ByteReader& head, const unsigned char* sector, long long* size);
};
class FileWMFAnalyser : public rawcarve::HeaderSizedCarver<WmfFormat> {};

class FileWPDAnalyser : public IRawFileAnalyser {
public:
    FileWPDAnalyser() : IRawFileAnalyser(RAW_WPD) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FilePSTAnalyser : public IRawFileAnalyser {
public:
    FilePSTAnalyser() : IRawFileAnalyser(RAW_PST) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

struct ItlFormat {  // media-library files
    static constexpr RAW_FILE_TYPE kType = RAW_ITL;
    static bool Size(const vk::ByteReader& head, const unsigned char* sector, long long* size);
};
class FileITLAnalyser : public rawcarve::HeaderSizedCarver<ItlFormat> {};

class FileMboxAnalyser : public IRawFileAnalyser {
public:
    FileMboxAnalyser() : IRawFileAnalyser(RAW_MBOX) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};
