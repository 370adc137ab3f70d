// Program entry of the application.
#include <cstdio>

#include "EngineFactories.h"
#include "ProgramEntry.h"
#include "UIPlatform/Texts.h"
#include "UIPlatform/UserDefaults.h"
#include "Utility/CatchExeception.h"
#include "VKAppDelegate.h"
#include "Widgets/MyNSApplication.h"
#include "platform/desktop/CommandRunner.h"
#include "platform/desktop/Workspace.h"

namespace {

// Where the application's windows start.
int RunApplication(const velmora::app::EntryPlan& plan) {
    CatchExeception::Install();
    InstallEngineFactories();
    int argc = 1;
    char name[] = "Tamsweld";
    char* argv[] = {name, nullptr};
    MyNSApplication app(argc, argv);

    auto& defaults = velmora::ui::UserDefaults::standard();
    if (plan.language) {
        std::fprintf(stderr, "set lanague to = %s\n", plan.language->c_str());
        defaults.setValue("AppleLanguages", QStringList{QString::fromStdString(*plan.language)});
    }
    defaults.setValue("rsfPath", QString::fromStdString(plan.rsfPath));
    const QStringList languages = defaults.stringList("AppleLanguages");
    velmora::ui::texts::LoadLanguage(languages.isEmpty() ? QStringLiteral("en")
                                                         : languages.front());

    velmora::platform::SystemCommandRunner runner;
    velmora::platform::DesktopWorkspace workspace(runner);
    VKAppDelegateWiring wiring;
    wiring.workspace = &workspace;
    wiring.closeApp = &VKAppDelegate::CloseApp;
    // The main window joins here through wiring.makeRootWindow.
    VKAppDelegate delegate(std::move(wiring));
    delegate.applicationDidFinishLaunching();
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    return velmora::app::RunEntry(argc, argv, velmora::app::WQManRunLoader, RunApplication);
}
