// The agent as a whole program under Wine: single instance, close request, shut-down order,
// refresh requests from other programs, and running without a key controller.
#include "agent_program.h"

TEST_F(AgentProgramTest, SecondCopyExitsAtOnceAndLeavesTheFirstAlone)
{
    std::string dir = Folder("second-copy", "lumetta.exe=lumetta-w7.exe", "win7",
                             {"Fennick.dll", "Pernet.dll"});
    Program first = Start(dir + "\\lumetta-w7.exe");
    HWND window = WaitForWindowOf(first);
    ASSERT_NE(nullptr, window);

    Program second = Start(dir + "\\lumetta-w7.exe");
    DWORD code = 12345;
    ASSERT_TRUE(WaitForExit(second, kWaitMs, &code)) << "second copy still running";
    EXPECT_EQ(0u, code);
    EXPECT_EQ(1u, s->initCalls) << "the second copy must not touch the key controller";
    EXPECT_EQ(1u, s->initExCalls) << "the second copy must not touch the audio library";
    EXPECT_EQ(window, FindAgentWindow());

    // The first copy still works.
    s->volume = 45;
    LONG reads = s->getVolumeCalls;
    SimRequestVolumeNotes(s, 1);
    WaitForAgent(window, &s->getVolumeCalls, reads, "volume read after a notification");
    EXPECT_EQ(3u, s->ledLevel);
    CloseAndExpectExit(first, window);
}

TEST_F(AgentProgramTest, WindowWithOnlyTheClassOrOnlyTheTitleDoesNotCount)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "LumettaApp";
    ASSERT_TRUE(RegisterClassExA(&wc));
    wc.lpszClassName = "OtherClass";
    ASSERT_TRUE(RegisterClassExA(&wc));
    HWND onlyClass = CreateWindowExA(0, "LumettaApp", "Other title", WS_OVERLAPPEDWINDOW, 0, 0,
                                     10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    HWND onlyTitle = CreateWindowExA(0, "OtherClass", "LumettaApp", WS_OVERLAPPEDWINDOW, 0, 0,
                                     10, 10, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_TRUE(onlyClass && onlyTitle);

    std::string dir = Folder("look-alikes", "lumetta.exe=lumetta-w7.exe", "win7",
                             {"Fennick.dll", "Pernet.dll"});
    Program agent = Start(dir + "\\lumetta-w7.exe");
    HWND window = WaitForWindowOf(agent);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(1u, s->registerCalls);
    CloseAndExpectExit(agent, window);
    DestroyWindow(onlyClass);
    DestroyWindow(onlyTitle);
}

TEST_F(AgentProgramTest, EachBuildKeepsTheOtherFromStarting)
{
    std::string dir = Folder("both-builds", "lumetta.exe=lumetta-w7.exe", "win7",
                             {"Fennick.dll", "Oskal.dll", "Pernet.dll", "lumetta-legacy.exe"});
    const struct {
        const char *running, *other;
    } cases[] = {{"lumetta-w7.exe", "lumetta-legacy.exe"},
                 {"lumetta-legacy.exe", "lumetta-w7.exe"}};
    for (const auto &c : cases) {
        ResetNotebook();
        Program running = Start(dir + "\\" + c.running);
        HWND window = WaitForWindowOf(running);
        ASSERT_NE(nullptr, window) << c.running;
        uint32_t calls = s->callCount;
        Program other = Start(dir + "\\" + c.other);
        DWORD code = 12345;
        ASSERT_TRUE(WaitForExit(other, kWaitMs, &code)) << c.other << " still running";
        EXPECT_EQ(0u, code) << c.other;
        // The legacy build's mixer library loads with the program; nothing else may happen.
        std::vector<uint32_t> log = CallLog(s, calls);
        bool quiet = log.empty() || (log.size() == 1 && log[0] == CallOskalLoaded);
        EXPECT_TRUE(quiet) << c.other << " made calls: " << CallLogText(log);
        EXPECT_EQ(1u, s->initCalls) << c.other;
        CloseAndExpectExit(running, window);
    }
}

struct OrderCase {
    const char *what;
    const char *agent;
    const char *version;
    const char *startCalls;
    const char *stopCalls;
};

TEST_F(AgentProgramTest, CloseRequestShutsDownInOrder)
{
    const OrderCase cases[] = {
        {"full build, endpoint mode", "lumetta.exe=lumetta-w7.exe", "win7",
         "Fennick_Init, Fennick_LoadDriver, Pernet loaded, Pernet_InitEx, Pernet_Register",
         "Pernet_Unregister, Pernet_DeInit, Pernet freed, Fennick_UnLoadDriver"},
        {"full build, mixer mode", "lumetta.exe=lumetta-xp.exe", "winxp",
         "Fennick_Init, Fennick_LoadDriver, Oskal loaded, Oskal_HookDevice",
         "Oskal_UnHookDevice, Oskal freed, Fennick_UnLoadDriver"},
        {"legacy build", "lumetta-legacy.exe", nullptr,
         "Oskal loaded, Fennick_Init, Fennick_LoadDriver, Oskal_HookDevice",
         "Fennick_UnLoadDriver, Oskal_UnHookDevice"},
    };
    for (const OrderCase &c : cases) {
        ResetNotebook();
        std::string exe = std::string(c.agent).substr(std::string(c.agent).find('=') + 1);
        std::string dir = Folder("close-order", c.agent, c.version,
                                 {"Fennick.dll", "Oskal.dll", "Pernet.dll"});
        Program agent = Start(dir + "\\" + exe);
        HWND window = WaitForWindowOf(agent);
        ASSERT_NE(nullptr, window) << c.what;
        EXPECT_EQ(c.startCalls, CallLogText(CallLog(s))) << c.what;
        uint32_t started = s->callCount;
        CloseAndExpectExit(agent, window);
        EXPECT_EQ(c.stopCalls, CallLogText(CallLog(s, started))) << c.what;
        EXPECT_EQ(nullptr, FindAgentWindow()) << c.what;
        uint64_t w = (uint64_t)(uintptr_t)window;
        if (s->unregisterCalls) {
            EXPECT_EQ(w, s->unregisterWindow) << c.what;
        }
        if (s->unhookCalls) {
            EXPECT_EQ(w, s->unhookWindow) << c.what;
            EXPECT_EQ(0u, s->unhookArg) << c.what;
        }
    }
}

struct RefreshCase {
    const char *what;
    const char *agent;
    const char *version;
    volatile LONG NotebookState::*reads;
};

TEST_F(AgentProgramTest, VolumeChangedMessageFromAnotherProgramRefreshesTheLed)
{
    const RefreshCase cases[] = {
        {"full build, endpoint mode", "lumetta.exe=lumetta-w7.exe", "win7",
         &NotebookState::getVolumeCalls},
        {"full build, mixer mode", "lumetta.exe=lumetta-xp.exe", "winxp",
         &NotebookState::maxMinCalls},
        {"legacy build", "lumetta-legacy.exe", nullptr, &NotebookState::maxMinCalls},
    };
    for (const RefreshCase &c : cases) {
        ResetNotebook();
        // 65 % of the endpoint; 40000 of 0..65535 is 61 % and, by the legacy rule, level 4.
        s->volume = 65;
        s->mixerMax = 65535;
        s->channelCount = 1;
        s->channels[0] = 40000;
        std::string exe = std::string(c.agent).substr(std::string(c.agent).find('=') + 1);
        std::string dir = Folder("refresh", c.agent, c.version,
                                 {"Fennick.dll", "Oskal.dll", "Pernet.dll"});
        Program agent = Start(dir + "\\" + exe);
        HWND window = WaitForWindowOf(agent);
        ASSERT_NE(nullptr, window) << c.what;
        EXPECT_EQ(0, s->traceCount) << c.what << ": no LED write at start-up";
        PostMessageA(window, WM_USER, 0, 0);
        WaitForAgent(window, &(s->*c.reads), 0, c.what);
        EXPECT_EQ(1u, s->ledCommands) << c.what;
        EXPECT_EQ(4u, s->ledLevel) << c.what;
        CloseAndExpectExit(agent, window);
    }
}

TEST_F(AgentProgramTest, ConfigPathIsBesideTheProgram)
{
    std::string dir = Folder("config-path", "lumetta.exe=lumetta-w7.exe", "win7",
                             {"Fennick.dll", "Pernet.dll"});
    Program agent = Start(dir + "\\lumetta-w7.exe", BinDir());
    HWND window = WaitForWindowOf(agent);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(dir + "\\Callow.CFG", std::string(s->initPath));
    CloseAndExpectExit(agent, window);
}

TEST_F(AgentProgramTest, WithoutAKeyControllerTheAgentRunsAndNeverWritesToTheEc)
{
    const struct {
        const char *what;
        uint32_t failInit, failLoad;
        const char *calls;
    } cases[] = {
        {"Fennick_Init fails", 1, 0, "Fennick_Init"},
        {"Fennick_LoadDriver fails", 0, 1, "Fennick_Init, Fennick_LoadDriver"},
    };
    std::string dir = Folder("no-key-controller", "lumetta.exe=lumetta-w7.exe", "win7",
                             {"Fennick.dll", "Pernet.dll"});
    for (const auto &c : cases) {
        ResetNotebook();
        s->failInit = c.failInit;
        s->failLoadDriver = c.failLoad;
        s->volume = 70;
        Program agent = Start(dir + "\\lumetta-w7.exe");
        HWND window = WaitForWindowOf(agent);
        ASSERT_NE(nullptr, window) << c.what;
        PostMessageA(window, WM_USER, 0, 0);
        WaitForAgent(window, &s->getVolumeCalls, 0, c.what);
        SimRequestVolumeNotes(s, 1);
        WaitForAgent(window, &s->getVolumeCalls, 1, c.what);
        SimRequestDeviceEvents(s, 1, 1);
        WaitForAgent(window, &s->removedCalls, 0, c.what);
        EXPECT_EQ(1, s->defaultChangedCalls) << c.what;
        EXPECT_EQ(0, s->traceCount) << c.what << ": " << TraceText(s);
        CloseAndExpectExit(agent, window);
        EXPECT_EQ(std::string(c.calls) + ", Pernet loaded, Pernet_InitEx, Pernet_Register, "
                                         "Pernet_Unregister, Pernet_DeInit, Pernet freed",
                  CallLogText(CallLog(s)))
            << c.what << ": no driver unload";
    }
}

TEST_F(AgentProgramTest, LegacyBuildIgnoresEndpointMessages)
{
    s->mixerMax = 65535;
    s->channelCount = 1;
    s->channels[0] = 65535;
    std::string dir = Folder("legacy-messages", "lumetta-legacy.exe", nullptr,
                             {"Fennick.dll", "Oskal.dll"});
    Program agent = Start(dir + "\\lumetta-legacy.exe");
    HWND window = WaitForWindowOf(agent);
    ASSERT_NE(nullptr, window);
    // Messages are handled in order: by the time WM_USER has read the mixer, the others are done.
    PostMessageA(window, 0x040A, 0, 0);
    PostMessageA(window, 0x04A7, 0, 0);
    PostMessageA(window, 0x04A8, 0, 0);
    PostMessageA(window, WM_USER, 0, 0);
    WaitForAgent(window, &s->maxMinCalls, 0, "mixer read");
    EXPECT_EQ(1, s->maxMinCalls) << "only WM_USER reads the mixer";
    EXPECT_EQ(1u, s->ledCommands);
    EXPECT_EQ(6u, s->ledLevel);
    CloseAndExpectExit(agent, window);
}

TEST_F(AgentProgramTest, ProgramDirectoryTooLongForItsPaths)
{
    std::string probe = MakeProgramFolder("probe", {});
    size_t rootLength = probe.rfind('\\');
    const struct {
        const char *what;
        size_t dirLength;
        bool runs;
        const char *calls;
    } cases[] = {
        // 246 + "\Callow.CFG" needs 258 bytes of 256; "\Pernet.dll" still fits in 260.
        {"no room for the configuration path", 246, true,
         "Pernet loaded, Pernet_InitEx, Pernet_Register"},
        // 250 + "\Pernet.dll" needs 262 bytes of 260.
        {"no room for the endpoint library path", 250, false, ""},
    };
    for (const auto &c : cases) {
        ResetNotebook();
        std::string name(c.dirLength - rootLength - 1, 'x');
        std::string dir = Folder(name, "lumetta.exe=l.exe", "win7", {"Fennick.dll", "Pernet.dll"});
        ASSERT_EQ(c.dirLength, dir.size()) << c.what;
        Program agent = Start(dir + "\\l.exe");
        if (c.runs) {
            HWND window = WaitForWindowOf(agent);
            ASSERT_NE(nullptr, window) << c.what;
            PostMessageA(window, WM_USER, 0, 0);
            WaitForAgent(window, &s->getVolumeCalls, 0, c.what);
            EXPECT_EQ(0, s->traceCount) << c.what << ": " << TraceText(s);
            EXPECT_EQ(c.calls, CallLogText(CallLog(s))) << c.what << ": Fennick_Init not called";
            CloseAndExpectExit(agent, window);
        } else {
            DWORD code = 12345;
            ASSERT_TRUE(WaitForExit(agent, kWaitMs, &code)) << c.what << ": agent still running";
            EXPECT_EQ(0u, code) << c.what;
            EXPECT_EQ(0u, s->initExCalls) << c.what;
            EXPECT_EQ(nullptr, strstr(CallLogText(CallLog(s)).c_str(), "Pernet loaded"))
                << c.what << ": " << CallLogText(CallLog(s));
        }
    }
}
