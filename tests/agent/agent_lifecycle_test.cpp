// The agent as a whole program under Wine: single instance, the library each Windows version
// binds, start-up and shut-down order, refresh requests, and running without a key controller.
#include "agent_harness.h"

TEST_F(AgentProgramTest, SecondCopyOfEitherBuildExitsAtOnceAndLeavesTheFirstAlone)
{
    // Windows with only the class or only the title do not count as a running copy.
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "LumettaApp";
    ASSERT_TRUE(RegisterClassExA(&wc));
    HWND onlyClass = CreateWindowExA(0, "LumettaApp", "Other title", WS_OVERLAPPEDWINDOW, 0, 0, 10,
                                     10, nullptr, nullptr, wc.hInstance, nullptr);
    HWND onlyTitle = CreateWindowExA(0, "STATIC", "LumettaApp", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10,
                                     nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_TRUE(onlyClass && onlyTitle);

    std::string w7 = Install("single-instance", kW7, "win7",
                             {"Fennick.dll", "Oskal.dll", "Pernet.dll", "lumetta-legacy.exe"});
    std::string legacy = w7.substr(0, w7.rfind('\\')) + "\\lumetta-legacy.exe";
    const std::string cases[][2] = {{w7, w7}, {w7, legacy}, {legacy, w7}};
    for (const auto& c : cases) {
        ResetNotebook();
        Program first;
        ASSERT_TRUE(Launch(c[0], &first)) << c[0] << " beside the look-alike windows";
        uint32_t calls = s->callCount;
        ExpectExitsAtOnce(Start(c[1]), c[1] + " started second");
        // The legacy build's mixer library loads with the program; nothing else may happen.
        std::string log = CallLogText(s, calls);
        EXPECT_TRUE(log.empty() || log == "Oskal loaded") << c[1] << " made calls: " << log;
        EXPECT_EQ(first.window, SimAgentWindow());
        CloseAndExpectExit(first);  // the first copy still handles its messages
    }
    DestroyWindow(onlyClass);
    DestroyWindow(onlyTitle);
}

// A close request and the system's own task tools (taskkill without /f posts WM_CLOSE) both
// shut the agent down in order.
TEST_F(AgentProgramTest, VersionPicksTheLibraryAndACloseRequestShutsDownInOrder)
{
    const char* const endpointStart =
        "Fennick_Init, Fennick_LoadDriver, Pernet loaded, Pernet_InitEx, Pernet_Register";
    const char* const endpointStop =
        "Pernet_Unregister, Pernet_DeInit, Pernet freed, Fennick_UnLoadDriver";
    const char* const legacyStart =
        "Oskal loaded, Fennick_Init, Fennick_LoadDriver, Oskal_HookDevice";
    const char* const legacyStop = "Fennick_UnLoadDriver, Oskal_UnHookDevice";
    const struct {
        const char *what, *agent, *version, *startCalls, *stopCalls;
        bool byTaskkill;
    } cases[] = {
        {"full build, Windows XP", kXp, "winxp",
         "Fennick_Init, Fennick_LoadDriver, Oskal loaded, Oskal_HookDevice",
         "Oskal_UnHookDevice, Oskal freed, Fennick_UnLoadDriver", false},
        {"full build, Vista", "lumetta.exe=lumetta-vista.exe", "vista", endpointStart, endpointStop,
         false},
        {"full build, Windows 7", kW7, "win7", endpointStart, endpointStop, false},
        {"legacy build", kLegacy, nullptr, legacyStart, legacyStop, false},
        {"full build, Windows 7, taskkill", kW7, "win7", endpointStart, endpointStop, true},
        {"legacy build, taskkill", kLegacy, nullptr, legacyStart, legacyStop, true},
    };
    for (const auto& c : cases) {
        ResetNotebook();
        Program agent;
        std::string exe =
            Install("close-order", c.agent, c.version, {"Fennick.dll", "Oskal.dll", "Pernet.dll"});
        ASSERT_TRUE(Launch(exe, &agent)) << c.what;
        EXPECT_EQ(c.startCalls, CallLogText(s)) << c.what;
        uint32_t started = s->callCount;
        if (c.byTaskkill)
            CloseByTaskkillAndExpectExit(agent, exe.substr(exe.rfind('\\') + 1));
        else
            CloseAndExpectExit(agent);
        EXPECT_EQ(c.stopCalls, CallLogText(s, started)) << c.what;
        EXPECT_EQ(nullptr, SimAgentWindow()) << c.what;
        uint64_t w = (uint64_t)(uintptr_t)agent.window;
        EXPECT_EQ(s->hookCalls ? w : 0, s->hookWindow) << c.what;
        EXPECT_EQ(s->unhookCalls ? w : 0, s->unhookWindow) << c.what;
        EXPECT_EQ(s->unregisterCalls ? w : 0, s->unregisterWindow) << c.what;
        EXPECT_EQ(0u, s->hookArg | s->unhookArg) << c.what << ": device 0";
    }
}

TEST_F(AgentProgramTest, VolumeChangeRefreshesTheLed)
{
    volatile LONG NotebookState::*const endpointReads = &NotebookState::getVolumeCalls;
    volatile LONG NotebookState::*const mixerReads = &NotebookState::maxMinCalls;
    const char* const noGetValue = "variants\\oskal-no-getvalue\\Oskal.dll";
    const struct {
        const char *what, *agent, *version, *oskal;
        bool fromTheLibrary;  // else WM_USER from another program
        volatile LONG NotebookState::*reads;
        uint32_t commands;
    } cases[] = {
        {"endpoint mode, WM_USER", kW7, "win7", "Oskal.dll", false, endpointReads, 1},
        {"mixer mode, WM_USER", kXp, "winxp", "Oskal.dll", false, mixerReads, 1},
        {"legacy build, WM_USER", kLegacy, nullptr, "Oskal.dll", false, mixerReads, 1},
        {"mixer mode, the mixer's notification", kXp, "winxp", "Oskal.dll", true, mixerReads, 1},
        {"legacy build, the mixer's notification", kLegacy, nullptr, "Oskal.dll", true, mixerReads,
         1},
        // Without Oskal_GetValue the hook works but no volume can be read.
        {"mixer mode without Oskal_GetValue", kXp, "winxp", noGetValue, true, mixerReads, 0},
    };
    for (const auto& c : cases) {
        ResetNotebook();
        // 65 % of the endpoint; 40000 of 0..65535 is 61 % and, by the legacy rule, level 4.
        s->volume = 65;
        s->mixerMax = 65535;
        s->channelCount = 1;
        s->channels[0] = 40000;
        Program agent;
        ASSERT_TRUE(Launch(
            Install("refresh", c.agent, c.version, {"Fennick.dll", c.oskal, "Pernet.dll"}), &agent))
            << c.what;
        EXPECT_EQ(0, s->traceCount) << c.what << ": no LED write at start-up";
        if (!c.version) {
            // The legacy build leaves these to DefWindowProcA; handled in order before WM_USER.
            PostMessageA(agent.window, 0x040A, 0, 0);
            PostMessageA(agent.window, 0x04A7, 0, 0);
            PostMessageA(agent.window, 0x04A8, 0, 0);
        }
        if (c.fromTheLibrary)
            SimRequestMixerNotes(s, 1);
        else
            PostMessageA(agent.window, WM_USER, 0, 0);
        WaitForAgent(agent, &(s->*c.reads), 0, c.what);
        EXPECT_EQ(1, s->*c.reads) << c.what << ": one read";
        EXPECT_EQ(c.commands, s->ledCommands) << c.what;
        EXPECT_EQ(c.commands ? 4u : 0u, s->ledLevel) << c.what;
        CloseAndExpectExit(agent);
    }
}

TEST_F(AgentProgramTest, WithoutAWorkingKeyControllerTheAgentRunsAndNeverWritesToTheEc)
{
    const struct {
        const char* what;
        uint32_t failInit, failLoad;
        size_t dirLength;  // 0: a short one
        const char* calls;
    } cases[] = {
        {"Fennick_Init fails", 1, 0, 0, "Fennick_Init, "},
        {"Fennick_LoadDriver fails", 0, 1, 0, "Fennick_Init, Fennick_LoadDriver, "},
        // 246 + "\Callow.CFG" needs 258 bytes of 256; "\Pernet.dll" still fits in 260.
        {"no room for the configuration path: no Fennick_Init", 0, 0, 246, ""},
    };
    for (const auto& c : cases) {
        ResetNotebook();
        s->failInit = c.failInit;
        s->failLoadDriver = c.failLoad;
        std::string name = c.dirLength ? FolderNameOfLength(c.dirLength) : "no-key-controller";
        std::string exe = Install(name, "lumetta.exe=l.exe", "win7", {"Fennick.dll", "Pernet.dll"});
        Program agent;
        ASSERT_TRUE(Launch(exe, &agent)) << c.what;
        PostMessageA(agent.window, WM_USER, 0, 0);
        WaitForAgent(agent, &s->getVolumeCalls, 0, c.what);
        SimRequestVolumeNotes(s, 1);
        WaitForAgent(agent, &s->getVolumeCalls, 1, c.what);
        SimRequestDeviceEvents(s, 1, 1);
        WaitForAgent(agent, &s->removedCalls, 0, c.what);
        EXPECT_EQ(1, s->defaultChangedCalls) << c.what;
        EXPECT_EQ(0, s->traceCount) << c.what << ": " << TraceText(s);
        CloseAndExpectExit(agent);
        EXPECT_EQ(std::string(c.calls) + "Pernet loaded, Pernet_InitEx, Pernet_Register, "
                                         "Pernet_Unregister, Pernet_DeInit, Pernet freed",
                  CallLogText(s))
            << c.what << ": no driver unload";
    }
}
