// The full build's window procedure driven directly: what each message does, a volume change
// dispatched from inside a library call while a refresh runs, and a refused creation followed
// by WM_DESTROY.
#include "agent_unit.h"
#include "audio_backend.h"
#include "led_channel.h"
#include "led_update.h"
#include "shell.h"

class AgentWindowTest : public AgentUnitTest {
protected:
    void SetUp() override
    {
        AgentUnitTest::SetUp();
        g_tickCountSeam = [] { return (DWORD)10000; };  // one moment: a repeat is held back
        window = CreateAgentTestWindow();
        ASSERT_NE(nullptr, window);
    }
    void TearDown() override
    {
        DestroyWindow(window);
        DrainQueue(window);
        AgentUnitTest::TearDown();
    }
    // A started key controller and the mode's library bound, as after the agent's start-up;
    // the volume is 50 % either way (LED level 3) and no LED command was sent yet.
    void StartInMode(BackEndMode mode)
    {
        UnbindAudioBackEnd();
        ClearNotebook(s);
        g_keyControllerReady = false;
        StartKeyController();
        ASSERT_TRUE(g_keyControllerReady);
        g_backEndMode = mode;
        ASSERT_TRUE(BindAudioBackEnd());
        g_lastLedLevel = 0xFF;
        s->volume = 50;
        s->mixerMax = 65535;
        s->channelCount = 1;
        s->channels[0] = 32768;
    }
    HWND window = nullptr;
};

TEST_F(AgentWindowTest, EachMessageGetsItsAnswer)
{
    const struct {
        const char* what;
        UINT msg;
        LRESULT result;
        LONG reads, defaultChanged, removed;
        int queued;  // volume-changed messages left in the queue
    } cases[] = {
        {"volume-changed message: a refresh at once", WM_USER, 1, 1, 0, 0, 0},
        // Answered by posting: the library's thread is let go, the refresh comes from the queue.
        {"endpoint volume notification: posts the volume-changed message", 0x040A, 1, 0, 0, 0, 1},
        {"default device changed: handed back to the library", 0x04A7, 0, 0, 1, 0, 0},
        {"device removed: handed back to the library", 0x04A8, 0, 0, 0, 1, 0},
        {"a message of no one's: DefWindowProcA", WM_USER + 2, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        StartInMode(kEndpointMode);
        EXPECT_EQ(c.result, SendMessageA(window, c.msg, 0, 0)) << c.what;
        EXPECT_EQ(c.reads, s->getVolumeCalls) << c.what;
        EXPECT_EQ(c.reads, (LONG)s->ledCommands) << c.what;
        EXPECT_EQ(c.defaultChanged, s->defaultChangedCalls) << c.what;
        EXPECT_EQ(c.removed, s->removedCalls) << c.what;
        MSG m;
        int queued = 0;
        while (PeekMessageA(&m, window, WM_USER, WM_USER, PM_REMOVE)) queued++;
        EXPECT_EQ(c.queued, queued) << c.what;
        EXPECT_EQ(0, DrainQueue(window)) << c.what << ": nothing else was posted";
    }
}

TEST_F(AgentWindowTest, AVolumeChangeDispatchedInsideALibraryCallReturnsAtOnce)
{
    // A library that pumps messages while the agent waits on it re-enters the window procedure
    // with the volume-changed message that was queued meanwhile.
    const struct {
        const char* what;
        BackEndMode mode;
        SimReenterPoint point;
        uint32_t at;  // the how-many-th call of that kind pumps
        volatile LONG NotebookState::*reads;
    } cases[] = {
        {"Pernet_GetVolumeLevel pumps", kEndpointMode, kReenterInGetVolume, 1,
         &NotebookState::getVolumeCalls},
        {"Oskal_GetMaxMinValue pumps", kMixerMode, kReenterInMixerRange, 1,
         &NotebookState::maxMinCalls},
        {"Fennick pumps as the command byte is written", kEndpointMode, kReenterInPortWrite, 1,
         &NotebookState::getVolumeCalls},
        {"Fennick pumps at the status read before the closing byte", kMixerMode, kReenterInPortRead,
         5, &NotebookState::maxMinCalls},
    };
    for (const auto& c : cases) {
        StartInMode(c.mode);
        EXPECT_EQ(1, ExpectOneCommandThoughReentered(window, s, c.what, c.point, c.at, c.reads))
            << c.what;
        EXPECT_EQ(3u, s->ledLevel) << c.what;
        EXPECT_EQ(0, DrainQueue(window)) << c.what;
    }
}

// The agent shuts down once per process, so this is the only test here that runs the shut-down.
TEST_F(AgentWindowTest, ARefusedCreationShutsDownOnceThoughWM_DESTROYFollows)
{
    // Windows sends WM_DESTROY to a window whose WM_CREATE returned -1 (Wine does not), after
    // the refusal's own shut-down. The key controller must be unloaded once only.
    ClearNotebook(s);
    s->failInitEx = 1;
    EXPECT_EQ(-1, AgentWindowProc(window, WM_CREATE, 0, 0));
    EXPECT_EQ(0, AgentWindowProc(window, WM_DESTROY, 0, 0));
    EXPECT_EQ(1u, s->unloadDriverCalls);
    EXPECT_EQ("Fennick_Init, Fennick_LoadDriver, Pernet loaded, Pernet_InitEx, Pernet_Unregister, "
              "Pernet_DeInit, Pernet freed, Fennick_UnLoadDriver",
              CallLogText(s));
    MSG m;
    int quits = 0;
    while (PeekMessageA(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) quits++;
    EXPECT_GE(quits, 1) << "the shut-down posts the quit message";
}
