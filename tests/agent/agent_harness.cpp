#include "agent_harness.h"
#include "program_run.h"

NotebookState* OpenTestNotebook()
{
    char name[64];
    snprintf(name, sizeof name, "test-%lu", (unsigned long)GetCurrentProcessId());
    SetEnvironmentVariableA("NOTEBOOK_SIM", name);
    NotebookState* s = SimOpen();
    if (s) memset(s, 0, sizeof *s);
    return s;
}

std::string MakeProgramFolder(const std::string& name, const std::vector<std::string>& files)
{
    std::string root = BinDir() + "\\..\\program-folders";
    CreateDirectoryA(root.c_str(), nullptr);
    std::string dir = MakeFreshFolder(root + "\\" + name);  // files of an earlier run go
    for (const std::string& f : files) {
        size_t eq = f.find('=');
        std::string source = f.substr(0, eq);
        std::string target = eq == std::string::npos ? source : f.substr(eq + 1);
        target = target.substr(target.rfind('\\') + 1);
        std::string from = BinDir() + "\\" + source;
        if (!CopyFileA(from.c_str(), (dir + "\\" + target).c_str(), FALSE))
            ADD_FAILURE() << "cannot copy " << from << " to " << dir << ": " << GetLastError();
    }
    return dir;
}

Program StartProgram(const std::string& path, const std::string& currentDir)
{
    Program p;
    PROCESS_INFORMATION pi;
    std::string dir = currentDir.empty() ? DirectoryOf(path) : currentDir;
    if (!StartProcess(Widened(path), L"", Widened(dir), nullptr, nullptr, &pi)) {
        ADD_FAILURE() << "cannot start " << path << ": error " << GetLastError();
        return p;
    }
    p.process = pi.hProcess;
    p.pid = pi.dwProcessId;
    return p;
}

HWND WaitForAgentWindow(DWORD ms)
{
    HWND w = nullptr;
    WaitUntil([&] { return (w = SimAgentWindow()) != nullptr; }, ms);
    // The window can be found while its creation still runs; a sent message is handled only
    // once the message loop runs.
    if (w) SimSyncWithWindow(w, ms);
    return w;
}

void CleanUpProgram(Program& p)
{
    if (!p.process) return;
    TerminateProcess(p.process, 99);  // fails harmlessly once the program has ended
    WaitForSingleObject(p.process, kWaitMs);
    CloseHandle(p.process);
    p.process = nullptr;
}

std::string CallLogText(const NotebookState* s, uint32_t from)
{
    std::string t;
    for (uint32_t i = from; i < s->callCount && i < kCallLogCapacity; i++)
        t += std::string(t.empty() ? "" : ", ") + SimCallName(s->calls[i]);
    return t;
}

std::string TraceText(const NotebookState* s)
{
    std::string t;
    LONG n = s->traceCount;
    for (LONG i = 0; i < n && i < (LONG)kTraceCapacity; i++) {
        const PortAccess& a = s->trace[i];
        char item[16];
        snprintf(item, sizeof item, "%s%c%02X=%02X%s", t.empty() ? "" : " ", a.write ? 'w' : 'r',
                 a.port, a.value, a.failed ? "!" : "");
        t += item;
    }
    return t;
}

void ExpectNoViolation(const NotebookState* s, const std::string& what)
{
    EXPECT_EQ(0u, s->violations) << what << (what.empty() ? "" : ": ")
                                 << "the first violation: " << s->firstViolation;
}

void ClearNotebook(NotebookState* s, const std::string& what)
{
    ExpectNoViolation(s, what);
    memset(s, 0, sizeof *s);
}

std::string Notebookctl(const std::string& arguments, DWORD expectedExitCode)
{
    // A sweep runs many steps; CTest's own limit for the case is the real bound.
    const DWORD kNotebookctlMs = 110000;
    ProgramRun run = RunProgram(BinDir() + "\\notebookctl.exe", arguments, kNotebookctlMs);
    std::string printed = run.out + run.err;
    EXPECT_EQ(expectedExitCode, run.status) << "notebookctl " << arguments << " printed:\n"
                                            << printed;
    return printed;
}

void NotebookTest::SetUp()
{
    s = OpenTestNotebook();
    ASSERT_NE(nullptr, s);
}

void NotebookTest::TearDown()
{
    if (s) ExpectNoViolation(s, "at the end of the test");
}

void AgentProgramTest::SetUp()
{
    NotebookTest::SetUp();
    ASSERT_EQ(nullptr, SimAgentWindow()) << "an agent from elsewhere is running";
}

void AgentProgramTest::TearDown()
{
    for (Program& p : programs) CleanUpProgram(p);
    NotebookTest::TearDown();
}

std::string AgentProgramTest::Install(const std::string& folder, const std::string& agentCopy,
                                      const char* version, const std::vector<std::string>& standins)
{
    std::vector<std::string> files = standins;
    files.push_back(agentCopy);
    std::string exe = agentCopy.substr(agentCopy.find('=') + 1);
    if (version) {
        EXPECT_TRUE(SetWindowsVersion(exe, version)) << exe;
    }
    return MakeProgramFolder(folder, files) + "\\" + exe;
}

std::string AgentProgramTest::FolderNameOfLength(size_t length)
{
    std::string probe = MakeProgramFolder("probe", {});
    return std::string(length - probe.rfind('\\') - 1, 'x');
}

Program AgentProgramTest::Start(const std::string& path, const std::string& currentDir)
{
    programs.push_back(StartProgram(path, currentDir));
    return programs.back();
}

bool AgentProgramTest::Launch(const std::string& path, Program* p, const std::string& currentDir)
{
    *p = Start(path, currentDir);
    p->window = WaitForAgentWindow(kWaitMs);
    DWORD owner = 0;
    if (p->window) GetWindowThreadProcessId(p->window, &owner);
    EXPECT_NE(nullptr, p->window) << path << ": no agent window within " << kWaitMs << " ms";
    EXPECT_EQ(p->pid, owner) << "the window belongs to another process";
    return p->window && p->pid == owner;
}

void AgentProgramTest::ExpectExitsAtOnce(const Program& p, const std::string& what)
{
    DWORD code = 12345;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(p.process, kWaitMs))
        << what << ": still running after " << kWaitMs << " ms";
    GetExitCodeProcess(p.process, &code);
    EXPECT_EQ(0u, code) << what;
}

void AgentProgramTest::CloseAndExpectExit(const Program& p)
{
    PostMessageA(p.window, WM_USER + 1, 0, 0);
    ExpectExitsAtOnce(p, "after the close request");
}

void AgentProgramTest::CloseByTaskkillAndExpectExit(const Program& p, const std::string& exeName)
{
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    ProgramRun run = RunProgram(std::string(system) + "\\taskkill.exe", "/im " + exeName, kWaitMs);
    EXPECT_EQ(0u, run.status) << "taskkill /im " << exeName << " printed:\n" << run.out << run.err;
    ExpectExitsAtOnce(p, "after taskkill /im " + exeName);
}

void AgentProgramTest::WaitForAgent(const Program& agent, volatile LONG* counter, LONG before,
                                    const std::string& what)
{
    bool seen = WaitUntil([&] { return *counter > before; }, kWaitMs);
    EXPECT_TRUE(seen) << what << " did not happen within " << kWaitMs << " ms";
    SimSyncWithWindow(agent.window, kWaitMs);
}

void AgentProgramTest::ResetNotebook()
{
    for (Program& p : programs) CleanUpProgram(p);
    programs.clear();
    ClearNotebook(s, "before the reset");
}
