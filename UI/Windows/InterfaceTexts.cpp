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
    return bridge::PlainDateTimeText(seconds);
}

void InstallInterfaceTexts() {
    bridge::InstallTextCatalog(std::make_shared<InterfaceTextCatalog>());
}

}  // namespace velmora::windows
