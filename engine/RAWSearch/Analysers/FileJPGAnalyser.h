// Sizes a JPEG by reading it from the device: its marker segments, then its
// scans to the end of image; names it by the camera its EXIF block names.
// The streaming JPEG analyser hands it the candidates it could not finish.
#pragma once

#include <string>

#include "RawFileInfo.h"

class RawFileBuffer;

class FileJPGAnalyser : public IRawFileAnalyser {
public:
    static constexpr uint64_t kJfifLimit = 0x1A000000;
    static constexpr uint64_t kLimit = 0xD000000;

    FileJPGAnalyser() : IRawFileAnalyser(RAW_JPG) {}
    int AnalyseBuffer(unsigned char* sector, CRawFileInfo& info) override;
    int GetRawFileSize(CRawFileInfo& info, IStorageDevice* device) override;
    std::string GetRawFileName() override { return m_cameraName; }
    std::string GetRawFileTime() override { return m_date; }
    void GetRawFileTagAndValue(RAW_FILE_TAG& tag, std::string& value) const {
        tag = m_tag;
        value = m_tagValue;
    }

    void InitMemValue();
    // The end search over sectors that end in zero fill, from `offset` while
    // below `limit`: the offset just past the end marker it finds, or where
    // it stopped.
    static uint64_t AddFileSizeByPerSecSize(RawFileBuffer& file, uint64_t offset, uint64_t limit);

private:
    enum class Walk { Jfif, Exif, Plain };
    void ReadCamera(RawFileBuffer& file, uint64_t app1, CRawFileInfo& info);

    std::string m_cameraName;
    std::string m_date;
    int m_sectorSize = 0;
    RAW_FILE_TAG m_tag = RAW_TAG_NONE;
    std::string m_tagValue;
};
