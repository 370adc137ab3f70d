// Analysers that recognise a format by its first sector and, except the
// photo-paint and CIFF ones, read the file's length straight from the
// header. None names or labels its files. Declarations only: each format's
// code is in its own file (IcnsAnalyser.cpp, AuAnalyser.cpp, ...).
#pragma once

#include "Carver.h"
#include "RawFileInfo.h"

struct IcnsFormat {  // Apple icon containers
    static constexpr RAW_FILE_TYPE kType = RAW_ICNS;
    static bool Size(const vk::ByteReader& head, const unsigned char* sector, long long* size);
};
class FileICNSAnalyser : public rawcarve::HeaderSizedCarver<IcnsFormat> {};

class FileAUAnalyser : public IRawFileAnalyser {
public:
    FileAUAnalyser() : IRawFileAnalyser(RAW_AU) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileBMPAnalyser : public IRawFileAnalyser {
public:
    FileBMPAnalyser() : IRawFileAnalyser(RAW_BMP) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileCABAnalyser : public IRawFileAnalyser {
public:
    FileCABAnalyser() : IRawFileAnalyser(RAW_CAB) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

struct ChmFormat {  // compiled HTML help
    static constexpr RAW_FILE_TYPE kType = RAW_CHM;
    static bool Size(const vk::ByteReader& head, const unsigned char* sector, long long* size);
};
class FileCHMAnalyser : public rawcarve::HeaderSizedCarver<ChmFormat> {};

struct EmfFormat {  // enhanced metafiles
    static constexpr RAW_FILE_TYPE kType = RAW_EMF;
    static bool Size(const vk::ByteReader& head, const unsigned char* sector, long long* size);
};
class FileEMFAnalyser : public rawcarve::HeaderSizedCarver<EmfFormat> {};

// Sized by a walk of its record table.
class FileCPTAnalyser : public IRawFileAnalyser {
public:
    FileCPTAnalyser() : IRawFileAnalyser(RAW_CPT) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};

// The whole-file sizer of CIFF raw files: the end record's marks.
class FileCRWAnalyser : public IRawFileAnalyser {
public:
    FileCRWAnalyser() : IRawFileAnalyser(RAW_CRW) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};
