// Runs a console program of the build as a child and collects its exit status and output.
// Output goes to temporary files rather than pipes, so a chatty child never blocks.
#pragma once

#include <windows.h>

#include <string>

#include "test_support.h"

struct ProgramRun {
    DWORD status = 0xFFFFFFFF;  // exit status; 0xFFFFFFFF when it did not start or end in time
    std::string out, err;       // its output streams, without carriage returns
};

inline std::string TakeOutputFile(HANDLE file)
{
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        for (DWORD i = 0; i < got; i++)
            if (buffer[i] != '\r') text += buffer[i];
    }
    CloseHandle(file);
    return text;
}

inline HANDLE CreateOutputFile()
{
    char folder[MAX_PATH], path[MAX_PATH];
    if (!GetTempPathA(sizeof(folder), folder) || !GetTempFileNameA(folder, "run", 0, path))
        return INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// Runs `"exe" arguments` and waits up to limitMs for it to end. The wide form hands the
// program a command line that the narrow one cannot carry.
inline ProgramRun RunProgram(const std::wstring& exe, const std::wstring& arguments,
                             DWORD limitMs = 60000)
{
    ProgramRun run;
    HANDLE out = CreateOutputFile(), err = CreateOutputFile();
    PROCESS_INFORMATION process;
    if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
        StartProcess(exe, arguments, L"", out, err, &process)) {
        if (WaitForSingleObject(process.hProcess, limitMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &run.status);
        else
            TerminateProcess(process.hProcess, 0xFFFFFFFF);
        CloseHandle(process.hProcess);
    }
    if (out != INVALID_HANDLE_VALUE) run.out = TakeOutputFile(out);
    if (err != INVALID_HANDLE_VALUE) run.err = TakeOutputFile(err);
    return run;
}

inline ProgramRun RunProgram(const std::string& exe, const std::string& arguments,
                             DWORD limitMs = 60000)
{
    return RunProgram(Widened(exe), Widened(arguments), limitMs);
}
