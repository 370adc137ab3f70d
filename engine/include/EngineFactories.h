// The one place through which the engine core creates the searchers and
// recognisers of the file-system subsystems. The core is built before (and
// without) them, so it cannot call their factories directly; the final
// engine library fills this table with what is built (InstallEngineFactories),
// and tests put in fakes. An empty entry behaves as a factory that failed.
#pragma once

class IStorageDevice;
class IQuickFileSystemSearchController;
class ICompleteFileSystemSearchController;
class IVolumeAnalyze;
class IFileNode;
class IFileReader;

struct EngineFactoryTable {
    using QuickSearcherFactory = IQuickFileSystemSearchController* (*)();
    using DeepSearcherFactory = ICompleteFileSystemSearchController* (*)();
    using VolumeAnalyzeFactory = IVolumeAnalyze* (*)(IStorageDevice* device,
                                                     unsigned long long startSector);

    // Quick searchers, by the volume's file system.
    QuickSearcherFactory createFATQuickSearcher = nullptr;
    QuickSearcherFactory createNTFSQuickSearcher = nullptr;
    QuickSearcherFactory createEXFatQuickSearcher = nullptr;
    QuickSearcherFactory createHFSPlusQuickSearcher = nullptr;
    QuickSearcherFactory createAPFSQuickSearcher = nullptr;

    // Deep searchers, in the order a deep scan creates them.
    DeepSearcherFactory createHFSPlusSearcher = nullptr;
    DeepSearcherFactory createEXFatSearcher = nullptr;
    DeepSearcherFactory createFATSearcher = nullptr;
    DeepSearcherFactory createRAWSearcher = nullptr;
    DeepSearcherFactory createNTFSSearcher = nullptr;
    DeepSearcherFactory createAPFSDeepSearcher = nullptr;

    // Volume recognisers, in the order the volume analysis asks them.
    VolumeAnalyzeFactory createFatVolumeAnalyze = nullptr;
    VolumeAnalyzeFactory createExfatVolumeAnalyze = nullptr;
    VolumeAnalyzeFactory createNTFSVolumeAnalyze = nullptr;
    VolumeAnalyzeFactory createHFSPlusVolumeAnalyze = nullptr;
    VolumeAnalyzeFactory createAPFSVolumeAnalyze = nullptr;

    // The NTFS reader of a node's data that may sit inside its file record
    // (resident): the tree builder reads a recycle bin's "$I" index files
    // through it, and recovery the data of files whose run list is resident. Arguments: device,
    // node, start sector of the volume, sectors per cluster. The caller releases the reader.
    using ResidentReaderFactory = IFileReader* (*)(IStorageDevice* device, IFileNode* node,
                                                   long long startSector,
                                                   unsigned sectorsPerCluster);
    ResidentReaderFactory createResidentDataReader = nullptr;

    // The signature search's test of one sector, used by the FAT walker to
    // check a guessed first cluster of a deleted file: 1 when an analyser
    // recognises the start of a file there, 0 when none does. An empty entry
    // means "unknown" and the walker falls back to its other evidence.
    using FileStartTest = int (*)(const unsigned char* sector, unsigned length);
    FileStartTest testFileStart = nullptr;
};

// The process-wide table. Filled once at start-up, before any scan; read
// without a lock afterwards.
EngineFactoryTable& EngineFactories();

// Calls a factory entry, or yields null when the entry is empty.
template <typename R, typename... P, typename... A>
R* CallFactory(R* (*factory)(P...), A&&... args) {
    return factory ? factory(static_cast<A&&>(args)...) : nullptr;
}

// Fills the table with every subsystem linked into the engine library.
void InstallEngineFactories();
