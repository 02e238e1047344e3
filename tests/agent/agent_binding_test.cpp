// The agent as a whole program under Wine: which audio library it binds by Windows version,
// where it loads the endpoint library from, and how notifications reach the LED.
#include "agent_program.h"

TEST_F(AgentProgramTest, WindowsVersionSelectsTheLibrary)
{
    const struct {
        const char *version;
        const char *calls;
    } cases[] = {
        {"winxp", "Fennick_Init, Fennick_LoadDriver, Oskal loaded, Oskal_HookDevice"},
        {"vista", "Fennick_Init, Fennick_LoadDriver, Pernet loaded, Pernet_InitEx, Pernet_Register"},
        {"win7", "Fennick_Init, Fennick_LoadDriver, Pernet loaded, Pernet_InitEx, Pernet_Register"},
    };
    for (const auto &c : cases) {
        ResetNotebook();
        std::string exe = std::string("lumetta-") + c.version + ".exe";
        std::string dir = Folder("version", "lumetta.exe=" + exe, c.version,
                                 {"Fennick.dll", "Oskal.dll", "Pernet.dll"});
        Program agent = Start(dir + "\\" + exe);
        HWND window = WaitForWindowOf(agent);
        ASSERT_NE(nullptr, window) << c.version;
        EXPECT_EQ(c.calls, CallLogText(CallLog(s))) << c.version << ": only one library";
        CloseAndExpectExit(agent, window);
    }
}

TEST_F(AgentProgramTest, MissingPernetEndsTheAgentEvenWithOskalThere)
{
    std::string dir = Folder("no-pernet", "lumetta.exe=lumetta-w7.exe", "win7",
                             {"Fennick.dll", "Oskal.dll"});
    Program agent = Start(dir + "\\lumetta-w7.exe");
    DWORD code = 12345;
    ASSERT_TRUE(WaitForExit(agent, kWaitMs, &code)) << "agent still running";
    EXPECT_EQ(0u, code);
    // The refused window is destroyed, so the shut-down sequence releases the key controller.
    EXPECT_EQ("Fennick_Init, Fennick_LoadDriver, Fennick_UnLoadDriver", CallLogText(CallLog(s)));
}

TEST_F(AgentProgramTest, PernetWithoutRegisterEndsTheAgent)
{
    std::string dir = Folder("pernet-no-register", "lumetta.exe=lumetta-w7.exe", "win7",
                             {"Fennick.dll", "variants\\pernet-no-register\\Pernet.dll"});
    Program agent = Start(dir + "\\lumetta-w7.exe");
    DWORD code = 12345;
    ASSERT_TRUE(WaitForExit(agent, kWaitMs, &code)) << "agent still running";
    EXPECT_EQ(0u, code);
    EXPECT_EQ("Fennick_Init, Fennick_LoadDriver, Pernet loaded, Pernet_InitEx, Pernet_Unregister, "
              "Pernet_DeInit, "
              "Pernet freed, Fennick_UnLoadDriver",
              CallLogText(CallLog(s)));
}

TEST_F(AgentProgramTest, PernetComesFromTheProgramsDirectoryWhateverTheCurrentDirectory)
{
    // The current directory holds a Pernet.dll that would end the agent if it were loaded.
    std::string elsewhere = Folder("current-dir", "", nullptr,
                                   {"variants\\pernet-no-register\\Pernet.dll"});
    std::string dir = Folder("program-dir", "lumetta.exe=lumetta-w7.exe", "win7",
                             {"Fennick.dll", "Pernet.dll"});
    Program agent = Start(dir + "\\lumetta-w7.exe", elsewhere);
    HWND window = WaitForWindowOf(agent);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(1u, s->registerCalls);
    CloseAndExpectExit(agent, window);
}

TEST_F(AgentProgramTest, EndpointNotificationsReachTheLedFromTheLibrarysThread)
{
    std::string dir = Folder("endpoint-notes", "lumetta.exe=lumetta-w7.exe", "win7",
                             {"Fennick.dll", "Pernet.dll"});
    Program agent = Start(dir + "\\lumetta-w7.exe");
    HWND window = WaitForWindowOf(agent);
    ASSERT_NE(nullptr, window);
    DWORD windowThread = GetWindowThreadProcessId(window, nullptr);

    const struct {
        int volume;
        uint32_t level;
    } steps[] = {{85, 5}, {30, 2}, {100, 6}, {0, 0}};
    for (const auto &step : steps) {
        s->volume = step.volume;
        LONG reads = s->getVolumeCalls;
        SimRequestVolumeNotes(s, 1);
        WaitForAgent(window, &s->getVolumeCalls, reads, "volume read");
        EXPECT_EQ(step.level, s->ledLevel) << "volume " << step.volume;
    }
    EXPECT_EQ(4u, s->ledCommands);

    LONG traced = s->traceCount;
    SimRequestDeviceEvents(s, 2, 1);
    WaitUntil([&] { return s->defaultChangedCalls == 2 && s->removedCalls == 1; }, kWaitMs);
    SyncWithAgent(window);
    EXPECT_EQ(2, s->defaultChangedCalls);
    EXPECT_EQ(1, s->removedCalls);
    EXPECT_EQ(windowThread, s->defaultChangedThreadId) << "called back on the window's thread";
    EXPECT_EQ(windowThread, s->removedThreadId) << "called back on the window's thread";
    EXPECT_NE(s->posterThreadId, windowThread) << "the library posts from a thread of its own";
    EXPECT_EQ(traced, s->traceCount) << "a device change does not refresh the LED";
    CloseAndExpectExit(agent, window);
}

TEST_F(AgentProgramTest, MixerNotificationReachesTheLed)
{
    const struct {
        const char *agent, *exe, *version, *oskal;
        uint32_t commands;
    } cases[] = {
        {"lumetta.exe=lumetta-xp.exe", "lumetta-xp.exe", "winxp", "Oskal.dll", 1},
        {"lumetta-legacy.exe", "lumetta-legacy.exe", nullptr, "Oskal.dll", 1},
        // Without Oskal_GetValue the hook works but no volume can be read.
        {"lumetta.exe=lumetta-xp.exe", "lumetta-xp.exe", "winxp",
         "variants\\oskal-no-getvalue\\Oskal.dll", 0},
    };
    for (const auto &c : cases) {
        ResetNotebook();
        s->mixerMax = 65535;
        s->channelCount = 2;
        s->channels[0] = 20000;
        s->channels[1] = 10000;
        std::string dir = Folder("mixer-notes", c.agent, c.version, {"Fennick.dll", c.oskal});
        Program agent = Start(dir + "\\" + c.exe);
        HWND window = WaitForWindowOf(agent);
        ASSERT_NE(nullptr, window) << c.oskal;
        EXPECT_EQ((uint64_t)(uintptr_t)window, s->hookWindow);
        SimRequestMixerNotes(s, 1);
        WaitForAgent(window, &s->maxMinCalls, 0, "mixer read");
        EXPECT_EQ(c.commands, s->ledCommands) << c.exe << " with " << c.oskal;
        if (c.commands) {
            EXPECT_EQ(2u, s->ledLevel) << c.exe << ": 20000 of 0..65535";
        }
        CloseAndExpectExit(agent, window);
    }
}
