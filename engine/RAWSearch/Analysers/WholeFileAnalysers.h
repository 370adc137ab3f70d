// Small analysers that recognise a format from its first sector and size
// the file from header fields or by a short forward walk over the device.
// HLP, ICO/CUR, early Word and Money files are filed in the registry under
// their own keys; the MIDI, Jet/ACE, LHA, HTML and gzip sizers are the
// whole-file partners of streaming analysers of those formats, which hand
// them the candidates they could not finish. Declarations only: each
// format's code is in its own file, beside its streaming analyser where it
// has one (HlpAnalyser.cpp, IcoAnalyser.cpp, LowDocAnalyser.cpp,
// MnyAnalyser.cpp, MdbAnalyser.cpp, MidAnalyser.cpp, LzhAnalyser.cpp,
// HtmAnalyser.cpp, GzAnalyser.cpp).
#pragma once

#include "Carver.h"
#include "RawFileInfo.h"

struct HlpFormat {  // Windows help files
    static constexpr RAW_FILE_TYPE kType = RAW_HLP;
    static bool Size(const vk::ByteReader& head, const unsigned char* sector, long long* size);
};
class FileHLPAnalyser : public rawcarve::HeaderSizedCarver<HlpFormat> {};

class FileICOAnalyser : public IRawFileAnalyser {
public:
    FileICOAnalyser() : IRawFileAnalyser(RAW_ICO) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // True when one 16-byte directory entry is usable.
    static bool IsInvalidIconDirEntry(const unsigned char* entry);
};

struct LowDocFormat {  // early Word documents: every sector under their keys is one
    static constexpr RAW_FILE_TYPE kType = RAW_DOC;
    static bool Size(const vk::ByteReader& head, const unsigned char* sector, long long* size);
};
class FileLowDocAnalyser : public rawcarve::HeaderSizedCarver<LowDocFormat> {};

// Sizes a Jet database (Access or Money) by its pages.
int SizeByJetPages(CRawFileInfo& info, IStorageDevice* device);

// Money files are Jet databases of another engine: sized by their pages.
class FileMNYAnalyser : public IRawFileAnalyser {
public:
    FileMNYAnalyser() : IRawFileAnalyser(RAW_MNY) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class FileMIDAnalyser : public IRawFileAnalyser {
public:
    FileMIDAnalyser() : IRawFileAnalyser(RAW_MID) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class FileMDBAnalyser : public IRawFileAnalyser {
public:
    FileMDBAnalyser() : IRawFileAnalyser(RAW_MDB) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class FileLZHAnalyser : public IRawFileAnalyser {
public:
    FileLZHAnalyser() : IRawFileAnalyser(RAW_LZH) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class FileHTMAnalyser : public IRawFileAnalyser {
public:
    FileHTMAnalyser() : IRawFileAnalyser(RAW_HTM) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

class FileGZAnalyser : public IRawFileAnalyser {
public:
    FileGZAnalyser() : IRawFileAnalyser(RAW_GZ) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

namespace CGzSearch {
// A gzip member header as RFC 1952 writes it: 1F 8B, deflate, no reserved
// flag bits, a known operating system or 255 (unknown, as Python and other
// libraries write). Both gzip sizers use this one test.
bool IsValidGzHeader(const unsigned char* header, unsigned length);
}  // namespace CGzSearch
