// The optional usage-statistics library: loaded from the work folder when
// someone installed it there, absent otherwise (nothing of it is shipped).
// Without it every use does nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::platform {

// The statistics object the library hands out, used through its table of
// virtual operations: the order of the declarations is the library's slot
// order and must not change.
class StatisticsObject {
public:
    virtual void Finish() = 0;                                        // 0
    virtual void Reserved1() = 0;                                     // 1
    virtual void RecordEvent(int32_t code, int32_t detail) = 0;       // 2
    virtual void Reserved3() = 0;                                     // 3
    virtual void Reserved4() = 0;                                     // 4
    virtual void Reserved5() = 0;                                     // 5
    virtual void SetValue(int32_t id, int32_t value) = 0;             // 6
    virtual void Reserved7() = 0;                                     // 7
    virtual void SetString2(int32_t id, const char* utf8) = 0;        // 8
    virtual void SetWideString(int32_t id, const wchar_t* text) = 0;  // 9
    virtual void SetString1(int32_t id, const char* utf8) = 0;        // 10
    virtual void Reserved11() = 0;                                    // 11
    virtual void Increase(int32_t id) = 0;                            // 12

protected:
    ~StatisticsObject() = default;
};

class StatisticsLibrary {
public:
    static constexpr const char* kFileName = "libtessaly.so";

    // The library is looked for in `folder` (the work folder by default).
    explicit StatisticsLibrary(std::string folder);
    StatisticsLibrary();
    ~StatisticsLibrary();
    StatisticsLibrary(const StatisticsLibrary&) = delete;
    StatisticsLibrary& operator=(const StatisticsLibrary&) = delete;

    // Loads on first use; a failed load is tried again on the next call.
    bool Load();
    // The library's object, asked for once it loaded; null without it.
    StatisticsObject* Object();
    // Hands the library the participation flag and the work folder as wide
    // characters (cut at 256). False when the library or entry is missing.
    bool Install(bool participate);

    const std::string& path() const { return path_; }

private:
    std::string folder_, path_;
    void* handle_ = nullptr;
    StatisticsObject* object_ = nullptr;
};

// UTF-8 to the platform's wide characters through iconv, as the library
// expects them. Writes at most `outputBytes` bytes and no terminator; gives
// iconv's count of irreversible conversions, or -1 when the conversion
// cannot be opened or the input is not UTF-8.
long Utf8ToWide(const char* input, size_t inputLength, wchar_t* output, size_t outputBytes);

}  // namespace velmora::platform
