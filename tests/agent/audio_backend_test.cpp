// Binding the audio libraries: the endpoint library's path, the tables, forwarding.
#include "agent_unit.h"
#include "audio_backend.h"

TEST(EndpointLibraryPathTest, PernetFromTheProgramsDirectory)
{
    // 248 + "\Pernet.dll" is 259 characters, the most a 260-byte buffer holds.
    const std::string dir248 = "C:\\" + std::string(245, 'd');
    const std::string dir249 = dir248 + "e";
    const struct {
        std::string program;
        std::string library;  // empty: refused
    } cases[] = {
        {"D:\\Apps\\agent.exe", "D:\\Apps\\Pernet.dll"},
        {"D:\\agent.exe", "D:\\Pernet.dll"},
        {"\\\\server\\share\\a\\agent.exe", "\\\\server\\share\\a\\Pernet.dll"},
        {"agent.exe", ""},
        {"", ""},
        {dir248 + "\\a.exe", dir248 + "\\Pernet.dll"},
        {dir249 + "\\a.exe", ""},
    };
    for (const auto& c : cases) {
        char out[kLibraryPathSize];
        bool built = BuildEndpointLibraryPath(c.program.c_str(), out);
        EXPECT_EQ(!c.library.empty(), built) << "program " << c.program;
        if (built) {
            EXPECT_EQ(c.library, std::string(out)) << "program " << c.program;
        }
    }
}

using BackEndTest = AgentUnitTest;

TEST_F(BackEndTest, EndpointRegistrationHandsOverTheMessageNumbers)
{
    g_backEndMode = kEndpointMode;
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
              CallLogText(s));
    s->failInitEx = 1;
    EXPECT_FALSE(RegisterVolumeNotifications(window));
    EXPECT_EQ(1u, s->registerCalls) << "no Pernet_Register after a failed Pernet_InitEx";
}

TEST_F(BackEndTest, ForwardsGoNowhereAfterUnbinding)
{
    g_backEndMode = kEndpointMode;
    ASSERT_TRUE(BindAudioBackEnd());
    for (int bound = 1; bound >= 0; bound--) {
        ForwardDefaultDeviceChanged();
        ForwardDeviceRemoved();
        EXPECT_EQ(1, s->defaultChangedCalls) << (bound ? "bound" : "unbound");
        EXPECT_EQ(1, s->removedCalls) << (bound ? "bound" : "unbound");
        UnbindAudioBackEnd();  // the second time, it does nothing
    }
    EXPECT_EQ("Pernet loaded, Pernet freed", CallLogText(s));
    int percent = 5;
    EXPECT_EQ(0, EndpointGetVolumeLevel(&percent));
}

TEST_F(BackEndTest, PernetBesideTheProgramIsBoundThoughAnotherPernetIsLoaded)
{
    // A load by bare name takes a module of that name the process holds already, wherever it
    // came from; the agent names the file beside the program and gets that one. The other copy
    // lacks Pernet_Register, so binding it would also fail the registration.
    std::string other = BinDir() + "\\variants\\pernet-no-register\\Pernet.dll";
    HMODULE loadedFirst = LoadLibraryA(other.c_str());
    ASSERT_NE(nullptr, loadedFirst) << other;
    g_backEndMode = kEndpointMode;
    ASSERT_TRUE(BindAudioBackEnd());
    HWND window = (HWND)(uintptr_t)0x1234;
    EXPECT_TRUE(RegisterVolumeNotifications(window));
    EXPECT_STRCASEEQ((BinDir() + "\\Pernet.dll").c_str(), s->initExModule);
    UnregisterVolumeNotifications(window);
    UnbindAudioBackEnd();
    FreeLibrary(loadedFirst);
}
