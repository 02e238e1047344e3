// What every test area uses: where the build put its programs, a fresh folder, the Windows
// version Wine reports to a program, starting a process, and waiting for a condition with a
// bounded poll. test_main.h has the GoogleTest main for programs that run copies of themselves
// as children.
#pragma once

#include <windows.h>

#include <cstring>
#include <initializer_list>
#include <string>

inline std::string SelfPath()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    return std::string(path, length < sizeof(path) ? length : 0);
}

inline std::string DirectoryOf(const std::string& path)
{
    return path.substr(0, path.find_last_of('\\'));
}

// bin/ of the build tree: the test programs, the deliverables and the stand-ins.
inline std::string BinDir() { return DirectoryOf(SelfPath()); }

// The folder at path, made if need be and emptied of files; its full path.
inline std::string MakeFreshFolder(const std::string& path)
{
    CreateDirectoryA(path.c_str(), nullptr);
    WIN32_FIND_DATAA found;  // "." and ".." are no files
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        DeleteFileA((path + "\\" + found.cFileName).c_str());
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof(full), full, nullptr);
    return length && length < sizeof(full) ? full : path;
}

// Makes Wine report a Windows version ("win98", "winxp", "win7", ...) to programs of that
// file name, for this prefix's user.
inline bool SetWindowsVersion(const std::string& exeName, const char* version)
{
    std::string key = "Software\\Wine\\AppDefaults\\" + exeName;
    HKEY handle;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExA(handle, "Version", 0, REG_SZ, (const BYTE*)version,
                                 (DWORD)strlen(version) + 1);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

// Starts `"exe" arguments` in folder (empty: the caller's), its standard output and error
// on out and err where those are given (else it shares the caller's). On success *process
// holds the process and its id; the thread handle is closed.
inline bool StartProcess(const std::wstring& exe, const std::wstring& arguments,
                         const std::wstring& folder, HANDLE out, HANDLE err,
                         PROCESS_INFORMATION* process)
{
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    bool redirect = out || err;
    if (redirect) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out;
        startup.hStdError = err;
    }
    *process = {};
    if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, redirect, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, process))
        return false;
    CloseHandle(process->hThread);
    process->hThread = nullptr;
    return true;
}

// Polls done() until it holds or timeoutMs have passed; true when it held. The polls start
// 1 ms apart, as most waits end within a few milliseconds, and slow to 10 ms, so that a long
// wait does not keep what it asks (the service manager, another process) busy answering.
template <class Done> bool WaitUntil(Done done, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (DWORD pause = 1;; pause = pause * 2 < 10 ? pause * 2 : 10) {
        if (done()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(pause);
    }
}

inline std::wstring Widened(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], (int)wide.size());
    wide.resize(length > 0 ? length - 1 : 0);
    return wide;
}

// The process of `"exe" arguments`, or null; it shares the caller's console.
inline HANDLE StartProcess(const std::string& exe, const std::string& arguments,
                           const std::string& folder = "")
{
    PROCESS_INFORMATION process;
    return StartProcess(Widened(exe), Widened(arguments), Widened(folder), nullptr, nullptr,
                        &process)
               ? process.hProcess
               : nullptr;
}
