// The browser tests run in the program's own application object, offscreen
// unless a display is asked for, with slides and fades scaled to nothing.
#include <gtest/gtest.h>

#include "UIPlatform/Timing.h"
#include "Widgets/MyNSApplication.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    MyNSApplication app(argc, argv);
    velmora::ui::SetDurationScale(0);
    return RUN_ALL_TESTS();
}
