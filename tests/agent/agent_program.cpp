#include "agent_program.h"

void AgentProgramTest::SetUp()
{
    s = OpenTestNotebook();
    ASSERT_NE(nullptr, s);
    ASSERT_EQ(nullptr, FindAgentWindow()) << "an agent from elsewhere is running";
}

void AgentProgramTest::TearDown()
{
    for (Program &p : programs)
        CleanUpProgram(p);
}

std::string AgentProgramTest::Folder(const std::string &name, const std::string &agentCopy,
                                     const char *version, const std::vector<std::string> &standins)
{
    std::vector<std::string> files = standins;
    if (!agentCopy.empty())
        files.push_back(agentCopy);
    std::string dir = MakeProgramFolder(name, files);
    if (version && !agentCopy.empty())
        SetWindowsVersion(agentCopy.substr(agentCopy.find('=') + 1), version);
    return dir;
}

Program AgentProgramTest::Start(const std::string &path, const std::string &currentDir)
{
    programs.push_back(StartProgram(path, currentDir));
    return programs.back();
}

HWND AgentProgramTest::WaitForWindowOf(const Program &p)
{
    HWND w = WaitForAgentWindow(kWaitMs);
    EXPECT_NE(nullptr, w) << "no agent window within " << kWaitMs << " ms";
    DWORD owner = 0;
    if (w)
        GetWindowThreadProcessId(w, &owner);
    EXPECT_EQ(p.pid, owner) << "the window belongs to another process";
    return w;
}

void AgentProgramTest::CloseAndExpectExit(Program &p, HWND window)
{
    PostMessageA(window, WM_USER + 1, 0, 0);
    DWORD code = 12345;
    ASSERT_TRUE(WaitForExit(p, kWaitMs, &code)) << "agent still running " << kWaitMs
                                                << " ms after the close request";
    EXPECT_EQ(0u, code);
}

void AgentProgramTest::WaitForAgent(HWND window, volatile LONG *counter, LONG before,
                                    const char *what)
{
    bool seen = WaitUntil([&] { return *counter > before; }, kWaitMs);
    EXPECT_TRUE(seen) << what << " did not happen within " << kWaitMs << " ms";
    SyncWithAgent(window);
}

void AgentProgramTest::ResetNotebook()
{
    for (Program &p : programs)
        CleanUpProgram(p);
    memset(s, 0, sizeof *s);
}
