// Binding the audio libraries: the endpoint library's path, the tables, forwarding.
#include "agent_harness.h"
#include "audio_backend.h"
#include <gtest/gtest.h>

TEST(EndpointLibraryPathTest, PernetFromTheProgramsDirectory)
{
    // 248 + "\Pernet.dll" is 259 characters, the most a 260-byte buffer holds.
    const std::string dir248 = "C:\\" + std::string(245, 'd');
    const std::string dir249 = dir248 + "e";
    const struct {
        std::string program;
        std::string library;   // empty: refused
    } cases[] = {
        {"D:\\Apps\\agent.exe", "D:\\Apps\\Pernet.dll"},
        {"D:\\agent.exe", "D:\\Pernet.dll"},
        {"\\\\server\\share\\a\\agent.exe", "\\\\server\\share\\a\\Pernet.dll"},
        {"agent.exe", ""},
        {"", ""},
        {dir248 + "\\a.exe", dir248 + "\\Pernet.dll"},
        {dir249 + "\\a.exe", ""},
    };
    for (const auto &c : cases) {
        char out[kLibraryPathSize];
        bool built = BuildEndpointLibraryPath(c.program.c_str(), out);
        EXPECT_EQ(!c.library.empty(), built) << "program " << c.program;
        if (built) {
            EXPECT_EQ(c.library, std::string(out)) << "program " << c.program;
        }
    }
}

class BackEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        s = OpenTestNotebook();
        ASSERT_NE(nullptr, s);
    }
    void TearDown() override { UnbindAudioBackEnd(); }
    NotebookState *s = nullptr;
};

TEST_F(BackEndTest, EndpointRegistrationHandsOverTheMessageNumbers)
{
    g_backEndMode = EndpointMode;
    ASSERT_TRUE(BindAudioBackEnd());
    HWND window = (HWND)(uintptr_t)0x1234;
    EXPECT_TRUE(RegisterVolumeNotifications(window));
    EXPECT_EQ(0x1234u, s->initExWindow);
    EXPECT_EQ(0x04A7u, s->initExChangedMsg);
    EXPECT_EQ(0x04A8u, s->initExRemovedMsg);
    EXPECT_EQ(0x1234u, s->registerWindow);
    EXPECT_EQ(0x040Au, s->registerMsg);
    EXPECT_EQ(1, UnregisterVolumeNotifications(window));
    EXPECT_EQ(0x040Au, s->unregisterMsg);
    EXPECT_EQ("Pernet loaded, Pernet_InitEx, Pernet_Register, Pernet_Unregister, Pernet_DeInit",
              CallLogText(CallLog(s)));
}

TEST_F(BackEndTest, FailedInitExSkipsRegister)
{
    g_backEndMode = EndpointMode;
    ASSERT_TRUE(BindAudioBackEnd());
    s->failInitEx = 1;
    EXPECT_FALSE(RegisterVolumeNotifications((HWND)(uintptr_t)0x10));
    EXPECT_EQ(0u, s->registerCalls);
}

TEST_F(BackEndTest, ForwardsGoNowhereAfterUnbinding)
{
    g_backEndMode = EndpointMode;
    ASSERT_TRUE(BindAudioBackEnd());
    ForwardDefaultDeviceChanged();
    ForwardDeviceRemoved();
    EXPECT_EQ(1, s->defaultChangedCalls);
    EXPECT_EQ(1, s->removedCalls);
    UnbindAudioBackEnd();
    EXPECT_EQ("Pernet loaded, Pernet freed", CallLogText(CallLog(s)));
    ForwardDefaultDeviceChanged();
    ForwardDeviceRemoved();
    int percent = 5;
    EXPECT_EQ(0, EndpointGetVolumeLevel(&percent));
    EXPECT_EQ(1, s->defaultChangedCalls);
    EXPECT_EQ(1, s->removedCalls);
    UnbindAudioBackEnd();   // a second unbind does nothing
}

TEST_F(BackEndTest, MixerModeHooksWithZero)
{
    g_backEndMode = MixerMode;
    ASSERT_TRUE(BindAudioBackEnd());
    HWND window = (HWND)(uintptr_t)0x4321;
    EXPECT_TRUE(RegisterVolumeNotifications(window));
    EXPECT_EQ(0x4321u, s->hookWindow);
    EXPECT_EQ(0u, s->hookArg);
    UnregisterVolumeNotifications(window);
    UnbindAudioBackEnd();
    EXPECT_EQ("Oskal loaded, Oskal_HookDevice, Oskal_UnHookDevice, Oskal freed",
              CallLogText(CallLog(s)));
}
