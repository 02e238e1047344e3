// brannic.exe, a console program over Brannic.dll's exports: what its units share. Every
// command checks its words first, then opens the library (OpenLibrary), then calls it; main
// closes the library once if it was opened.
#ifndef BRANNIC_CLI_H
#define BRANNIC_CLI_H

#include <windows.h>

enum {
    kExitDone = 0,
    kExitCallFailed = 1,  // a library call returned 0
    kExitBadInput = 2     // unknown command or option, missing word, bad or too wide value
};

// Most values a register list or a Dorvane data block may hold.
#define MAX_LIST 256

// One command: its name, the arguments and the line --help shows, and its handler, which
// gets `param` (a width or a sub-kind) and the words after the name.
struct Command {
    const char* name;
    const char* arguments;
    const char* help;
    int param;
    int (*run)(int param, int argc, char** argv);
};

extern const Command kPortCommands[];
extern const int kPortCommandCount;
extern const Command kEcCommands[];
extern const int kEcCommandCount;
extern const Command kServiceCommands[];
extern const int kServiceCommandCount;

// ---- Words (arguments.cpp) ----

// The largest value of a width in bytes (1, 2 or 4).
DWORD MaxOfWidth(int width);
// Parses a decimal or 0x-hex number of up to 32 bits from text[0..length).
bool ParseNumber(const char* text, size_t length, DWORD* value);
// Parses `text` as the value `what` of at most `max`; says what is wrong when it is not.
bool TakeNumber(const char* text, const char* what, DWORD max, DWORD* value);
// Parses "A=B" into two values; says what is wrong when it cannot.
bool TakePair(const char* text, const char* what, DWORD max, DWORD* first, DWORD* second);
// Removes `flag` from the words; true when it was there.
bool TakeFlag(int* argc, char** argv, const char* flag);
// Removes `option` and the `count` words after it, stored in values; 0 when absent, 1 when
// taken, -1 (said) when words are missing.
int TakeOption(int* argc, char** argv, const char* option, int count, char** values);
// True when the word count lies in [min, max] and no unknown option is left; else says why.
bool CheckCount(int argc, char** argv, int min, int max);

// ---- Messages and output ----

// "brannic: <message>" on the error stream; returns kExitBadInput.
int BadInput(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Names the library call that returned 0; returns kExitCallFailed.
int CallFailed(const char* exportName);
// The value as hex of its width in bytes, on a line of its own.
void PrintValue(DWORD value, int width);
// "NAME 0x........" on a line of its own, for results that are more than one value.
void PrintNamed(const char* name, DWORD value, int width);

// ---- The library (library.cpp) ----

// Opens Brannic.dll as the command-line options say; says why when it fails.
bool OpenLibrary();
// False, and said, when the command line does not carry the folder exactly as it was typed.
bool FolderIsAsTyped(const char* folder);
// Points to brannic status after a failure whose cause the library does not tell.
void SuggestStatus();

// ---- brannic status (status.cpp) ----

// Why the library can or cannot reach its driver; 0 when the device opens.
int StatusCommand(int param, int argc, char** argv);

#endif  // BRANNIC_CLI_H
