// Opening and closing Brannic.dll as the command-line options say, and the commands over
// the driver service.
#include <stdlib.h>
#include <wchar.h>

#include "Brannic.h"
#include "cli.h"
#include "console.h"
#include "driver_service.h"
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
        ok = Brannic_InitExA(g_library.install, g_library.autoStart, g_library.driverDir);
    }
    if (!ok) {
        CallFailed(g_library.wait ? "Brannic_Init" : "Brannic_InitExA");
        if (g_library.wait)
            WriteText(kStandardError, "brannic: the driver's device did not open\n");
        else
            WriteText(kStandardError,
                      g_library.install
                          ? "brannic: the driver's device did not open, and registering or "
                            "starting its service did not help\n"
                          : "brannic: the driver's device did not open, and starting its service "
                            "did not help\n");
        // Brannic_Init starts nothing, so neither does its explanation.
        ExplainFailedOpen(!g_library.wait);
        return false;
    }
    g_open = true;
    return true;
}

// On the NT family the narrow command line, from which the words come, is the system's
// conversion of the wide one, with best-fit substitutions that it does not report: a
// fullwidth reverse solidus typed in a folder's name reaches the program as a backslash.
// A folder is taken only when the narrow line converts back to exactly the wide one.
bool FolderIsAsTyped(const char* folder)
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return true;
    // Bound at run time: the wide line is not there to be had on Windows 95.
    typedef LPWSTR(WINAPI * GetWideLineFn)(void);
    GetWideLineFn getWideLine = reinterpret_cast<GetWideLineFn>(reinterpret_cast<void (*)(void)>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetCommandLineW")));
    const wchar_t* wide = getWideLine ? getWideLine() : nullptr;
    const char* narrow = GetCommandLineA();
    bool same = false;
    if (wide && narrow) {
        int length = MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0);
        wchar_t* back = length > 0 ? (wchar_t*)malloc(length * sizeof(wchar_t)) : nullptr;
        same = back && MultiByteToWideChar(CP_ACP, 0, narrow, -1, back, length) == length &&
               wcscmp(back, wide) == 0;
        free(back);
    }
    if (!same)
        BadInput("the folder \"%s\" may not be the one typed: the command line holds characters "
                 "that this system's code page cannot carry",
                 folder);
    return same;
}

void SuggestStatus()
{
    WriteText(kStandardError, "brannic: brannic status tells what stands in the way\n");
}

void CloseLibrary()
{
    if (!g_open) return;
    if (g_library.removeService)
        Brannic_DeInitEx(TRUE);
    else if (g_library.wait)
        Brannic_DeInit();
    else
        Brannic_DeInitEx(FALSE);
    g_open = false;
}

static int OpenCommand(int, int argc, char** argv)
{
    if (!CheckCount(argc, argv, 0, 0)) return kExitBadInput;
    return OpenLibrary() ? kExitDone : kExitCallFailed;
}

static int AddServiceCommand(int, int argc, char** argv)
{
    bool autoStart = TakeFlag(&argc, argv, "--auto");
    if (!CheckCount(argc, argv, 0, 1)) return kExitBadInput;
    if (argc && !FolderIsAsTyped(argv[0])) return kExitBadInput;
    if (!Brannic_AddServiceA(autoStart, argc ? argv[0] : nullptr)) {
        CallFailed("Brannic_AddServiceA");
        SuggestStatus();
        return kExitCallFailed;
    }
    return kExitDone;
}

static int RemoveServiceCommand(int, int argc, char** argv)
{
    if (!CheckCount(argc, argv, 0, 0)) return kExitBadInput;
    if (!Brannic_RemoveService()) {
        CallFailed("Brannic_RemoveService");
        SuggestStatus();
        return kExitCallFailed;
    }
    return kExitDone;
}

const Command kServiceCommands[] = {
    {"open", "", "open and close the library", 0, OpenCommand},
    {"add-service", "[--auto] [DIR]", "register the driver service", 0, AddServiceCommand},
    {"remove-service", "", "delete the driver service", 0, RemoveServiceCommand},
    {"status", "", "why the library can or cannot reach its driver", 0, StatusCommand},
};
const int kServiceCommandCount = sizeof(kServiceCommands) / sizeof(kServiceCommands[0]);
