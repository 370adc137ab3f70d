// The bridge to the optional usage-statistics library: loaded from the work
// folder on first use, its object asked for once and kept. Without the
// library every call does nothing. Identifiers below 4096 are refused here,
// before the library is even loaded.
#pragma once

#include <QString>

#include <string>

namespace velmora::platform {
class StatisticsLibrary;
}

class VKSpyBridge {
public:
    VKSpyBridge() = delete;

    static constexpr int kFirstId = 4096;
    static constexpr int kUploadId = 3584;
    static constexpr int kEdiRsfId = 4175;
    static constexpr const char* kUploadPath =
        "/product/index.php/?a=statistics&p_type=m_mac_vexa_user_operation";

    // InstallSpy with "Participate" of the user defaults / with `flag`'s
    // lowest bit; both hand over the work folder.
    static void SpyIDInstall();
    static void SetUserParticipart(int flag);

    static void SpyIDIncreateTable1(int id);
    static void SpyIDIncreateTable2(int id, int value);
    static void SpyIDStringTable1(int id, const QString& text);
    static void SpyIDWStringTable1(int id, const QString& text);
    static void SpyIDStringTable2(int id, const QString& text);
    // Upload request, then event (2, 5).
    static void SpyIDSaveToServerTable();
    // At quit: upload request, event (7, 5), finish.
    static void SpyIDEnd();
    // Counts a result file of a disk image when `isEdiRsf` (the scan's
    // result came from a disk image).
    static void SetEdiRsf(bool isEdiRsf);

    // The upload address: the settings file's "StatisticsHost" (empty in the
    // shipped file) followed by the statistics path.
    static std::string UploadAddress();

    // Starts the bridge afresh with the library looked for in `folder`
    // (tests); an empty folder means the work folder.
    static void UseLibraryFolder(const std::string& folder);
    static velmora::platform::StatisticsLibrary& Library();
};
