// The widget tests run inside the program's own application object, without
// a display unless one is asked for.
#include <gtest/gtest.h>

#include "Widgets/MyNSApplication.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    MyNSApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
