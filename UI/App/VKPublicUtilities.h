// Small services the interface shares that need no state of their own: the
// stored time of the last version check and the system's version number.
#pragma once

#include <QString>
#include <optional>

namespace velmora::app {

class VKPublicUtilities {
public:
    // "upDataTimeStr" of the settings file; none when it is not stored.
    static std::optional<QString> getUpDataTimeStr();
    static void writeUpDataTimeStr(const QString& text);

    // The running kernel's version ("6.1.0-18-amd64": 6, 1, 0); 0, 0, 0
    // when it cannot be read. Null pointers are skipped.
    static void getSystemVersionMajor(unsigned* major, unsigned* minor, unsigned* bugFix);
    // Major times 100 plus minor (6.1 gives 601).
    static unsigned getSystemVersion();
    // The number getSystemVersion gives for `major` and `minor`.
    static unsigned SystemVersionNumber(unsigned major, unsigned minor);
    // Major, minor and bug fix read from a release text such as uname gives.
    static void ParseRelease(const char* release, unsigned* major, unsigned* minor,
                             unsigned* bugFix);
};

}  // namespace velmora::app
