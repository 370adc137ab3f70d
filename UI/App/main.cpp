// Program entry. The windows are not built yet: until they are, the program
// says what the engine underneath can already do and exits.
#include <cstdio>

#include "EngineFactories.h"
#include "Utility/CatchExeception.h"

int main() {
    CatchExeception::Install();
    InstallEngineFactories();
    std::printf(
        "Velmora (Tamsweld) %s\n"
        "\n"
        "The recovery windows are not built yet. What works so far is the engine\n"
        "foundation: result codes, the log (sMAC_Velmora.log beside this program),\n"
        "time and lock utilities, the event relay and the factory table through\n"
        "which scans will reach the file-system searchers. No disk is scanned.\n",
        "0.1.0");
    return 0;
}
