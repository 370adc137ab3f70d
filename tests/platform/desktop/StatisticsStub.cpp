// Records every call the program makes into the statistics library.
#include <cstdint>
#include <cwchar>
#include <string>

namespace {

std::string g_log;

class Recorder {
public:
    virtual void Slot0() { g_log += "finish;"; }
    virtual void Slot1() { g_log += "slot1;"; }
    virtual void Slot2(int32_t a, int32_t b) {
        g_log += "event " + std::to_string(a) + "," + std::to_string(b) + ";";
    }
    virtual void Slot3() { g_log += "slot3;"; }
    virtual void Slot4() { g_log += "slot4;"; }
    virtual void Slot5() { g_log += "slot5;"; }
    virtual void Slot6(int32_t id, int32_t v) {
        g_log += "value " + std::to_string(id) + "=" + std::to_string(v) + ";";
    }
    virtual void Slot7() { g_log += "slot7;"; }
    virtual void Slot8(int32_t id, const char* s) {
        g_log += "string2 " + std::to_string(id) + "=" + s + ";";
    }
    virtual void Slot9(int32_t id, const wchar_t* s) {
        g_log += "wide " + std::to_string(id) + "=" + std::to_string(std::wcslen(s)) + ";";
    }
    virtual void Slot10(int32_t id, const char* s) {
        g_log += "string1 " + std::to_string(id) + "=" + s + ";";
    }
    virtual void Slot11() { g_log += "slot11;"; }
    virtual void Slot12(int32_t id) { g_log += "increase " + std::to_string(id) + ";"; }
};

Recorder g_recorder;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int InstallSpy(int32_t participate, const wchar_t* folder) {
    g_log += "install " + std::to_string(participate) + " " +
             (folder ? std::to_string(std::wcslen(folder)) : std::string("null")) + ";";
    return 0;
}

__attribute__((visibility("default"))) void* GetSmartSpy() {
    return &g_recorder;
}

__attribute__((visibility("default"))) const char* StubCallLog() {
    return g_log.c_str();
}
}
