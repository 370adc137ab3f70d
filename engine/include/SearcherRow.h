// One row per searcher: everything the scan controllers, the volume analysis,
// the tree builder and the node class need to know about a file system,
// kept where the file system is wired instead of in their code. A file
// system adds itself with its own folder and one row (see
// docs/architecture.md); nothing in the core names it.
//
// Rows are installed once at start-up (InstallEngineFactories, from the file
// systems linked into the engine library), before any scan, and read without
// a lock afterwards. Tests install rows of their own.
#pragma once

#include <cstdint>
#include <vector>

#include "EngineTypes.h"

class IStorageDevice;
class IQuickFileSystemSearchController;
class ICompleteFileSystemSearchController;
class IVolumeAnalyze;
class IResidentDataService;
class IFileStartService;
class IFileReader;
class CFileNode;
class CSearchedPartitionInfo;

// A set of FileSystemType codes, one bit per code.
constexpr uint32_t FileSystemBit(int fileSystemType) {
    return fileSystemType >= 0 && fileSystemType < 32 ? 1u << fileSystemType : 0u;
}

// How the tree builder builds one result tree.
struct SearcherTreeRules {
    // The tree's (and its nodes') searcher type; SEARCHER_NONE: no tree.
    _tagSearcherType type = SEARCHER_NONE;
    // Appended to the device name, without a blank, to name the tree's root.
    const char* rootSuffix = "";
    // Windows recycle bins are set aside while nodes arrive and come back
    // under their original names when the tree is finished.
    bool divertsRecycleBins = true;
    // Every node is attached as it comes: folders with no file below them,
    // and live files even when the filter shows only deleted ones.
    bool attachesAllNodes = false;
    // A bookkeeping folder directly under the root, by name: the folders
    // inside it are never shown, and incremental builds wait until it has
    // been seen. Null for none.
    const char* hiddenRootFolder = nullptr;
    // A recycled file's restored name is set on the node's file properties
    // rather than through the node's SetFileName.
    bool recycledNameToProperties = false;
    // The numbered folder a recovery of this tree's files goes to is named
    // this, then (when recoveryFolderDated) the recovery's date and "_",
    // then its number. Empty: the number alone.
    const char* recoveryFolder = "";
    bool recoveryFolderDated = true;
};

// How two nodes of this searcher that carry the same id are compared when
// the tree builder drops copies (CFileNode::operator==).
struct SearcherNodeRules {
    // A folder seen again under another name (renamed, or a deleted
    // entry's first byte lost) passes its file properties to the older
    // node when it is not older itself.
    bool renamedFolderPassesProperties = false;
};

// What a deep searcher is given before the block walk, and how it ends.
enum DeepSearcherNeeds : uint32_t {
    kDeepNeedsProgress = 0x1,        // SetIProgressSink(the caller's sink)
    kDeepNeedsSectorMap = 0x2,       // SetFileSectorMap(the scan's shared map)
    kDeepSkipsEndWhenStopped = 0x4,  // a stopped scan does not call its EndSearch
};

struct SearcherRow {
    using QuickSearcherFactory = IQuickFileSystemSearchController* (*)();
    using DeepSearcherFactory = ICompleteFileSystemSearchController* (*)();
    using VolumeAnalyzeFactory = IVolumeAnalyze* (*)(IStorageDevice* device,
                                                     unsigned long long startSector);
    using InstallHook = void (*)();
    using ContainerDeviceSetter = void (*)(IStorageDevice* volume, char* device);
    using CompressedReaderOpener = IFileReader* (*)(IStorageDevice* device, CFileNode* node,
                                                    CSearchedPartitionInfo* partition);

    // For logs and listings.
    const char* name = "";
    // The searcher type of its deep searcher and of its recovery objects.
    _tagSearcherType type = SEARCHER_NONE;

    // The quick search, and the FileSystemBit set of volume types it serves.
    uint32_t quickFileSystems = 0;
    QuickSearcherFactory createQuickSearcher = nullptr;

    // The deep searcher; deep scans create them in ascending deepOrder.
    DeepSearcherFactory createDeepSearcher = nullptr;
    int deepOrder = 0;
    uint32_t deepNeeds = 0;  // DeepSearcherNeeds bits
    // SetActivePartition(true) when the scanned device is a live volume
    // whose record names one of these file-system types.
    uint32_t activeOnVolumesOf = 0;
    // Live volumes of these file-system types are containers of volumes:
    // device enumeration names them (label and volume name) from the
    // platform's container listing (platform/ContainerListing.h), and hands
    // the listed volume's device to the volume device through
    // setContainerDevice when there is one.
    uint32_t namedByContainerListing = 0;
    ContainerDeviceSetter setContainerDevice = nullptr;

    // The volume recogniser; asked in ascending recogniserOrder, the first
    // answer other than unknown wins.
    VolumeAnalyzeFactory createVolumeAnalyze = nullptr;
    int recogniserOrder = 0;

    // The result trees its nodes go to: one, or two for a searcher that
    // files its nodes twice (the signature search, by extension and by tag).
    SearcherTreeRules trees[2] = {};
    // Rules for its nodes (those that answer one of its tree types).
    SearcherNodeRules nodes = {};

    // The reader recovery uses for a compressed node of a found partition of
    // one of its quick search's file-system types, opened on the node's data
    // through the partition record; null when it cannot be read. Null: the
    // node's own CreateCompressFileReader serves as it is.
    CompressedReaderOpener openCompressedReader = nullptr;

    // Services it provides to other layers (EngineServices.h); null for none.
    IResidentDataService* residentData = nullptr;
    IFileStartService* fileStart = nullptr;

    // Called once by the engine's wiring after the rows are installed, for
    // whatever else the file system hooks up (a platform stand-in). Never
    // called by tests that install rows.
    InstallHook install = nullptr;
};

namespace vk {

// Replaces the installed rows with these (copied). A later row that names a
// searcher type, a tree type or a service already taken is ignored for it,
// with a log line.
void InstallSearcherRows(std::vector<SearcherRow> rows);
const std::vector<SearcherRow>& InstalledSearcherRows();

// The row whose searcher type or one of whose tree types is `type`; null.
const SearcherRow* FindSearcherRow(int type);
// The rules of the tree of this type; null when no row builds such a tree.
const SearcherTreeRules* FindTreeRules(int treeType);
// The node rules of nodes answering this searcher type; all off for a type
// no row knows.
SearcherNodeRules NodeRulesOf(int nodeType);

// The first row, in installation order, whose quick search serves volumes
// of this file-system type; null when none does.
const SearcherRow* QuickSearcherRowFor(int fileSystemType);
// Rows with a deep searcher, in deep order (installation order among
// equals).
std::vector<const SearcherRow*> DeepSearcherRows();
// Rows with a volume recogniser, in recogniser order.
std::vector<const SearcherRow*> RecogniserRows();
// The first row, in installation order, that names live volumes of this
// file-system type from the platform's container listing; null when none
// does.
const SearcherRow* ContainerListingRowFor(int fileSystemType);

}  // namespace vk
