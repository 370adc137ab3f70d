// The shell's tests run in one QApplication, offscreen unless told
// otherwise, with fades scaled to nothing, English loaded, and the settings
// file, its overlay and the user defaults in folders of their own: the
// shipped settings file as installed, nothing of the user's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Run by sudo or pkexec, the settings would go to the caller's home.
    unsetenv("PKEXEC_UID");
    unsetenv("SUDO_UID");
    QTemporaryDir root;
    if (!root.isValid())
        return 2;
    const QString work = root.filePath("work");
    QDir().mkpath(work + "/resources");
    QFile::copy(VELMORA_SHIPPED_SETTINGS, work + "/resources/PrivateData.plist");
    QDir().mkpath(root.filePath("config"));
    qputenv("VELMORA_WORK_PATH", work.toUtf8());
    qputenv("XDG_CONFIG_HOME", root.filePath("config").toUtf8());

    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    velmora::ui::SetDurationScale(0);
    velmora::ui::texts::LoadLanguage("en");
    return RUN_ALL_TESTS();
}
