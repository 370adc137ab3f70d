#include "VKPublicUtilities.h"

#include <sys/utsname.h>

#include <cstdio>
#include <string>

#include "UIPlatform/PrivateSettings.h"

namespace velmora::app {

namespace {

constexpr const char* kCheckTimeKey = "upDataTimeStr";

}  // namespace

std::optional<QString> VKPublicUtilities::getUpDataTimeStr() {
    const QVariant value = ui::PrivateSettings::shared().value(QString::fromLatin1(kCheckTimeKey));
    if (!value.isValid() || value.isNull())
        return std::nullopt;
    return value.toString();
}

void VKPublicUtilities::writeUpDataTimeStr(const QString& text) {
    ui::PrivateSettings::shared().setValue(QString::fromLatin1(kCheckTimeKey), text);
}

void VKPublicUtilities::ParseRelease(const char* release, unsigned* major, unsigned* minor,
                                     unsigned* bugFix) {
    unsigned parts[3] = {0, 0, 0};
    if (release != nullptr) {
        // Up to three numbers separated by dots; whatever follows the last
        // digit ("-18-amd64") is not part of the version.
        const char* at = release;
        for (unsigned& part : parts) {
            if (*at < '0' || *at > '9')
                break;
            unsigned long long value = 0;
            while (*at >= '0' && *at <= '9') {
                value = value * 10 + static_cast<unsigned>(*at - '0');
                if (value > 0xFFFFFFu)
                    value = 0xFFFFFFu;
                ++at;
            }
            part = static_cast<unsigned>(value);
            if (*at != '.')
                break;
            ++at;
        }
    }
    if (major != nullptr)
        *major = parts[0];
    if (minor != nullptr)
        *minor = parts[1];
    if (bugFix != nullptr)
        *bugFix = parts[2];
}

void VKPublicUtilities::getSystemVersionMajor(unsigned* major, unsigned* minor, unsigned* bugFix) {
    struct utsname names {};
    if (::uname(&names) != 0) {
        std::fprintf(stderr, "Unable to obtain system version\n");
        ParseRelease(nullptr, major, minor, bugFix);
        return;
    }
    ParseRelease(names.release, major, minor, bugFix);
}

unsigned VKPublicUtilities::SystemVersionNumber(unsigned major, unsigned minor) {
    // The minor as two digits after the major ("6" and "01"); a minor of
    // three digits or more is written out whole, as the text would be.
    const std::string text =
        std::to_string(major) + (minor > 9 ? std::to_string(minor) : "0" + std::to_string(minor));
    try {
        const unsigned long long value = std::stoull(text);
        return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<unsigned>(value);
    } catch (...) {
        return 0;
    }
}

unsigned VKPublicUtilities::getSystemVersion() {
    unsigned major = 0, minor = 0;
    getSystemVersionMajor(&major, &minor, nullptr);
    return SystemVersionNumber(major, minor);
}

}  // namespace velmora::app
