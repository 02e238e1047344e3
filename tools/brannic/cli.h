// brannic.exe, a console program over Brannic.dll's exports: what its command units share.
// Every command checks its words first (arguments.h), then opens the library (library.h), then
// calls it; main closes the library once if it was opened.
#pragma once
#include <windows.h>

enum {
    kExitDone = 0,
    kExitCallFailed = 1,  // a library call returned 0
    kExitBadInput = 2     // unknown command or option, missing word, bad or too wide value
};

// Most values a register list or a Dorvane data block may hold.
const int kMaxListValues = 256;
// The highest I/O port.
const DWORD kMaxPort = 0xFFFF;

// One command: its name, the arguments and the line --help shows, and its handler, which
// gets `width` (the bytes of the values it moves, where it has one; else 0) and the words
// after the name.
struct Command {
    const char* name;
    const char* arguments;
    const char* help;
    int width;
    int (*run)(int width, int argc, char** argv);
};

extern const Command kPortCommands[];
extern const int kPortCommandCount;
extern const Command kEcCommands[];
extern const int kEcCommandCount;
extern const Command kServiceCommands[];
extern const int kServiceCommandCount;
