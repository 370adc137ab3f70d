// The rows every searcher of the engine is to have, without factories: the
// tree, node, order and volume rules the file systems' own rows must carry.
// Tests of the core install them (with fake factories where they need
// searchers), and the wiring test checks every row the engine library
// installs against them, so a file system that joins with a row that
// differs from these is caught.
#pragma once

#include <utility>
#include <vector>

#include "EngineServices.h"
#include "IStorageDevice.h"
#include "SearcherRow.h"

namespace velmora::test {

inline SearcherRow PlannedRow(_tagSearcherType type) {
    SearcherRow r;
    r.type = type;
    switch (type) {
        case SEARCHER_HFSPLUS:
            r.name = "HFS+";
            r.quickFileSystems = FileSystemBit(FS_HFSPLUS);
            r.deepOrder = 10;
            r.deepNeeds = kDeepNeedsProgress;
            r.activeOnVolumesOf = FileSystemBit(FS_HFSPLUS);
            r.recogniserOrder = 40;
            r.trees[0] = {.type = SEARCHER_HFSPLUS,
                          .rootSuffix = "(HFS+)",
                          .hiddenRootFolder = "HFS+ Private Data",
                          .recoveryFolder = "HFS+_"};
            break;
        case SEARCHER_EXFAT:
            r.name = "exFAT";
            r.quickFileSystems = FileSystemBit(FS_EXFAT);
            r.deepOrder = 20;
            r.recogniserOrder = 20;
            r.trees[0] = {
                .type = SEARCHER_EXFAT, .rootSuffix = "(ExFat)", .recoveryFolder = "ExFat_"};
            break;
        case SEARCHER_FAT:
            r.name = "FAT";
            r.quickFileSystems =
                FileSystemBit(FS_FAT12) | FileSystemBit(FS_FAT16) | FileSystemBit(FS_FAT32);
            r.deepOrder = 30;
            r.deepNeeds = kDeepNeedsSectorMap;
            r.recogniserOrder = 10;
            r.trees[0] = {.type = SEARCHER_FAT,
                          .rootSuffix = "(FAT/FAT32)",
                          .recycledNameToProperties = true,
                          .recoveryFolder = "Fat_"};
            r.nodes = {.renamedFolderPassesProperties = true};
            break;
        case SEARCHER_RAW:
        case SEARCHER_RAW_LABEL:
            r.name = "signature search";
            r.type = SEARCHER_RAW;
            r.deepOrder = 40;
            r.deepNeeds = kDeepNeedsSectorMap | kDeepNeedsProgress | kDeepSkipsEndWhenStopped;
            r.trees[0] = {.type = SEARCHER_RAW,
                          .rootSuffix = "(RAW Files)",
                          .recoveryFolder = "RAW_",
                          .recoveryFolderDated = false};
            r.trees[1] = {.type = SEARCHER_RAW_LABEL,
                          .rootSuffix = "(Label RAW Files)",
                          .recoveryFolder = "Lable_RAW_"};
            break;
        case SEARCHER_NTFS:
            r.name = "NTFS";
            r.quickFileSystems = FileSystemBit(FS_NTFS);
            r.deepOrder = 50;
            r.recogniserOrder = 30;
            r.trees[0] = {
                .type = SEARCHER_NTFS, .rootSuffix = "(NTFS)", .recycledNameToProperties = true};
            break;
        case SEARCHER_APFS:
            r.name = "APFS";
            // APFS has no quick search: a quick scan of an APFS volume ends
            // with "no quick search".
            r.quickFileSystems = FileSystemBit(FS_APFS);
            // Its live volumes take their names from the container listing.
            r.namedByContainerListing = FileSystemBit(FS_APFS);
            r.setContainerDevice = [](IStorageDevice* volume, char* device) {
                volume->SetApfsDevicePath(device);
            };
            r.deepOrder = 60;
            r.recogniserOrder = 50;
            r.trees[0] = {.type = SEARCHER_APFS,
                          .rootSuffix = "(APFS)",
                          .divertsRecycleBins = false,
                          .attachesAllNodes = true,
                          .recoveryFolder = "APFS_"};
            break;
        default:
            break;
    }
    return r;
}

// The searcher types that have rows, in the order the wiring lists them.
inline std::vector<_tagSearcherType> PlannedTypes() {
    return {SEARCHER_HFSPLUS, SEARCHER_APFS, SEARCHER_NTFS,
            SEARCHER_RAW,     SEARCHER_FAT,  SEARCHER_EXFAT};
}

// Every planned row, no factories.
inline std::vector<SearcherRow> PlannedRows() {
    std::vector<SearcherRow> rows;
    for (_tagSearcherType t : PlannedTypes())
        rows.push_back(PlannedRow(t));
    return rows;
}

// Installs rows for the life of a test and puts the previous ones back.
class ScopedSearcherRows {
public:
    explicit ScopedSearcherRows(std::vector<SearcherRow> rows)
        : saved_(vk::InstalledSearcherRows()) {
        vk::InstallSearcherRows(std::move(rows));
    }
    ~ScopedSearcherRows() { vk::InstallSearcherRows(std::move(saved_)); }
    ScopedSearcherRows(const ScopedSearcherRows&) = delete;
    ScopedSearcherRows& operator=(const ScopedSearcherRows&) = delete;

private:
    std::vector<SearcherRow> saved_;
};

// Services made from plain functions, for tests that stand in for the file
// system that provides them.
class ResidentDataFromFunction final : public IResidentDataService {
public:
    using Function = IFileReader* (*)(IStorageDevice*, IFileNode*, long long, unsigned);
    explicit ResidentDataFromFunction(Function f) : f_(f) {}
    IFileReader* CreateResidentDataReader(IStorageDevice* device, IFileNode* node,
                                          long long startSector,
                                          unsigned sectorsPerCluster) override {
        return f_ ? f_(device, node, startSector, sectorsPerCluster) : nullptr;
    }

private:
    Function f_;
};

class FileStartFromFunction final : public IFileStartService {
public:
    using Function = int (*)(const unsigned char*, unsigned);
    explicit FileStartFromFunction(Function f) : f_(f) {}
    int TestFileStart(const unsigned char* sector, unsigned length) override {
        return f_ ? f_(sector, length) : 0;
    }

private:
    Function f_;
};

// The rows in place plus one that only provides services.
inline std::vector<SearcherRow> InstalledRowsWith(IResidentDataService* residentData,
                                                  IFileStartService* fileStart) {
    std::vector<SearcherRow> rows = vk::InstalledSearcherRows();
    SearcherRow provider;
    provider.name = "test services";
    provider.residentData = residentData;
    provider.fileStart = fileStart;
    rows.insert(rows.begin(), provider);
    return rows;
}

// A service provided for the life of a test (or of a scope within it).
class ScopedResidentData {
public:
    explicit ScopedResidentData(ResidentDataFromFunction::Function f)
        : service_(f), rows_(InstalledRowsWith(&service_, nullptr)) {}

private:
    ResidentDataFromFunction service_;
    ScopedSearcherRows rows_;
};

class ScopedFileStart {
public:
    explicit ScopedFileStart(FileStartFromFunction::Function f)
        : service_(f), rows_(InstalledRowsWith(nullptr, &service_)) {}

private:
    FileStartFromFunction service_;
    ScopedSearcherRows rows_;
};

}  // namespace velmora::test
