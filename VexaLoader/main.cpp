// VexaLoader: what the user starts. It obtains the administrator right,
// starts the application with the interface language and the result file
// the user opened, and ends when the application does. It shows no window.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "PrivateData.h"
#include "RunScript.h"

namespace {

// pkexec starts the program in root's home, so a relative path would name
// the wrong file there.
std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/')
        return path;
    if (char* real = realpath(path.c_str(), nullptr)) {
        std::string out(real);
        std::free(real);
        return out;
    }
    std::vector<char> cwd(4096);
    if (!getcwd(cwd.data(), cwd.size()))
        return path;
    return std::string(cwd.data()) + "/" + path;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velmora::loader;
    std::vector<std::string> args(argv + 1, argv + argc);
    // --dry-run prints the pkexec call, one argument a line, and starts and
    // writes nothing (tests and packagers use it).
    bool dryRun = false;
    if (!args.empty() && args[0] == "--dry-run") {
        dryRun = true;
        args.erase(args.begin());
    }
    const std::string rsfPath = args.empty() ? std::string() : Absolute(args[0]);

    const std::string app = FindApplication(OwnExecutableFolder());
    if (app.empty()) {
        std::fprintf(stderr, "VexaLoader: Tamsweld is not installed beside %s\n",
                     OwnExecutableFolder().c_str());
        return 1;
    }
    const Environment env = CurrentEnvironment();
    PrivateData settings = PrivateData::ForApp(app);
    settings.SetReadOnly(dryRun);
    const std::string language = GetCurrentLanaguage(SystemLanguage(env), settings);

    const LaunchTools tools;
    const LaunchPlan plan = PlanLaunch(app, language, rsfPath, env, tools);
    if (dryRun) {
        if (plan.argv.empty()) {
            std::fprintf(stderr, "VexaLoader: %s\n", plan.error.c_str());
            return 1;
        }
        for (const auto& arg : plan.argv)
            std::printf("%s\n", arg.c_str());
        return 0;
    }
    // Whether or not the application ran, there is nothing more to do: a
    // refused right has already been shown to the user by the agent.
    RunTool(plan, tools);
    return 0;
}
