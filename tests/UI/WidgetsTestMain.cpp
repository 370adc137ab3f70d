// The widget tests run inside the program's own application object, without
// a display unless one is asked for.
#include <gtest/gtest.h>

#include <QCursor>

#include "Widgets/MyNSApplication.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    MyNSApplication app(argc, argv);
    // Windows appear at the screen's corner: keep the pointer off them, so
    // that only the tests' own pointer events reach the widgets.
    QCursor::setPos(5000, 5000);
    return RUN_ALL_TESTS();
}
