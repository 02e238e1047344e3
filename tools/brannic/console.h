// What brannic.exe writes, on standard output or standard error, goes through here. The text
// is in the ANSI code page, as the system's narrow functions give it (paths from the registry,
// the platform's messages); a console shows another code page (OEM), so it is converted:
// - on a console: written wide (WriteConsoleW), so every character shows as it is; where the
//   console has no wide output (Windows 95, 98, ME) converted to its output code page;
// - redirected to a file or a pipe: converted to the console's output code page, which is
//   what Windows' own console tools write and what cmd's `for /f` and PowerShell read; a
//   process without a console writes the OEM code page, the one a new console starts with,
//   so a script reads the same bytes however the program was started. Lines end in CR LF.
#pragma once

#include <stdarg.h>
#include <stddef.h>

enum OutputStream {
    kStandardOutput,
    kStandardError
};

// Writes text as it is, converted as above.
void WriteText(OutputStream stream, const char* text);
// printf's formatting, then WriteText; a text longer than 4 KB is cut there.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PrintError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PrintList(OutputStream stream, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));

// printf's formatting into buffer, cut to its size.
void FormatText(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
