// The engine's log and crash logger.
#pragma once

#include <string>

class CatchExeception {
public:
    // Appends one line "hh:mm:ss message" to standard output and to
    // "sMAC_Velmora.log" in the work folder; returns the number of message
    // characters kept (a message is cut at kMaxMessage characters).
    static int WriteLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // A trace line to standard output only, never to the log file: the lines
    // with which the searches and the tree builder announce their work (the
    // caller supplies the line end). Printed under the log's lock, so a trace
    // never splits a log line. Traces are on unless switched off for the
    // whole process (tools and tests that print their own output, fuzzing).
    static void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void SetTracesEnabled(bool on);
    static bool TracesEnabled();

    // The work folder, cached after the first call.
    static const char* GetWorkPath();

    // The process-wide crash logger; made on first call.
    static CatchExeception& Instance();

    // Installs the handler for SIGILL, SIGABRT, SIGBUS and SIGSEGV.
    static int Install();
    static void SignalHandle(int sig);

    // Longest message kept in one line, without the time prefix.
    static constexpr int kMaxMessage = 1999;
    static constexpr const char* kLogFileName = "sMAC_Velmora.log";

    CatchExeception(const CatchExeception&) = delete;
    CatchExeception& operator=(const CatchExeception&) = delete;

private:
    CatchExeception();
    ~CatchExeception();
};
