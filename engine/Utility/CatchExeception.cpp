#include "Utility/CatchExeception.h"

#include <errno.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Utility/FileUtility.h"
#include "Utility/Locks.h"
#include "Utility/SystemTime.h"
#include "platform/FdIo.h"

namespace {

SimpleCs& LogLock() {
    // Never destroyed: threads may still log while static objects die at exit.
    static SimpleCs* cs = new SimpleCs;
    return *cs;
}

char g_workPath[1024];
std::atomic<bool> g_traces{true};

// Raises a soft limit to whatever the hard limit allows.
void RaiseLimit(int resource) {
    struct rlimit rl {};
    if (getrlimit(resource, &rl) != 0)
        return;
    if (rl.rlim_cur == rl.rlim_max)
        return;
    rl.rlim_cur = rl.rlim_max;
    setrlimit(resource, &rl);
}

}  // namespace

int CatchExeception::WriteLog(const char* format, ...) {
    char line[2048];
    std::memset(line, 0, sizeof line);
    _SYSTEMTIME st{};
    GetLocalTime(&st);
    int prefix = std::snprintf(line, 48, "%02d:%02d:%02d ", st.wHour, st.wMinute, st.wSecond);
    if (prefix < 0)
        prefix = 0;
    if (prefix > 47)
        prefix = 47;

    int message = 0;
    if (format) {
        va_list args, again;
        va_start(args, format);
        va_copy(again, args);
        message = std::vsnprintf(line + prefix, kMaxMessage + 1, format, args);
        va_end(args);
        if (message > kMaxMessage) {
            // A cut message keeps its line end, or the next line would be
            // glued to it.
            std::vector<char> whole(static_cast<size_t>(message) + 1);
            std::vsnprintf(whole.data(), whole.size(), format, again);
            message = kMaxMessage;
            if (whole[whole.size() - 2] == '\n')
                line[prefix + message - 1] = '\n';
        }
        va_end(again);
        if (message < 0)
            message = 0;
    }
    const size_t length = static_cast<size_t>(prefix + message);

    SimpleLock hold(&LogLock(), "WriteLog");
    std::fwrite(line, 1, length, stdout);
    std::fflush(stdout);

    std::string path = std::string(GetWorkPath()) + "/" + kLogFileName;
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        if (velmora::platform::WriteRetrying(fd, line, length).failed)
            std::printf("%s failed with %s\n", "WriteLog", std::strerror(errno ? errno : EIO));
        close(fd);
    }
    return message;
}

void CatchExeception::Trace(const char* format, ...) {
    if (!g_traces.load(std::memory_order_relaxed) || format == nullptr)
        return;
    SimpleLock hold(&LogLock(), "Trace");
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

void CatchExeception::SetTracesEnabled(bool on) {
    g_traces.store(on, std::memory_order_relaxed);
}

bool CatchExeception::TracesEnabled() {
    return g_traces.load(std::memory_order_relaxed);
}

const char* CatchExeception::GetWorkPath() {
    if (g_workPath[0] == '\0') {
        std::string path = GetAppWorkPath();
        std::snprintf(g_workPath, sizeof g_workPath, "%s", path.c_str());
    }
    return g_workPath;
}

CatchExeception& CatchExeception::Instance() {
    static CatchExeception instance;
    return instance;
}

CatchExeception::CatchExeception() {
    RaiseLimit(RLIMIT_CORE);
    RaiseLimit(RLIMIT_NOFILE);
    const char* name = program_invocation_short_name;
    if (name == nullptr || *name == '\0')
        name = "Fenmarsh";
    WriteLog("process[%s:%d] started\n", name, static_cast<int>(getpid()));
}

CatchExeception::~CatchExeception() {
    WriteLog("process[%d] existed\n", static_cast<int>(getpid()));
}

namespace {
constexpr int kCrashSignals[] = {SIGILL, SIGABRT, SIGBUS, SIGSEGV};
}

int CatchExeception::Install() {
    struct sigaction sa {};
    sa.sa_handler = &CatchExeception::SignalHandle;
    sigemptyset(&sa.sa_mask);
    for (int sig : kCrashSignals)
        sigaction(sig, &sa, nullptr);
    return 0;
}

void CatchExeception::SignalHandle(int sig) {
    // Back to default first, so returning re-raises and the process dies
    // with its real signal instead of looping in here.
    for (int sig : kCrashSignals)
        signal(sig, SIG_DFL);
    void* frames[128];
    int n = backtrace(frames, 128);
    backtrace_symbols_fd(frames, n, STDOUT_FILENO);
    // A fault re-raises itself on return; a signal that was sent does not.
    raise(sig);
}
