// Copies text into fixed-size character fields of the device records: always
// terminated, never past the field, never cutting a UTF-8 sequence in half.
#pragma once

#include <cstddef>
#include <string_view>

namespace velmora::platform {

// Returns false (and writes nothing) for a null buffer or a size of 0;
// otherwise copies what fits and returns true. `truncated`, when given, says
// whether the whole text fitted.
bool CopyToBuffer(char* out, size_t size, std::string_view text, bool* truncated = nullptr);

}  // namespace velmora::platform
