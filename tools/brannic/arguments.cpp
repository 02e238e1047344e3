// Words of the command line: numbers with their widths, flags and options, and messages.
#include <stdarg.h>
#include <string.h>

#include "arguments.h"
#include "cli.h"
#include "console.h"

DWORD MaxOfWidth(int width) { return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

// Parses a decimal or 0x-hex number of up to 32 bits from text[0..length).
static bool ParseNumber(const char* text, size_t length, DWORD* value)
{
    unsigned base = 10;
    size_t i = 0;
    if (length > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    if (i == length) return false;
    unsigned long long total = 0;
    for (; i < length; i++) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        total = total * base + digit;
        if (total > 0xFFFFFFFFull) return false;
    }
    *value = (DWORD)total;
    return true;
}

static bool CheckWidth(const char* text, const char* what, DWORD value, DWORD max)
{
    if (value <= max) return true;
    int bits = max == 0xFF ? 8 : max == 0xFFFF ? 16 : 32;
    BadInput("%s %s does not fit in %d bits", what, text, bits);
    return false;
}

bool TakeNumber(const char* text, const char* what, DWORD max, DWORD* value)
{
    if (!ParseNumber(text, strlen(text), value)) {
        BadInput("%s \"%s\" is not a number (decimal or 0x-hex, up to 32 bits)", what, text);
        return false;
    }
    return CheckWidth(text, what, *value, max);
}

bool TakePair(const char* text, const char* what, DWORD max, DWORD* first, DWORD* second)
{
    const char* equals = strchr(text, '=');
    if (!equals || !ParseNumber(text, equals - text, first) ||
        !ParseNumber(equals + 1, strlen(equals + 1), second)) {
        BadInput("%s \"%s\" is not INDEX=VALUE with two numbers", what, text);
        return false;
    }
    return CheckWidth(text, what, *first, max) && CheckWidth(text, what, *second, max);
}

static void RemoveWords(int* argc, char** argv, int at, int count)
{
    for (int i = at; i + count < *argc; i++) argv[i] = argv[i + count];
    *argc -= count;
}

bool TakeFlag(int* argc, char** argv, const char* flag)
{
    for (int i = 0; i < *argc; i++) {
        if (strcmp(argv[i], flag) == 0) {
            RemoveWords(argc, argv, i, 1);
            return true;
        }
    }
    return false;
}

int TakeOption(int* argc, char** argv, const char* option, int count, char** values)
{
    for (int i = 0; i < *argc; i++) {
        if (strcmp(argv[i], option) != 0) continue;
        if (i + count >= *argc) {
            BadInput("%s needs %d value%s after it", option, count, count == 1 ? "" : "s");
            return -1;
        }
        for (int k = 0; k < count; k++) values[k] = argv[i + 1 + k];
        RemoveWords(argc, argv, i, count + 1);
        return 1;
    }
    return 0;
}

bool CheckCount(int argc, char** argv, int min, int max)
{
    for (int i = 0; i < argc; i++) {
        if (argv[i][0] == '-' && argv[i][1] == '-') {
            BadInput("unknown option %s", argv[i]);
            return false;
        }
    }
    if (argc < min) {
        BadInput("missing argument (%d given, %d needed)", argc, min);
        return false;
    }
    if (argc > max) {
        BadInput("too many arguments (%d given, at most %d)", argc, max);
        return false;
    }
    return true;
}

int BadInput(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    WriteText(kStandardError, "brannic: ");
    PrintList(kStandardError, format, args);
    WriteText(kStandardError, "\n");
    va_end(args);
    return kExitBadInput;
}

int CallFailed(const char* exportName)
{
    PrintError("brannic: %s returned 0 (failed or refused; the library does not say why)\n",
               exportName);
    return kExitCallFailed;
}

void SuggestStatus()
{
    WriteText(kStandardError, "brannic: brannic status tells what stands in the way\n");
}

void PrintValue(DWORD value, int width) { Print("0x%0*lX\n", 2 * width, (unsigned long)value); }

void PrintNamed(const char* name, DWORD value, int width)
{
    Print("%s 0x%0*lX\n", name, 2 * width, (unsigned long)value);
}
