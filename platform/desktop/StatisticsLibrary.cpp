#include "platform/desktop/StatisticsLibrary.h"

#include <dlfcn.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/AppPaths.h"

namespace velmora::platform {

namespace {

// glibc's name for wchar_t's encoding; it has no "UCS-4-INTERNAL".
constexpr const char* kWideEncoding = "WCHAR_T";

// A library that others could have replaced must not be loaded into a
// process that runs as root.
bool SafeToLoad(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (st.st_uid != 0 && st.st_uid != geteuid())
        return false;
    return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

long Utf8ToWide(const char* input, size_t inputLength, wchar_t* output, size_t outputBytes) {
    iconv_t cd = iconv_open(kWideEncoding, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return -1;
    char* in = const_cast<char*>(input);
    size_t inLeft = inputLength;
    char* out = reinterpret_cast<char*>(output);
    size_t outLeft = outputBytes;
    size_t n = iconv(cd, &in, &inLeft, &out, &outLeft);
    const bool invalid = n == static_cast<size_t>(-1) && errno != E2BIG;
    iconv_close(cd);
    if (invalid)
        return -1;
    // A full output is the intended cut, not an error.
    return n == static_cast<size_t>(-1) ? 0 : static_cast<long>(n);
}

StatisticsLibrary::StatisticsLibrary(std::string folder) : folder_(std::move(folder)) {
    path_ = folder_.empty() ? kFileName : folder_ + "/" + kFileName;
}

StatisticsLibrary::StatisticsLibrary() : StatisticsLibrary(ExecutableFolder()) {}

StatisticsLibrary::~StatisticsLibrary() {
    // The library's object lives until the process ends; unloading under it
    // would leave its table pointing nowhere.
}

bool StatisticsLibrary::Load() {
    if (handle_)
        return true;
    if (folder_.empty() || !SafeToLoad(path_)) {
        std::fprintf(stdout, "Statistics library: %s is not there or not safe to load\n",
                     path_.c_str());
        return false;
    }
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* error = dlerror();
        std::fprintf(stdout, "Statistics library: %s did not load: %s\n", path_.c_str(),
                     error ? error : "unknown error");
    }
    return handle_ != nullptr;
}

StatisticsObject* StatisticsLibrary::Object() {
    if (object_ || !Load())
        return object_;
    // The library exports a C function answering an untyped pointer: call
    // it as exactly that type, then name what it points to.
    using GetSmartSpyFn = void* (*)();
    if (auto get = reinterpret_cast<GetSmartSpyFn>(dlsym(handle_, "GetSmartSpy")))
        object_ = static_cast<StatisticsObject*>(get());
    return object_;
}

bool StatisticsLibrary::Install(bool participate) {
    if (!Load())
        return false;
    using InstallSpyFn = int (*)(int32_t, const wchar_t*);
    auto install = reinterpret_cast<InstallSpyFn>(dlsym(handle_, "InstallSpy"));
    if (!install)
        return false;
    // 256 wide characters and a terminator that stays zero.
    std::vector<wchar_t> folder(1024, L'\0');
    const wchar_t* arg = nullptr;
    if (!folder_.empty() &&
        Utf8ToWide(folder_.data(), folder_.size(), folder.data(), 256 * sizeof(wchar_t)) >= 0)
        arg = folder.data();
    install(participate ? 1 : 0, arg);
    return true;
}

}  // namespace velmora::platform
