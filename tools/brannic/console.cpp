// The one writer of brannic.exe's output; console.h says what reaches a console, a file and a
// pipe, and why.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "console.h"
#include "run_time_binding.h"

// Bound at run time: none of these is in the list of imports every Windows the program
// serves is known to export, and WriteConsoleW is only a failing stub on Windows 95, 98 and
// ME. The formatting into a buffer comes from the C runtime that is loaded anyway.
#define CONSOLE_FUNCTIONS(X)                                                                       \
    X(GetStdHandle, BINDING_DECLARED(GetStdHandle))                                                \
    X(GetConsoleMode, BINDING_DECLARED(GetConsoleMode))                                            \
    X(GetConsoleOutputCP, BINDING_DECLARED(GetConsoleOutputCP))                                    \
    X(WriteConsoleW, BINDING_DECLARED(WriteConsoleW))                                              \
    X(WriteConsoleA, BINDING_DECLARED(WriteConsoleA))
#define RUNTIME_FUNCTIONS(X) X(_vsnprintf, BINDING_DECLARED(_vsnprintf))

struct ConsoleTable {
    CONSOLE_FUNCTIONS(BINDING_SLOT)
    RUNTIME_FUNCTIONS(BINDING_SLOT)
};
static ConsoleTable s_console;
static bool s_bound;

static void Bind()
{
    if (s_bound) return;
    s_bound = true;
    ConsoleTable& table = s_console;
    HMODULE module = GetModuleHandleA("kernel32.dll");
    if (module) {
        CONSOLE_FUNCTIONS(BINDING_RESOLVE)
    }
    module = GetModuleHandleA("msvcrt.dll");
    if (module) {
        RUNTIME_FUNCTIONS(BINDING_RESOLVE)
    }
}

// The stream's handle when it is a console, else null.
static HANDLE ConsoleOf(OutputStream stream)
{
    if (!s_console.GetStdHandle || !s_console.GetConsoleMode) return nullptr;
    HANDLE handle =
        s_console.GetStdHandle(stream == kStandardOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode;
    if (!handle || handle == INVALID_HANDLE_VALUE || !s_console.GetConsoleMode(handle, &mode))
        return nullptr;
    return handle;
}

// Text of the ANSI code page as UTF-16 (malloc'ed); null when it cannot be converted.
static wchar_t* Widened(const char* text, int length, int* wideLength)
{
    *wideLength = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    if (*wideLength <= 0) return nullptr;
    wchar_t* wide = (wchar_t*)malloc(*wideLength * sizeof(wchar_t));
    if (wide && MultiByteToWideChar(CP_ACP, 0, text, length, wide, *wideLength) == *wideLength)
        return wide;
    free(wide);
    return nullptr;
}

// UTF-16 in codePage (malloc'ed); null when it cannot be converted. A character the code page
// lacks becomes its default character ('?'), not a look-alike: a path copied from the output
// must not name another file. Systems before Windows 2000 and UTF-8 refuse the flag that says
// so; they get the plain conversion.
static char* Narrowed(const wchar_t* wide, int wideLength, UINT codePage, int* length)
{
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    *length = WideCharToMultiByte(codePage, flags, wide, wideLength, nullptr, 0, nullptr, nullptr);
    if (*length <= 0) {
        flags = 0;
        *length = WideCharToMultiByte(codePage, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
    }
    if (*length <= 0) return nullptr;
    char* narrow = (char*)malloc(*length);
    if (narrow && WideCharToMultiByte(codePage, flags, wide, wideLength, narrow, *length, nullptr,
                                      nullptr) == *length)
        return narrow;
    free(narrow);
    return nullptr;
}

static bool WriteWide(HANDLE console, const wchar_t* wide, int length)
{
    while (length > 0) {
        DWORD written = 0;
        if (!s_console.WriteConsoleW(console, wide, (DWORD)length, &written, nullptr) ||
            written == 0)
            return false;
        wide += written;
        length -= (int)written;
    }
    return true;
}

static void WriteBytes(OutputStream stream, HANDLE console, const char* bytes, int length)
{
    if (console && s_console.WriteConsoleA) {
        DWORD written = 0;
        while (length > 0 &&
               s_console.WriteConsoleA(console, bytes, (DWORD)length, &written, nullptr) &&
               written > 0) {
            bytes += written;
            length -= (int)written;
        }
        return;
    }
    // Through the C runtime, which ends lines in CR LF; flushed at once so that the two
    // streams keep their order when they go to one file.
    FILE* file = stream == kStandardOutput ? stdout : stderr;
    fwrite(bytes, 1, (size_t)length, file);
    fflush(file);
}

void WriteText(OutputStream stream, const char* text)
{
    Bind();
    int length = (int)strlen(text);
    if (length == 0) return;
    HANDLE console = ConsoleOf(stream);
    int wideLength = 0;
    wchar_t* wide = Widened(text, length, &wideLength);
    if (!wide) {
        WriteBytes(stream, console, text, length);
        return;
    }
    if (console && s_console.WriteConsoleW && WriteWide(console, wide, wideLength)) {
        free(wide);
        return;
    }
    // The console's output code page; with no console at all the OEM code page, which a new
    // console starts with.
    UINT codePage = s_console.GetConsoleOutputCP ? s_console.GetConsoleOutputCP() : 0;
    if (codePage == 0) codePage = CP_OEMCP;
    int narrowLength = 0;
    char* narrow = Narrowed(wide, wideLength, codePage, &narrowLength);
    free(wide);
    if (narrow)
        WriteBytes(stream, console, narrow, narrowLength);
    else
        WriteBytes(stream, console, text, length);
    free(narrow);
}

void PrintList(OutputStream stream, const char* format, va_list args)
{
    static char s_text[4096];
    Bind();
    if (!s_console._vsnprintf) {
        WriteText(stream, format);
        return;
    }
    // A cut text is left without its terminating zero; it keeps its line's end.
    if (s_console._vsnprintf(s_text, sizeof(s_text) - 1, format, args) < 0)
        s_text[sizeof(s_text) - 2] = '\n';
    s_text[sizeof(s_text) - 1] = '\0';
    WriteText(stream, s_text);
}

void Print(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    PrintList(kStandardOutput, format, args);
    va_end(args);
}

void PrintError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    PrintList(kStandardError, format, args);
    va_end(args);
}

void FormatText(char* buffer, size_t size, const char* format, ...)
{
    Bind();
    if (size == 0) return;
    buffer[0] = '\0';
    if (!s_console._vsnprintf) return;
    va_list args;
    va_start(args, format);
    s_console._vsnprintf(buffer, size - 1, format, args);
    va_end(args);
    buffer[size - 1] = '\0';
}
