// Analysers that recognise a format by its first sector and, except the
// photo-paint and CIFF ones, read the file's length straight from the
// header. None names or labels its files.
#pragma once

#include "RawFileInfo.h"

class FileICNSAnalyser : public IRawFileAnalyser {
public:
    FileICNSAnalyser() : IRawFileAnalyser(RAW_ICNS) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

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

class FileCHMAnalyser : public IRawFileAnalyser {
public:
    FileCHMAnalyser() : IRawFileAnalyser(RAW_CHM) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileEMFAnalyser : public IRawFileAnalyser {
public:
    FileEMFAnalyser() : IRawFileAnalyser(RAW_EMF) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

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
