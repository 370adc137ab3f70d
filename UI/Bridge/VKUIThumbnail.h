// Images of found files for the browser: a decoded picture, a thumbnail of
// a movie or a camera raw file, or the icon of the file's extension. Found
// files are usually not reachable through a mounted file system, so their
// bytes come through the engine's data-recovery objects. The decoding is
// done by a thumbnailer the program installs over Qt; headless runs have
// none and get empty images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "OpNodeData.h"

class IFileNode;

namespace velmora::bridge {

// An image as the windows get it; empty when none could be made.
struct ThumbnailImage {
    std::shared_ptr<const void> image;  // what the thumbnailer made
    int width = 0;
    int height = 0;
    bool Empty() const { return image == nullptr || width <= 0 || height <= 0; }
};

class IThumbnailer {
public:
    virtual ~IThumbnailer() = default;
    // A picture decoded from bytes.
    virtual ThumbnailImage DecodePicture(const char* data, size_t size) = 0;
    // A thumbnail of at most 192 x 192 of the file at `path` (a movie
    // frame, a camera raw or layered picture).
    virtual ThumbnailImage ThumbnailOfFile(const std::string& path) = 0;
    // The icon of files with this lowercased extension (no dot).
    virtual ThumbnailImage IconForExtension(const std::string& extension) = 0;
};

void InstallThumbnailer(std::shared_ptr<IThumbnailer> thumbnailer);
std::shared_ptr<IThumbnailer> CurrentThumbnailer();

// Pictures up to this size are decoded; larger ones get their icon.
inline constexpr long long kMaxDecodedPictureBytes = 104857600;
// The bytes that picture loading holds at once, over every thread that
// loads pictures: a load waits until its picture fits.
inline constexpr long long kPictureMemoryLimit = 2 * kMaxDecodedPictureBytes + (16 << 20);
// The part of that limit held now.
long long PictureMemoryInUse();
// Movies are read only this far (AVI files whole up to kMaxWholeAviBytes).
inline constexpr long long kMovieThumbnailBytes = 0x200000;
inline constexpr long long kMaxWholeAviBytes = 0x3200000;

// The bytes of a movie written for its thumbnail, by lowercased extension
// (with its dot); 0 for a kind that is not read.
long long MovieThumbnailBytes(const std::string& extension, long long size);

// The bytes of a found picture (category picture, 1 byte to
// kMaxDecodedPictureBytes), read through its data-recovery object in pieces;
// empty for another file, when nothing can read it, or once `stopped`
// answers true between pieces.
std::vector<uint8_t> ReadPictureBytes(IFileNode* node, const std::function<bool()>& stopped);

// A new empty file for a thumbnail's bytes in the process's private folder
// (mode 0700, made once), named at random with only the cleaned extension
// kept; "" when none could be made. The caller removes it.
std::string MakeThumbnailTempFile(const std::string& extension);

}  // namespace velmora::bridge
