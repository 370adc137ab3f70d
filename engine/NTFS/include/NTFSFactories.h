// What the NTFS library offers the rest of the engine: the entries of the
// factory table. Everything else of engine/NTFS is private to the library.
#pragma once

class IStorageDevice;
class IVolumeAnalyze;
class IFileNode;
class IFileReader;
class IQuickFileSystemSearchController;
class ICompleteFileSystemSearchController;

// The quick searcher of a live NTFS volume. Released through delete by the
// controller that made it.
IQuickFileSystemSearchController* CreateNTFSQuickSearcher();

// The deep searcher: NTFS volumes found on a raw surface from the structures
// they leave, with their trees. Released through delete.
ICompleteFileSystemSearchController* CreateNTFSSearcher();

// The NTFS recogniser: an analyser of type 3 (with the volume's label) when
// the sector at startSector is an NTFS boot sector the device can address;
// null otherwise.
IVolumeAnalyze* CreateNTFSVolumeAnalyze(IStorageDevice* device, unsigned long long startSector);

// A reader of any NTFS (or FAT, exFAT) node's bytes, resident data
// included, for clusters counted from `startSector`; null when the node
// cannot be read. Released through Release().
IFileReader* CreateNTFSResidentDataReader(IStorageDevice* device, IFileNode* node,
                                          long long startSector, unsigned sectorsPerCluster);
