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
        "The recovery windows are not built yet, so this program does not scan or\n"
        "recover anything by itself. Built so far, underneath: reading disks,\n"
        "partitions, volumes and disk images (plain, UDIF, edi) read-only through a\n"
        "read-ahead cache; MBR, GPT and Apple partition maps; the device catalogue;\n"
        "the scan controllers and the result-tree builder; recovering found files\n"
        "(NTFS-compressed ones too) with their times; the framed result archive;\n"
        "and the FAT16/FAT32 reader. The developers' scan driver (tools/scan_driver)\n"
        "runs a scan of an image from the command line.\n",
        "0.1.0");
    return 0;
}
