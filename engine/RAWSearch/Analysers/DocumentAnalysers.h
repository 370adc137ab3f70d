// Documents, fonts, drawings and mail stores whose first sector gives their
// length (Flash movies, TrueType fonts, Windows metafiles, WordPerfect
// files, Outlook folders, media-library files), and mailboxes, whose end is
// found by reading them.
#pragma once

#include "RawFileInfo.h"

class FileSWFAnalyser : public IRawFileAnalyser {
public:
    FileSWFAnalyser() : IRawFileAnalyser(RAW_SWF) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileTTFAnalyser : public IRawFileAnalyser {
public:
    FileTTFAnalyser() : IRawFileAnalyser(RAW_TTF) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileWMFAnalyser : public IRawFileAnalyser {
public:
    FileWMFAnalyser() : IRawFileAnalyser(RAW_WMF) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

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

class FileITLAnalyser : public IRawFileAnalyser {
public:
    FileITLAnalyser() : IRawFileAnalyser(RAW_ITL) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
};

class FileMboxAnalyser : public IRawFileAnalyser {
public:
    FileMboxAnalyser() : IRawFileAnalyser(RAW_MBOX) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
};
