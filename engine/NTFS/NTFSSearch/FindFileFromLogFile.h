// The $LogFile pass of the NTFS searches. When NTFS deletes a file it frees
// its clusters and clears the data attribute of its record, so the record
// left on disk shows a file of size 0 without runs. The $LogFile keeps, for
// a while, images of whole file records and the undo data of attribute
// changes; this reader collects them once per volume and then gives deleted
// files back their runs and size. Images of files whose record was since
// taken by another file are offered as files of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "DataRun.h"
#include "NTFSLib/NTFSDataRun.h"
#include "NTFSLib/NTFSFileNode.h"
#include "NTFSLib/NTFSMultiFileRecord.h"

class IStorageDevice;

class CFindFileFromLogFile {
public:
    // A record image found in the log.
    struct Image {
        std::unique_ptr<CNTFSFileProperties> properties;
        int64_t parent = -1;
        int64_t recordNumber = -1;
        uint16_t sequence = 0;
        uint64_t lsn = 0;
        bool used = false;
    };

    // Most of the log read: larger $LogFile data is damage or a volume
    // whose history is not worth a gigabyte of reads.
    static constexpr int64_t kMaxLogPages = 256 * 1024;

    CFindFileFromLogFile() = default;
    ~CFindFileFromLogFile() { Reset(); }
    CFindFileFromLogFile(const CFindFileFromLogFile&) = delete;
    CFindFileFromLogFile& operator=(const CFindFileFromLogFile&) = delete;

    // Binds the reader to a volume: its device, the device sector of its
    // cluster 0 (runOrigin), its cluster and record sizes and the runs of
    // its $MFT. Reads record 2; the reader is ready when that is $LogFile.
    // False without a device or runs, or when record 2 cannot be read.
    bool Init(IStorageDevice* device, const CNTFSDataRunList& mftRuns, uint32_t sectorsPerCluster,
              int64_t runOrigin = 0, uint32_t recordBytes = 1024);
    bool IsReady() const { return m_ready; }
    // Reads the log once: record images and undo data. Bounded by the log's
    // size (at most kMaxLogPages) whatever its pages say.
    void Analyzer();
    bool IsAnalysed() const { return m_analysed; }

    // Gives a deleted file back what the log knows of it: the runs of its
    // data (rebuilt from undo data, or those of its last record image) and
    // the image's size. `record` is the file's base record as read from
    // disk, `extensions` its extension records. False when nothing applies.
    bool ReplaceFileRecordInfo(const uint8_t* record, size_t size, CNTFSFileProperties* properties,
                               int64_t parent, const ExtendFileRecordInfoList* extensions);
    // Rebuilds the data attributes of one record (its fix-ups undone) from
    // the undo data aimed at it; the number of attributes rebuilt.
    int RebuildFileRecord(uint8_t* record, size_t size, int64_t recordNumber,
                          bool compressed) const;

    void Reset();
    int64_t GetLogPageCount() const;
    // One 4 KiB page of the log as it lies on disk.
    bool GetLogPageBuffer(int64_t page, std::vector<uint8_t>& out) const;

    const std::vector<Image>& Images() const { return m_images; }
    std::vector<Image>& Images() { return m_images; }
    size_t UndoPieceCount() const { return m_undo.size(); }

private:
    struct UndoPiece {
        int64_t record = -1;
        uint16_t recordOffset = 0;
        uint16_t attributeOffset = 0;
        std::vector<uint8_t> data;
    };

    bool ReadLog(uint64_t offset, size_t length, uint8_t* out) const;
    // Calls visit(bytes, length) for every whole log record of the log.
    void WalkLog(const std::function<void(const uint8_t*, size_t)>& visit) const;
    void VisitRecord(const uint8_t* record, size_t length);
    int64_t TargetRecord(uint64_t vcn, uint16_t blockOffset) const;

    IStorageDevice* m_device = nullptr;
    bool m_ready = false;
    bool m_analysed = false;
    int64_t m_runOrigin = 0;
    uint32_t m_sectorSize = 512;
    uint64_t m_clusterBytes = 0;
    uint32_t m_recordBytes = 1024;
    CNTFSDataRunList m_mftRuns;
    std::vector<DataRun> m_logRuns;
    std::unique_ptr<CNTFSFileProperties> m_logProperties;
    std::vector<Image> m_images;
    std::unordered_multimap<std::string, size_t> m_imagesByName;
    std::vector<UndoPiece> m_undo;
    std::unordered_multimap<int64_t, size_t> m_undoByRecord;
};
