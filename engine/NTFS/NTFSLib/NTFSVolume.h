// What other layers ask of NTFS: recognising a volume (with its label),
// reading data that sits inside a file record, and reading any NTFS node's
// bytes at an offset (the recycle-bin step of the tree builder reads "$I"
// index files with it, recovery the data of resident files).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FileNode.h"
#include "NTFSFactories.h"
#include "RecoveryInterfaces.h"
#include "ReleasePtr.h"
#include "SearchInterfaces.h"
#include "SearchedPartitionInfo.h"

class IStorageDevice;
class CNTFSFileNode;

class CNTFSVolumeAnalyer final : public IVolumeAnalyze {
public:
    CNTFSVolumeAnalyer(long long totalSectors, std::string label)
        : m_totalSectors(totalSectors), m_label(std::move(label)) {}
    int GetFileSystemType() override { return 3; }
    long long GetTotalSector() override { return m_totalSectors; }
    // The label of the $Volume record (UTF-8, terminated, cut between whole
    // characters to fit); the bytes copied without the terminator.
    int GetLabel(char* buffer, int size) override;

private:
    long long m_totalSectors;
    std::string m_label;
};

// The resident data of a file node: 1 with the bytes in `buffer` and their
// count in `length` when the node is a file whose data sits inside a file
// record and fits `size` bytes; 0 otherwise. The node's resident run list
// says which record and which attribute; without one, the first unnamed
// $DATA of the base record and its extension records is taken.
// With `lost`, the value's bytes that lie in torn sectors of their record
// are zeros and their ranges (from the value's start) are added there.
int GetResidentDataRunsStream(CNTFSFileNode& node, IStorageDevice& device, long long* length,
                              uint8_t* buffer, unsigned size, CLostRanges* lost = nullptr);
// The same for the base record at `recordSector` (its first byte at
// `offsetInSector`), without extension records.
int GetResidentDataRunsStream(unsigned long long recordSector, IStorageDevice& device,
                              long long* length, uint8_t* buffer, unsigned size,
                              uint32_t offsetInSector = 0);

// Reads a node's bytes: resident data from its record, compressed data
// through the LZNT1 reader, sparse runs as zeros, everything else cluster
// by cluster from the partition start.
class CFileReaderEx {
public:
    CFileReaderEx() = default;
    ~CFileReaderEx() { Close(); }
    CFileReaderEx(const CFileReaderEx&) = delete;
    CFileReaderEx& operator=(const CFileReaderEx&) = delete;

    bool Open(IStorageDevice* device, CFileNode* node, CSearchedPartitionInfo* partition);
    bool Open(IStorageDevice* device, CFileNode* node, long long partitionStart,
              int sectorsPerCluster);
    // Up to `count` bytes at `offset`; false past the end, without runs, or
    // when a device read fails. `got` receives the bytes delivered.
    bool Read(long long offset, uint8_t* out, int count, int& got);
    bool ReadResidentData(long long offset, uint8_t* out, int count, int& got);
    // The same for a node that is not an NTFS node (one read back from a
    // saved result), which keeps only the sector of its file record.
    bool ReadStoredResidentData(long long offset, uint8_t* out, int count, int& got);
    void Close();

    long long GetFileSize() const { return m_fileSize; }
    CFileNode* GetNode() const { return m_node; }
    IStorageDevice* GetDevice() const { return m_device; }
    long long GetPartitionStart() const { return m_partitionStart; }
    int GetSectorsPerCluster() const { return m_sectorsPerCluster; }
    // Bytes delivered as zeros since the last ClearLostRanges(): resident
    // data that lay in torn sectors of its record.
    const CLostRanges& GetLostRanges() const { return m_lost; }
    void ClearLostRanges() { m_lost.Clear(); }

private:
    IStorageDevice* m_device = nullptr;
    CFileNode* m_node = nullptr;
    long long m_partitionStart = 0;
    int m_sectorsPerCluster = 0;
    long long m_clusterBytes = 0;
    long long m_fileSize = 0;
    std::vector<uint8_t> m_buffer;  // eight clusters
    vk::ReleasePtr<IFileReader> m_compressed;
    CLostRanges m_lost;
};
