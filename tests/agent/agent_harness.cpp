#include "agent_harness.h"
#include <gtest/gtest.h>

NotebookState *OpenTestNotebook()
{
    char name[64];
    snprintf(name, sizeof name, "test-%lu", (unsigned long)GetCurrentProcessId());
    SetEnvironmentVariableA("NOTEBOOK_SIM", name);
    NotebookState *s = SimOpen();
    if (s)
        memset(s, 0, sizeof *s);
    return s;
}

std::string BinDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p(path, n);
    return p.substr(0, p.rfind('\\'));
}

static void RemoveTree(const std::string &dir)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string n = fd.cFileName;
            if (n == "." || n == "..")
                continue;
            std::string full = dir + "\\" + n;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileA(full.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

std::string MakeProgramFolder(const std::string &name, const std::vector<std::string> &files)
{
    std::string root = BinDir() + "\\..\\program-folders";
    CreateDirectoryA(root.c_str(), nullptr);
    std::string dir = root + "\\" + name;
    RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    for (const std::string &f : files) {
        size_t eq = f.find('=');
        std::string source = f.substr(0, eq);
        std::string target = eq == std::string::npos ? source : f.substr(eq + 1);
        target = target.substr(target.rfind('\\') + 1);
        std::string from = BinDir() + "\\" + source;
        if (!CopyFileA(from.c_str(), (dir + "\\" + target).c_str(), FALSE))
            ADD_FAILURE() << "cannot copy " << from << " to " << dir << ": error " << GetLastError();
    }
    char full[MAX_PATH];
    GetFullPathNameA(dir.c_str(), sizeof full, full, nullptr);
    return full;
}

void SetWindowsVersion(const std::string &exeName, const char *version)
{
    std::string key = "Software\\Wine\\AppDefaults\\" + exeName;
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0,
                                             KEY_SET_VALUE, nullptr, &k, nullptr));
    RegSetValueExA(k, "Version", 0, REG_SZ, (const BYTE *)version, (DWORD)strlen(version) + 1);
    RegCloseKey(k);
}

Program StartProgram(const std::string &path, const std::string &currentDir)
{
    Program p;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::string cmd = "\"" + path + "\"";
    std::string dir = currentDir.empty() ? path.substr(0, path.rfind('\\')) : currentDir;
    if (!CreateProcessA(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(),
                        &si, &pi)) {
        ADD_FAILURE() << "cannot start " << path << ": error " << GetLastError();
        return p;
    }
    CloseHandle(pi.hThread);
    p.process = pi.hProcess;
    p.pid = pi.dwProcessId;
    return p;
}

bool WaitForExit(const Program &p, DWORD ms, DWORD *exitCode)
{
    if (!p.process || WaitForSingleObject(p.process, ms) != WAIT_OBJECT_0)
        return false;
    GetExitCodeProcess(p.process, exitCode);
    return true;
}

bool WaitUntil(const std::function<bool()> &done, DWORD ms)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms)
            return false;
        Sleep(2);
    }
    return true;
}

HWND FindAgentWindow() { return FindWindowA("LumettaApp", "LumettaApp"); }

HWND WaitForAgentWindow(DWORD ms)
{
    HWND w = nullptr;
    WaitUntil([&] { return (w = FindAgentWindow()) != nullptr; }, ms);
    // The window can be found while its creation still runs; a sent message is handled only
    // once the message loop runs.
    if (w)
        SyncWithAgent(w);
    return w;
}

void SyncWithAgent(HWND window)
{
    DWORD_PTR result;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &result);
}

void CleanUpProgram(Program &p)
{
    if (!p.process)
        return;
    if (WaitForSingleObject(p.process, 0) == WAIT_TIMEOUT) {
        HWND w = FindAgentWindow();
        DWORD owner = 0;
        if (w && GetWindowThreadProcessId(w, &owner) && owner == p.pid)
            PostMessageA(w, WM_USER + 1, 0, 0);
        if (WaitForSingleObject(p.process, 3000) == WAIT_TIMEOUT) {
            TerminateProcess(p.process, 99);
            WaitForSingleObject(p.process, 3000);
        }
    }
    CloseHandle(p.process);
    p.process = nullptr;
}

std::vector<uint32_t> CallLog(const NotebookState *s, uint32_t from)
{
    std::vector<uint32_t> v;
    for (uint32_t i = from; i < s->callCount && i < kCallLogCapacity; i++)
        v.push_back(s->calls[i]);
    return v;
}

std::string CallLogText(const std::vector<uint32_t> &calls)
{
    std::string t;
    for (uint32_t c : calls)
        t += std::string(t.empty() ? "" : ", ") + SimCallName(c);
    return t;
}

std::string TraceText(const NotebookState *s)
{
    std::string t;
    LONG n = s->traceCount;
    for (LONG i = 0; i < n && i < (LONG)kTraceCapacity; i++) {
        const PortAccess &a = s->trace[i];
        char item[16];
        snprintf(item, sizeof item, "%s%c%02X=%02X", t.empty() ? "" : " ", a.write ? 'w' : 'r',
                 a.port, a.value);
        t += item;
    }
    return t;
}
