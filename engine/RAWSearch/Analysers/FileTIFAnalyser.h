// The whole-file TIFF sizer: measures a TIFF, or a camera raw file built on
// TIFF (and the FUJIFILM RAF wrapper around one), that starts at a
// candidate's first sector, by following its image file directories
// through the device; types it by the camera's maker and names it by make
// and model. The streaming TIFF analyser hands it what it cannot finish.
#pragma once

#include <cstdint>
#include <string>

#include "RawFileInfo.h"

class FileTIFAnalyser : public IRawFileAnalyser {
public:
    // Offsets and ends beyond this are not taken as a file's.
    static constexpr uint64_t kMaxOffset = 0x4E000000;
    // The guess for a file whose measured end is beyond kMaxOffset.
    static constexpr uint64_t kGuessedEnd = 0x7CCCCCC;
    // Files whose structure does not say where they end: ends below this are
    // carried on through the sectors that follow until zero fill, at most
    // to kZeroTailLimit.
    static constexpr uint64_t kZeroTailBelow = 0x100000;
    static constexpr uint64_t kZeroTailLimit = 0x2999999;
    static constexpr unsigned kZeroTailBytes = 16;
    // Directories read besides the main chain, and of the main chain.
    static constexpr int kMaxSubDirectories = 14;
    static constexpr int kMaxChainDirectories = 1024;

    FileTIFAnalyser() : IRawFileAnalyser(RAW_TIF) {}

    // Sizes, types, names and labels the candidate; 0 when the measurement
    // could not start.
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    // Refuses a sector that begins "FUJI" but is not an RAF file.
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    std::string GetRawFileName() override { return m_name; }
    std::string GetRawFileTime() override { return m_dateTime; }
    void GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value) const;
    void GetThumbStartAndSize(unsigned long long& start, unsigned long long& size) const;

    // The measurement; also sets the candidate's type, name, time text,
    // label and thumbnail. Answers the size (0 when there is nothing to read).
    long long GetTiffSize(CRawFileInfo& info, IStorageDevice* device);

private:
    void InitTifAnalyser();

    std::string m_name;
    std::string m_dateTime;
    std::string m_make;
    RAW_FILE_TAG m_tag = RAW_TAG_NONE;
    unsigned long long m_thumbStart = 0;
    unsigned long long m_thumbSize = 0;
};
