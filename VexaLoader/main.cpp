// VexaLoader: what the user starts. It obtains the administrator right,
// starts the application with the interface language and the result file
// the user opened, and ends when the application does. Its one window says
// that the application could not start or ended abnormally: the user has
// typed a password and would otherwise see nothing at all.
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "PrivateData.h"
#include "Report.h"
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

QtMessageHandler g_toolkitHandler = nullptr;

// The toolkit ends the process with an abort and advice to reinstall when
// it cannot reach the display; the display is what is wrong, and nothing
// has been asked or started yet.
void StartupMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        if (g_toolkitHandler)
            g_toolkitHandler(type, context, text);
        else
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return;
    }
    const auto get = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    };
    const std::string message = velmora::loader::UnreachableDisplayMessage(
        get("DISPLAY"), get("WAYLAND_DISPLAY"), text.toStdString());
    std::fprintf(stderr, "VexaLoader: %s", message.c_str());
    std::fflush(stderr);
    _exit(1);
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
    // The display is checked before the password is asked for: the
    // application could not show itself on one the launcher cannot reach.
    int qtArgc = 1;
    char qtName[] = "VexaLoader";
    char* qtArgv[] = {qtName, nullptr};
    g_toolkitHandler = qInstallMessageHandler(StartupMessages);
    QApplication qt(qtArgc, qtArgv);
    qInstallMessageHandler(g_toolkitHandler);

    const int status = RunTool(plan, tools);
    const std::optional<std::string> failure = LaunchFailureMessage(status);
    if (!failure)
        return 0;
    std::fprintf(stderr, "VexaLoader: %s\n", failure->c_str());
    // Scripts and tests answer the window instead of a person: the text is
    // appended to the file this names, and nothing is shown.
    if (const char* answers = std::getenv("VELMORA_LAUNCHER_ALERTS"); answers && *answers) {
        if (FILE* out = std::fopen(answers, "ae")) {
            std::fprintf(out, "%s\n", failure->c_str());
            std::fclose(out);
        }
        return 1;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Velmora"),
                    QString::fromStdString(*failure), QMessageBox::Ok);
    box.setObjectName(QStringLiteral("launchFailure"));
    box.exec();
    return 1;
}
