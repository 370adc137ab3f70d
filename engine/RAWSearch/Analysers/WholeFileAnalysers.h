// Small analysers that recognise a format from its first sector and size
// the file from header fields or by a short forward walk over the device.
// HLP, ICO/CUR, early Word and Money files are filed in the registry under
// their own keys; the MIDI, Jet/ACE, LHA, HTML and gzip sizers are the
// whole-file partners of streaming analysers of those formats, which hand
// them the candidates they could not finish.
#pragma once

#include "RawFileInfo.h"

class FileHLPAnalyser : public IRawFileAnalyser {
public:
    FileHLPAnalyser() : IRawFileAnalyser(RAW_HLP) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileICOAnalyser : public IRawFileAnalyser {
public:
    FileICOAnalyser() : IRawFileAnalyser(RAW_ICO) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    // True when one 16-byte directory entry is usable.
    static bool IsInvalidIconDirEntry(const unsigned char* entry);
};

class FileLowDocAnalyser : public IRawFileAnalyser {
public:
    FileLowDocAnalyser() : IRawFileAnalyser(RAW_DOC) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

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
