// The window tests run in one QApplication, on the offscreen platform when
// nothing else is set, with fades and delays scaled to nothing.
#include <gtest/gtest.h>

#include <QApplication>

#include "UIPlatform/Texts.h"
#include "UIPlatform/Timing.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    velmora::ui::SetDurationScale(0);
    velmora::ui::texts::LoadLanguage("en");
    return RUN_ALL_TESTS();
}
