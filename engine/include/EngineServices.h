// Services that one file system provides and other layers use. They are
// real dependencies between layers, so they are named here and in the build:
// a consumer's library links velmora_service_<name> and a provider declares
// it in its velmora_searcher_row(... PROVIDES <name>) call; configuration
// lists who provides and who uses each (see docs/architecture.md). A
// provider hands its service out through its searcher row. While no
// provider is built the service is absent and every caller copes.
#pragma once

class IStorageDevice;
class IFileNode;
class IFileReader;

// NTFS data kept inside the file record ("resident"). The tree builder reads
// a recycle bin's "$I" index files through it, and recovery the data of
// files whose run list is resident. Provided by the NTFS library.
class IResidentDataService {
public:
    // A reader of the node's resident data on `device`, for a volume that
    // starts at `startSector` with `sectorsPerCluster`; null when the node
    // has none. The caller releases the reader.
    virtual IFileReader* CreateResidentDataReader(IStorageDevice* device, IFileNode* node,
                                                  long long startSector,
                                                  unsigned sectorsPerCluster) = 0;

protected:
    ~IResidentDataService() = default;
};

// The signature search's test of one sector. The FAT walker checks a guessed
// first cluster of a deleted file with it. Provided by the signature search.
class IFileStartService {
public:
    // 1 when an analyser recognises the start of a file in the sector, 0
    // when none does.
    virtual int TestFileStart(const unsigned char* sector, unsigned length) = 0;

protected:
    ~IFileStartService() = default;
};

namespace vk {

// The installed provider of each service, or null while none is built (the
// searcher rows installed last decide; see SearcherRow.h).
IResidentDataService* ResidentDataService();
IFileStartService* FileStartService();

}  // namespace vk
