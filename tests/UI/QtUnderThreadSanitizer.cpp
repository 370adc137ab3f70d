// Qt's own libraries are not built with ThreadSanitizer: their locks are
// futexes it cannot see, so what Qt allocates and frees on its own pooled
// threads (image conversion while painting) looks like a race. Calls from
// Qt into the sanitizer's interceptors are left alone; every access of our
// own code, and our own locks, are still checked. The windows that run on
// a real X server (Xvfb) add Qt's XCB platform, libxcb (its reader thread
// hands events to the main thread under its own lock) and GLib (the event
// loop's wake-up descriptor, written from any thread): system libraries
// built without the sanitizer, for the same reason.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELMORA_UNDER_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define VELMORA_UNDER_TSAN 1
#endif

#ifdef VELMORA_UNDER_TSAN
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "called_from_lib:libQt6XcbQpa.so.6\n"
           "called_from_lib:libxcb.so.1\n"
           "called_from_lib:libglib-2.0.so.0\n";
}
#endif
