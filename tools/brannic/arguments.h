// brannic.exe's words and messages: numbers with their widths, flags and options, what went
// wrong, and values as they print.
#pragma once
#include <windows.h>

// The largest value of a width in bytes (1, 2 or 4).
DWORD MaxOfWidth(int width);
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

// "brannic: <message>" on the error stream; returns kExitBadInput.
int BadInput(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Names the library call that returned 0; returns kExitCallFailed.
int CallFailed(const char* exportName);
// Points to brannic status after a failure whose cause the library does not tell.
void SuggestStatus();
// The value as hex of its width in bytes, on a line of its own.
void PrintValue(DWORD value, int width);
// "NAME 0x........" on a line of its own, for results that are more than one value.
void PrintNamed(const char* name, DWORD value, int width);
