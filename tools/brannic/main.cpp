// brannic.exe: look at a port, a register or the EC through Brannic.dll without writing a
// program. Options before the command say how the library is opened and closed.
#include <string.h>

#include "Brannic.h"
#include "arguments.h"
#include "cli.h"
#include "console.h"
#include "library.h"

struct CommandTable {
    const Command* commands;
    const int* count;
};

static const CommandTable kTables[] = {
    {kPortCommands, &kPortCommandCount},
    {kEcCommands, &kEcCommandCount},
    {kServiceCommands, &kServiceCommandCount},
};

static const Command* FindCommand(const char* name)
{
    for (const CommandTable& table : kTables)
        for (int i = 0; i < *table.count; i++)
            if (strcmp(table.commands[i].name, name) == 0) return &table.commands[i];
    return nullptr;
}

static void PrintHelp()
{
    Print("brannic %s: port I/O through Brannic.dll\n\n"
          "usage: brannic [OPTIONS] COMMAND [ARGUMENTS]\n\n"
          "Numbers are decimal or 0x-hex and must fit their width (ports: 16 bits).\n"
          "Values print as hex of their width, one per line; EC replies as \"status\" and\n"
          "\"response\" lines.\n"
          "One register goes out as a single request, several as one list request.\n"
          "SETTING is port-type (one value), io-address, port-device or ec-address (four).\n"
          "A Dorvane send with no DATA sends the command alone, with one byte command and\n"
          "data, with more (or --block) a data block. add-service registers DIR\\Tamsk.sys\n"
          "(default: Brannic.dll's folder); a running driver is deleted once it stops.\n\n"
          "Commands:\n",
          BRANNIC_VERSION_STRING);
    for (const CommandTable& table : kTables) {
        for (int i = 0; i < *table.count; i++) {
            const Command& c = table.commands[i];
            int padding = 40 - (int)(strlen(c.name) + 1 + strlen(c.arguments));
            if (padding < 0)
                Print("  %s %s\n  %-40s  %s\n", c.name, c.arguments, "", c.help);
            else
                Print("  %s %s%*s  %s\n", c.name, c.arguments, padding, "", c.help);
        }
    }
    WriteText(kStandardOutput,
              "\nOptions, before the command (how the library is opened and closed):\n"
              "  --wait      open with Brannic_Init: wait up to 20 s for the driver's device\n"
              "  --install   register the driver service if the device is missing; start it\n"
              "  --auto      with --install: the service starts with Windows\n"
              "  --dir DIR   with --install: the folder of Tamsk.sys (default: Brannic.dll's)\n"
              "  --remove    close with Brannic_DeInitEx(1): delete the driver service\n"
              "  --help, --version\n"
              "Otherwise the library opens with Brannic_InitExA(0, 0, nullptr): one try, which\n"
              "starts a registered driver service if its device is missing.\n\n"
              "Exit status: 0 done, 1 a library call returned 0, 2 bad input.\n");
}

// Takes the options before the command; returns the index of the command, or -1 (said).
static int TakeGlobalOptions(int argc, char** argv, LibraryOptions* options)
{
    bool givenAuto = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++) {
        const char* option = argv[i];
        if (strcmp(option, "--wait") == 0) {
            options->wait = true;
        } else if (strcmp(option, "--install") == 0) {
            options->install = TRUE;
        } else if (strcmp(option, "--auto") == 0) {
            givenAuto = true;
        } else if (strcmp(option, "--remove") == 0) {
            options->removeService = true;
        } else if (strcmp(option, "--dir") == 0 && i + 1 < argc) {
            options->driverDir = argv[++i];
        } else if (strcmp(option, "--dir") == 0) {
            BadInput("--dir needs a folder after it");
            return -1;
        } else {
            BadInput("unknown option %s (brannic --help lists them)", option);
            return -1;
        }
    }
    if ((givenAuto || options->driverDir) && !options->install) {
        BadInput("--auto and --dir go with --install");
        return -1;
    }
    if (options->driverDir && !FolderIsAsTyped(options->driverDir)) return -1;
    if (options->wait && options->install) {
        BadInput("--wait and --install are two ways to open; give one");
        return -1;
    }
    options->autoStart = givenAuto;
    return i;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        BadInput("no command (brannic --help lists them)");
        return kExitBadInput;
    }
    if (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 ||
        strcmp(argv[1], "help") == 0) {
        PrintHelp();
        return kExitDone;
    }
    if (strcmp(argv[1], "--version") == 0) {
        Print("%s\n", BRANNIC_VERSION_STRING);
        return kExitDone;
    }
    LibraryOptions options = {};
    int at = TakeGlobalOptions(argc, argv, &options);
    if (at < 0) return kExitBadInput;
    UseLibraryOptions(options);
    if (at == argc) {
        BadInput("no command after the options (brannic --help lists them)");
        return kExitBadInput;
    }
    const Command* command = FindCommand(argv[at]);
    if (!command) {
        BadInput("unknown command \"%s\" (brannic --help lists them)", argv[at]);
        return kExitBadInput;
    }
    int status = command->run(command->width, argc - at - 1, argv + at + 1);
    CloseLibrary();
    if (status == kExitBadInput)
        PrintError("usage: brannic %s%s%s\n", command->name, *command->arguments ? " " : "",
                   command->arguments);
    return status;
}
