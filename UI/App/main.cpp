// Program entry of the application.
#include <cstdio>

#include "EngineFactories.h"
#include "ProgramEntry.h"
#include "Utility/CatchExeception.h"

namespace {

// Where the application's windows start. Until the main window exists, the
// program takes the language and the result file, says so and ends.
int RunApplication(const velmora::app::EntryPlan& plan) {
    CatchExeception::Install();
    InstallEngineFactories();
    if (plan.language)
        std::fprintf(stderr, "set lanague to = %s\n", plan.language->c_str());
    std::fprintf(stderr,
                 "Velmora (Tamsweld) 0.1.0: the windows are not built yet; result file \"%s\"\n",
                 plan.rsfPath.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return velmora::app::RunEntry(argc, argv, velmora::app::WQManRunLoader, RunApplication);
}
