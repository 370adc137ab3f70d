#include "Windows/InterfaceTexts.h"

#include <QString>
#include <ctime>

#include "UIPlatform/Texts.h"

namespace velmora::windows {

// The windows' lookup answers a missing key with the key itself; the bridge
// asks for its own fallback instead.
std::string InterfaceTextCatalog::Text(const std::string& key, const std::string& fallback) const {
    const QString wanted = QString::fromStdString(key);
    const QString text = ui::texts::Text(wanted);
    if (text == wanted || text.isEmpty())
        return fallback;
    return text.toStdString();
}

// Written as the bridge writes dates by itself ("1 May 2026 09:30"), so the
// trees read the same whichever catalogue is in place.
std::string InterfaceTextCatalog::DateTimeText(time_t seconds) const {
    struct tm local {};
    if (::localtime_r(&seconds, &local) == nullptr)
        return {};
    char text[64];
    const size_t n = std::strftime(text, sizeof text, "%d %B %Y %H:%M", &local);
    std::string out(text, n);
    if (out.size() > 1 && out[0] == '0')
        out.erase(0, 1);
    return out;
}

void InstallInterfaceTexts() {
    bridge::InstallTextCatalog(std::make_shared<InterfaceTextCatalog>());
}

}  // namespace velmora::windows
