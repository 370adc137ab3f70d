#include "ProgramEntry.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "Process.h"
#include "Report.h"

#ifndef VELMORA_LAUNCHER_FROM_APP
#define VELMORA_LAUNCHER_FROM_APP "../../bin/VexaLoader"
#endif

namespace velmora::app {

namespace {

bool IsAscii(std::string_view text) {
    for (unsigned char c : text) {
        if (c >= 0x80)
            return false;
    }
    return true;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool NamesResultFile(std::string_view text) {
    constexpr std::string_view extension = ".velmora";
    for (std::size_t at = 0; at + extension.size() <= text.size(); ++at) {
        std::size_t i = 0;
        while (i < extension.size() && AsciiLower(text[at + i]) == extension[i])
            ++i;
        if (i == extension.size())
            return true;
    }
    return false;
}

}  // namespace

EntryPlan ParseEntryArgs(const std::vector<std::string>& args) {
    EntryPlan plan;
    // The first argument is read as ASCII; one that is not counts as empty.
    const std::string_view first =
        args.empty() || !IsAscii(args[0]) ? std::string_view() : std::string_view(args[0]);
    const std::string_view flag(kLoaderFlag);
    if (first.ends_with(flag))
        plan.language = std::string(first.substr(0, first.size() - flag.size()));
    else if (!first.empty())
        plan.language = std::string(first);
    else
        plan.startLauncher = true;
    // Anything naming a result file is taken, also through a folder's name.
    // The desktop opens ".velmora" in any case with us (the MIME glob does
    // not tell case), so a lower-case name must not start an empty window.
    if (args.size() > 1 && NamesResultFile(args[1]))
        plan.rsfPath = args[1];
    return plan;
}

bool WQManRunLoader() {
    const std::string folder = loader::OwnExecutableFolder();
    for (const std::string relative : {"VexaLoader", VELMORA_LAUNCHER_FROM_APP}) {
        const std::string path = folder + "/" + relative;
        if (access(path.c_str(), X_OK) == 0)
            return loader::StartDetached({path});
    }
    std::fprintf(stderr, "the launcher VexaLoader is not installed beside %s\n", folder.c_str());
    return false;
}

std::optional<std::string> MissingDisplayMessage(const EnvLookup& env) {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = env(name);
        if (value && *value)
            return std::nullopt;
    }
    // Without this the toolkit ends the process with an abort and a note
    // about reinstalling its plugins, which sends the user the wrong way.
    return std::string(
        "Velmora needs a graphical display, and this session has none (DISPLAY is not set).\n"
        "Start Velmora from the desktop's menu, or run it on an X server, for example\n"
        "under Xvfb with xvfb-run.\n");
}

std::string UnreachableDisplayMessage(const EnvLookup& env, const std::string& toolkitMessage) {
    const auto get = [&env](const char* name) {
        const char* value = env(name);
        return std::string(value ? value : "");
    };
    return loader::UnreachableDisplayMessage(get("DISPLAY"), get("WAYLAND_DISPLAY"),
                                             toolkitMessage);
}

int RunEntry(int argc, char** argv, const std::function<bool()>& runLoader,
             const std::function<int(const EntryPlan&)>& runApplication, const EnvLookup& env,
             const std::function<void()>& preventSleep) {
    std::fprintf(stderr, "vexa path para[0] = %s, para[1] = %s\n", argc > 0 ? argv[0] : "(null)",
                 argc > 1 ? argv[1] : "(null)");
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    EntryPlan plan = ParseEntryArgs(args);
    if (plan.startLauncher && runLoader())
        return 0;
    // The launcher could not be started: run as if started normally.
    const EnvLookup lookup =
        env ? env : EnvLookup([](const char* name) { return std::getenv(name); });
    if (const std::optional<std::string> message = MissingDisplayMessage(lookup)) {
        std::fputs(message->c_str(), stderr);
        return 1;
    }
    if (preventSleep)
        preventSleep();
    return runApplication(plan);
}

}  // namespace velmora::app
