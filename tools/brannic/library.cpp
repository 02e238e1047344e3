// Opening and closing Brannic.dll as the command-line options say, and the commands over
// the driver service.
#include <stdio.h>

#include "Brannic.h"
#include "cli.h"
#include "library.h"

LibraryOptions g_library;
static bool g_open;

bool OpenLibrary()
{
    if (g_open) return true;
    BOOL ok;
    if (g_library.wait) {
        ok = Brannic_Init();
    } else {
        ok = Brannic_InitExA(g_library.install, g_library.auto_start, g_library.driver_dir);
    }
    if (!ok) {
        CallFailed(g_library.wait ? "Brannic_Init" : "Brannic_InitExA");
        fputs(g_library.install
                  ? "brannic: the driver's device did not open, and registering or starting its "
                    "service did not help\n"
                  : "brannic: the driver's device did not open, and starting its service did "
                    "not help (--install registers it)\n",
              stderr);
        SuggestStatus();
        return false;
    }
    g_open = true;
    return true;
}

void SuggestStatus()
{
    fputs("brannic: brannic status tells what stands in the way\n", stderr);
}

void CloseLibrary()
{
    if (!g_open) return;
    if (g_library.remove_service) Brannic_DeInitEx(TRUE);
    else if (g_library.wait) Brannic_DeInit();
    else Brannic_DeInitEx(FALSE);
    g_open = false;
}

static int OpenCommand(int, int argc, char** argv)
{
    if (!CheckCount(argc, argv, 0, 0)) return EXIT_BAD_INPUT;
    return OpenLibrary() ? EXIT_DONE : EXIT_CALL_FAILED;
}

static int AddServiceCommand(int, int argc, char** argv)
{
    bool auto_start = TakeFlag(&argc, argv, "--auto");
    if (!CheckCount(argc, argv, 0, 1)) return EXIT_BAD_INPUT;
    if (!Brannic_AddServiceA(auto_start, argc ? argv[0] : nullptr)) {
        CallFailed("Brannic_AddServiceA");
        SuggestStatus();
        return EXIT_CALL_FAILED;
    }
    return EXIT_DONE;
}

static int RemoveServiceCommand(int, int argc, char** argv)
{
    if (!CheckCount(argc, argv, 0, 0)) return EXIT_BAD_INPUT;
    if (!Brannic_RemoveService()) {
        CallFailed("Brannic_RemoveService");
        SuggestStatus();
        return EXIT_CALL_FAILED;
    }
    return EXIT_DONE;
}

const Command kServiceCommands[] = {
    {"open", "", "open and close the library", 0, OpenCommand},
    {"add-service", "[--auto] [DIR]", "register the driver service", 0, AddServiceCommand},
    {"remove-service", "", "delete the driver service", 0, RemoveServiceCommand},
    {"status", "", "why the library can or cannot reach its driver", 0, StatusCommand},
};
const int kServiceCommandCount = sizeof(kServiceCommands) / sizeof(kServiceCommands[0]);
