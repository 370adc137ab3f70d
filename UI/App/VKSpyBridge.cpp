#include "VKSpyBridge.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "UIPlatform/PrivateSettings.h"
#include "UIPlatform/UserDefaults.h"
#include "platform/desktop/StatisticsLibrary.h"

using velmora::platform::StatisticsLibrary;
using velmora::platform::StatisticsObject;

namespace {

// The bridge's process-wide state, made afresh with the library.
struct SpyState {
    explicit SpyState(std::unique_ptr<StatisticsLibrary> l) : library(std::move(l)) {}
    std::unique_ptr<StatisticsLibrary> library;
    // Counts the disk-image result files reported; the first is 1.
    int ediRsfCount = 1;
};

std::unique_ptr<SpyState>& State() {
    static std::unique_ptr<SpyState> state;
    return state;
}

// The object when the library is there; every call into it is guarded, as
// it is outside code.
template <typename Call>
void Forward(int id, Call call) {
    if (id < VKSpyBridge::kFirstId)
        return;
    StatisticsObject* object = VKSpyBridge::Library().Object();
    if (!object)
        return;
    try {
        call(*object);
    } catch (...) {
        std::fprintf(stdout, "Statistics library: a call failed\n");
    }
}

void Guarded(StatisticsObject* object, void (*call)(StatisticsObject&)) {
    if (!object)
        return;
    try {
        call(*object);
    } catch (...) {
        std::fprintf(stdout, "Statistics library: a call failed\n");
    }
}

void Upload(StatisticsObject& object) {
    const std::string address = VKSpyBridge::UploadAddress();
    object.SetString2(VKSpyBridge::kUploadId, address.c_str());
}

}  // namespace

StatisticsLibrary& VKSpyBridge::Library() {
    if (!State())
        UseLibraryFolder({});
    return *State()->library;
}

void VKSpyBridge::UseLibraryFolder(const std::string& folder) {
    State() =
        std::make_unique<SpyState>(folder.empty() ? std::make_unique<StatisticsLibrary>()
                                                  : std::make_unique<StatisticsLibrary>(folder));
}

std::string VKSpyBridge::UploadAddress() {
    const QString host = velmora::ui::PrivateSettings::shared().stringValue("StatisticsHost");
    return host.toStdString() + kUploadPath;
}

void VKSpyBridge::SpyIDInstall() {
    Library().Install(velmora::ui::UserDefaults::standard().boolValue("Participate"));
}

void VKSpyBridge::SetUserParticipart(int flag) {
    Library().Install((flag & 1) != 0);
}

void VKSpyBridge::SpyIDIncreateTable1(int id) {
    Forward(id, [id](StatisticsObject& o) { o.Increase(id); });
}

void VKSpyBridge::SpyIDIncreateTable2(int id, int value) {
    Forward(id, [id, value](StatisticsObject& o) { o.SetValue(id, value); });
}

void VKSpyBridge::SpyIDStringTable1(int id, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    Forward(id, [id, &utf8](StatisticsObject& o) { o.SetString1(id, utf8.constData()); });
}

void VKSpyBridge::SpyIDWStringTable1(int id, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    // 256 wide characters at most; the rest of the buffer stays the
    // terminator.
    std::vector<wchar_t> wide(1024, L'\0');
    if (velmora::platform::Utf8ToWide(utf8.constData(), static_cast<size_t>(utf8.size()),
                                      wide.data(), 256 * sizeof(wchar_t)) < 0)
        wide.assign(wide.size(), L'\0');
    Forward(id, [id, &wide](StatisticsObject& o) { o.SetWideString(id, wide.data()); });
}

void VKSpyBridge::SpyIDStringTable2(int id, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    Forward(id, [id, &utf8](StatisticsObject& o) { o.SetString2(id, utf8.constData()); });
}

void VKSpyBridge::SpyIDSaveToServerTable() {
    StatisticsObject* object = Library().Object();
    Guarded(object, &Upload);
    Guarded(object, [](StatisticsObject& o) { o.RecordEvent(2, 5); });
}

void VKSpyBridge::SpyIDEnd() {
    StatisticsObject* object = Library().Object();
    Guarded(object, &Upload);
    Guarded(object, [](StatisticsObject& o) { o.RecordEvent(7, 5); });
    Guarded(object, [](StatisticsObject& o) { o.Finish(); });
}

void VKSpyBridge::SetEdiRsf(bool isEdiRsf) {
    if (!isEdiRsf)
        return;
    Library();
    const int count = State()->ediRsfCount++;
    Forward(kEdiRsfId, [count](StatisticsObject& o) { o.SetValue(kEdiRsfId, count); });
}
