// What both TIFF sizers make of the camera a file names: the raw format its
// maker writes, and the make and model texts fit for names and labels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "RawFileTypes.h"

namespace tiff_camera {

// Longest texts kept: makes beyond this are not a maker's name.
constexpr size_t kMaxTextBytes = 63;
constexpr size_t kMaxMakeBytes = 30;
constexpr size_t kMaxModelBytes = 40;

// The text of an ASCII field: up to kMaxTextBytes bytes, ending at the
// first zero byte.
std::string FieldText(const uint8_t* data, size_t length);

// The make as names and labels use it: upper case, filtered; empty when it
// holds characters not allowed in names or is longer than kMaxMakeBytes.
std::string CleanMake(const std::string& raw);
// The model: filtered; empty when longer than kMaxModelBytes or when it
// holds characters not allowed in names.
std::string CleanModel(const std::string& raw);

// The raw format of the maker's row (make upper case), or -1 when no row
// decides it (an unknown maker, or a LEICA file that is not an IIU file).
RAW_FILE_TYPE RawTypeFromMaker(const std::string& make, const std::string& model, bool dng,
                               bool iiu);

}  // namespace tiff_camera
