// Small value types every part of the engine shares: who found a node, which
// file system a volume holds, and the file categories the user picks.
#pragma once

// The searcher that found a node; also names the result tree it lands in.
// Result files store these numbers: never renumber one. A new file system
// takes the next number after the last line.
enum _tagSearcherType : int {
    // What a node answers when its class says nothing. Kept off the run of
    // searcher numbers so that the next number stays free; no result file
    // stores it (only tree roots' types are stored, and loading refuses a
    // type no searcher has).
    SEARCHER_NONE = -1,
    SEARCHER_HFSPLUS = 31,
    SEARCHER_FAT = 32,
    SEARCHER_EXFAT = 33,
    SEARCHER_RAW = 34,  // signature search, tree by extension
    SEARCHER_NTFS = 35,
    SEARCHER_RAW_LABEL = 36,  // signature search, tree by tag
    SEARCHER_APFS = 37,
};

// File-system type codes of volumes and found partitions.
enum FileSystemType : int {
    FS_FAT12 = 0,
    FS_FAT16 = 1,
    FS_FAT32 = 2,
    FS_NTFS = 3,
    FS_EXT2 = 4,
    FS_EXT3 = 5,
    FS_RAW = 6,
    FS_EXFAT = 7,
    FS_HFSPLUS = 8,
    FS_APFS = 9,
    FS_UNKNOWN = 10,
};

// The user's choice of file categories, one bit each.
enum FileCategoryMask : unsigned {
    CATEGORY_DOCUMENT = 0x01,
    CATEGORY_PICTURE = 0x02,
    CATEGORY_MOVIE = 0x04,
    CATEGORY_MUSIC = 0x08,
    CATEGORY_ARCHIVE = 0x10,
    CATEGORY_EMAIL = 0x20,
    CATEGORY_OTHER = 0x40,
    CATEGORY_ALL = 0x7F,
};

// Tick mark of a node in the result trees.
enum _tagCheckedStatus : int {
    CHECK_UNCHECKED = 0,
    CHECK_PARTLY = 1,
    CHECK_CHECKED = 2,
};
