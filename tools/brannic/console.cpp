// The one writer of brannic.exe's output; console.h says what reaches a console, a file and a
// pipe, and why.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include "console.h"

// The stream's handle when it is a console, else null.
static HANDLE ConsoleOf(OutputStream stream)
{
    HANDLE handle = GetStdHandle(stream == kStandardOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode;
    if (!handle || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return nullptr;
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
        if (!WriteConsoleW(console, wide, (DWORD)length, &written, nullptr) || written == 0)
            return false;
        wide += written;
        length -= (int)written;
    }
    return true;
}

static void WriteBytes(OutputStream stream, HANDLE console, const char* bytes, int length)
{
    if (console) {
        DWORD written = 0;
        while (length > 0 && WriteConsoleA(console, bytes, (DWORD)length, &written, nullptr) &&
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
    int length = (int)strlen(text);
    if (length == 0) return;
    HANDLE console = ConsoleOf(stream);
    int wideLength = 0;
    wchar_t* wide = Widened(text, length, &wideLength);
    if (!wide) {
        WriteBytes(stream, console, text, length);
        return;
    }
    // WriteConsoleW fails on Windows 95, 98 and ME, which have only its name.
    if (console && WriteWide(console, wide, wideLength)) {
        free(wide);
        return;
    }
    // The console's output code page; with no console at all the OEM code page, which a new
    // console starts with.
    UINT codePage = GetConsoleOutputCP();
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
    // A cut text is left without its terminating zero; it keeps its line's end.
    if (_vsnprintf(s_text, sizeof(s_text) - 1, format, args) < 0) s_text[sizeof(s_text) - 2] = '\n';
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
    if (size == 0) return;
    va_list args;
    va_start(args, format);
    _vsnprintf(buffer, size - 1, format, args);
    va_end(args);
    buffer[size - 1] = '\0';
}
