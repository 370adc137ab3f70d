// ZIP records as the ZIP analyser reads them off the surface: which record
// starts at a place, how long it is, what its member's name says about the
// container, and whether an end-of-central-directory record is the end of
// the archive that starts at a given place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "OfficeMetadata.h"
#include "RawFileTypes.h"

namespace classZipSearch {

enum class RecordKind : uint8_t { None, Local, Central, End, Zip64End, Zip64Locator };

struct Record {
    RecordKind kind = RecordKind::None;
    uint64_t length = 0;     // the whole record, member data included
    size_t headerBytes = 0;  // fixed part, name and extra field
    tagZipLocalFileHeader local;
    std::string name;  // local and central headers
};

// What ReadRecord made of the bytes at a place.
enum class ReadResult : uint8_t {
    Ok,
    Invalid,   // no record we know, or one that cannot be
    NeedMore,  // a record whose header runs past the bytes given
};

// The signature tests: a central header, an end record, a Zip64 end
// record or locator by their signature; a local header whose method is at
// most 10 and whose name is at most 4,096 bytes. `available` bytes follow p.
int IsValidHeader(const uint8_t* p, size_t available);
int IsValidLocalZipFileHeader(const uint8_t* p, size_t available);
int IsValidCentralDirectoryHeader(const uint8_t* p, size_t available);
int IsValidEndCentralDir(const uint8_t* p, size_t available);
int IsValidZip64EndCentralDirRecord(const uint8_t* p, size_t available);
int IsValidZip64EndCentralDirLocator(const uint8_t* p, size_t available);

// Reads the record at p. Names longer than `maxName` make a header invalid.
ReadResult ReadRecord(const uint8_t* p, size_t available, size_t maxName, Record& out);

// Reads `length` bytes at a file offset; null when they cannot be had.
using ReadAt = std::function<const uint8_t*(uint64_t offset, size_t length)>;
// True when the end record at file offset `position` (of the archive that
// starts at offset 0) closes that archive: its central directory, or its
// Zip64 end record, ends right where the end record (or its locator) begins.
bool EndRecordCloses(const ReadAt& read, uint64_t position);
// The end of the end record at `position` (its comment included).
uint64_t EndRecordEnd(const uint8_t* record);

// First occurrence of `pattern` starting at positions 0..lastPosition of
// the `available` bytes at p; -1 when none.
long FindAt(const uint8_t* p, size_t available, size_t lastPosition, const char* pattern);

}  // namespace classZipSearch
