// The agent as a whole program under Wine: when the endpoint library cannot be bound, where the
// agent's files are looked for, and how the library's notifications reach the LED.
#include "agent_harness.h"
#include "code_page_sample.h"

TEST_F(AgentProgramTest, AgentEndsWhenTheEndpointLibraryCannotBeBound)
{
    const struct {
        const char* what;
        size_t dirLength;  // 0: a short one
        std::vector<std::string> standins;
        const char* calls;
    } cases[] = {
        {"Pernet.dll missing, Oskal.dll there",
         0,
         {"Fennick.dll", "Oskal.dll"},
         // The refused window is destroyed, so the shut-down sequence releases the controller.
         "Fennick_Init, Fennick_LoadDriver, Fennick_UnLoadDriver"},
        {"Pernet.dll without Pernet_Register",
         0,
         {"Fennick.dll", "variants\\pernet-no-register\\Pernet.dll"},
         "Fennick_Init, Fennick_LoadDriver, Pernet loaded, Pernet_InitEx, Pernet_Unregister, "
         "Pernet_DeInit, Pernet freed, Fennick_UnLoadDriver"},
        // 250 + "\Pernet.dll" needs 262 bytes of 260 (and Callow.CFG does not fit either).
        {"no room for the endpoint library path", 250, {"Fennick.dll", "Pernet.dll"}, ""},
    };
    for (const auto& c : cases) {
        ResetNotebook();
        std::string name = c.dirLength ? FolderNameOfLength(c.dirLength) : "unbound";
        std::string exe = Install(name, "lumetta.exe=l.exe", "win7", c.standins);
        ExpectExitsAtOnce(Start(exe), c.what);
        EXPECT_EQ(c.calls, CallLogText(s)) << c.what;
    }
}

TEST_F(AgentProgramTest, FilesAreLookedForBesideTheProgramWhateverTheCurrentDirectory)
{
    // The current directory holds a Pernet.dll that would end the agent if it were loaded.
    std::string elsewhere =
        MakeProgramFolder("current-dir", {"variants\\pernet-no-register\\Pernet.dll"});
    std::string exe = Install("program-dir", kW7, "win7", {"Fennick.dll", "Pernet.dll"});
    Program agent;
    ASSERT_TRUE(Launch(exe, &agent, elsewhere));
    EXPECT_EQ(1u, s->registerCalls);
    EXPECT_EQ(exe.substr(0, exe.rfind('\\')) + "\\Callow.CFG", std::string(s->initPath));
    CloseAndExpectExit(agent);
}

// The same in a folder named with the locale's most telling character (a double-byte one
// whose second byte is a backslash's, where the code page has one): the program's own path
// is cut at its last backslash character, not byte. Run in one locale of each kind.
TEST_F(AgentProgramTest, FilesAreFoundBesideTheProgramInAFolderNamedInThisCodePage)
{
    std::string name;
    ASSERT_TRUE(code_page_sample::ExactBytes(
        CP_ACP, L"program-dir-" + code_page_sample::TellingCharacter(), &name));
    std::string exe = Install(name, kW7, "win7", {"Fennick.dll", "Pernet.dll"});
    Program agent;
    ASSERT_TRUE(Launch(exe, &agent)) << exe;
    EXPECT_EQ(1u, s->registerCalls) << "Pernet.dll beside " << exe << " was not bound";
    EXPECT_EQ(exe.substr(0, exe.rfind('\\')) + "\\Callow.CFG", std::string(s->initPath));
    CloseAndExpectExit(agent);
}

TEST_F(AgentProgramTest, EndpointNotificationsReachTheLedFromTheLibrarysThread)
{
    Program agent;
    ASSERT_TRUE(
        Launch(Install("endpoint-notes", kW7, "win7", {"Fennick.dll", "Pernet.dll"}), &agent));
    DWORD windowThread = GetWindowThreadProcessId(agent.window, nullptr);
    const struct {
        int volume;
        uint32_t level;
    } steps[] = {{85, 5}, {30, 2}, {100, 6}, {0, 0}};
    for (const auto& step : steps) {
        s->volume = step.volume;
        LONG reads = s->getVolumeCalls;
        SimRequestVolumeNotes(s, 1);
        WaitForAgent(agent, &s->getVolumeCalls, reads, "volume read");
        EXPECT_EQ(step.level, s->ledLevel) << "volume " << step.volume;
    }
    EXPECT_EQ(4u, s->ledCommands);

    LONG traced = s->traceCount;
    SimRequestDeviceEvents(s, 2, 1);  // the removal is posted last
    WaitForAgent(agent, &s->removedCalls, 0, "device events");
    EXPECT_EQ(2, s->defaultChangedCalls);
    EXPECT_EQ(1, s->removedCalls);
    EXPECT_EQ(windowThread, s->defaultChangedThreadId) << "called back on the window's thread";
    EXPECT_EQ(windowThread, s->removedThreadId) << "called back on the window's thread";
    EXPECT_NE(s->posterThreadId, windowThread) << "the library posts from a thread of its own";
    EXPECT_EQ(traced, s->traceCount) << "a device change does not refresh the LED";
    CloseAndExpectExit(agent);
}
