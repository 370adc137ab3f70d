// The one door from the windows to the engine: class-wide calls only, made
// on the main thread, returning at once. Each area of the bridge defines its
// calls in a source of its own (VKUIController<Area>.cpp) beside the
// operation objects it drives; this header lists them all.
#pragma once

class VKUIController {
public:
    VKUIController() = delete;

    // Filter (VKUIControllerFilter.cpp).
    // The file categories of the next scan: 1 document, 2 picture, 4 movie,
    // 8 music, 16 archive, 32 e-mail, 64 other; 127 all.
    static void SetRecoveryType(int mask);

    // Application (VKUIControllerApp.cpp).
    // 1 when another copy of the program runs.
    static int IsAppRunning();
};
