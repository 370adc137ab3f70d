// The window tests run in the program's own application object on the
// offscreen platform, with fades and delays scaled to nothing, English
// loaded and the user's settings in a folder of their own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCursor>
#include <QDir>

#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"
#include "Widgets/MyNSApplication.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    char configTemplate[] = "/tmp/velmora-windows-XXXXXX";
    const char* config = mkdtemp(configTemplate);
    if (config == nullptr)
        return 1;
    qputenv("XDG_CONFIG_HOME", config);
    MyNSApplication app(argc, argv);
    QCursor::setPos(5000, 5000);
    velmora::ui::SetDurationScale(0);
    velmora::ui::texts::LoadLanguage("en");
    const int result = RUN_ALL_TESTS();
    QDir(QString::fromLocal8Bit(config)).removeRecursively();
    return result;
}
