// Opening and closing Brannic.dll as the command-line options say, and the commands over
// the driver service.
#include <stdlib.h>
#include <wchar.h>

#include "Brannic.h"
#include "arguments.h"
#include "cli.h"
#include "console.h"
#include "driver_service.h"
#include "library.h"
#include "run_time_binding.h"
#include "status.h"

static LibraryOptions s_options;
static bool s_open;

// The wide command line, bound at run time: it is not there to be had on Windows 95.
#define COMMAND_LINE_FUNCTIONS(X) X(GetCommandLineW, BINDING_DECLARED(GetCommandLineW))
struct CommandLineTable {
    COMMAND_LINE_FUNCTIONS(BINDING_SLOT)
};

void UseLibraryOptions(const LibraryOptions& options) { s_options = options; }

bool OpenLibrary()
{
    if (s_open) return true;
    BOOL ok;
    if (s_options.wait) {
        ok = Brannic_Init();
    } else {
        ok = Brannic_InitExA(s_options.install, s_options.autoStart, s_options.driverDir);
    }
    if (!ok) {
        CallFailed(s_options.wait ? "Brannic_Init" : "Brannic_InitExA");
        if (s_options.wait)
            WriteText(kStandardError, "brannic: the driver's device did not open\n");
        else
            WriteText(kStandardError,
                      s_options.install
                          ? "brannic: the driver's device did not open, and registering or "
                            "starting its service did not help\n"
                          : "brannic: the driver's device did not open, and starting its service "
                            "did not help\n");
        // Brannic_Init starts nothing, so neither does its explanation.
        ExplainFailedOpen(!s_options.wait);
        return false;
    }
    s_open = true;
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
    CommandLineTable table = {};
    BINDING_BIND(COMMAND_LINE_FUNCTIONS, table, GetModuleHandleA("kernel32.dll"));
    const wchar_t* wide = table.GetCommandLineW ? table.GetCommandLineW() : nullptr;
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

void CloseLibrary()
{
    if (!s_open) return;
    if (s_options.removeService)
        Brannic_DeInitEx(TRUE);
    else if (s_options.wait)
        Brannic_DeInit();
    else
        Brannic_DeInitEx(FALSE);
    s_open = false;
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
