// 64-bit engine result codes.
//
//   bits 63-56  0x01 for every failure
//   bits 55-48  module number
//   bits 47-32  source line that raised the failure (diagnostic only)
//   bits 31-0   error number
//
// 0 is success; any value at or above 0x0100000000000000 is a failure. Callers
// compare module and error number only, never the line.
#pragma once

#include <cstdint>

using VKRESULT = uint64_t;

constexpr VKRESULT VK_OK = 0;
constexpr VKRESULT kResultFailureFlag = 0x0100000000000000ULL;

// Module numbers.
enum ResultModule : uint8_t {
    kModuleEnumDevice = 0x03,
    kModuleController = 0x04,
    kModuleHFSPlus = 0x05,
    kModuleFATSearch = 0x0a,
    kModuleDataRecovery = 0x0d,
    kModuleStorageDevice = 0x0e,
    kModulePartitionTable = 0x10,
    kModuleNTFSQuickSearch = 0x12,
};

// Error numbers raised by the engine core.
enum ResultError : uint32_t {
    kErrFailed = 0x1,
    kErrNotInitialised = 0x2,
    kErrNotSupported = 0x3,
    kErrOutOfMemory = 0x4,
    kErrBadArgument = 0x5,
    kErrNoInformation = 0x7,
    kErrArrayTooSmall = 0x9,
    kErrNoQuickSearch = 0x401,
    kErrNoDeepSearcher = 0x402,
    kErrBadScanRange = 0x403,
    kErrQuickScanOfDisk = 0x404,
};

constexpr VKRESULT MakeResult(uint8_t module, uint32_t line, uint32_t error) {
    return kResultFailureFlag | (static_cast<VKRESULT>(module) << 48) |
           (static_cast<VKRESULT>(line & 0xffff) << 32) | error;
}

constexpr bool ResultFailed(VKRESULT r) {
    return r >= kResultFailureFlag;
}
constexpr bool ResultSucceeded(VKRESULT r) {
    return r < kResultFailureFlag;
}
constexpr uint8_t ResultModuleOf(VKRESULT r) {
    return static_cast<uint8_t>(r >> 48);
}
constexpr uint32_t ResultLineOf(VKRESULT r) {
    return static_cast<uint32_t>(r >> 32) & 0xffff;
}
constexpr uint32_t ResultErrorOf(VKRESULT r) {
    return static_cast<uint32_t>(r);
}

// True when r is a failure of this module with this error number.
constexpr bool ResultIs(VKRESULT r, uint8_t module, uint32_t error) {
    return ResultFailed(r) && ResultModuleOf(r) == module && ResultErrorOf(r) == error;
}

// A failure of `module` carrying the line it was raised on.
#define VK_ERROR(module, error) ::MakeResult((module), static_cast<uint32_t>(__LINE__), (error))
