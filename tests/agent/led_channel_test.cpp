// The LED command channel against the simulated EC: port traffic, the configuration path, the
// key controller's start and stop.
#include "agent_harness.h"
#include "led_channel.h"

static int s_pauses;
static void CountPause(DWORD ms)
{
    EXPECT_EQ(10u, ms);
    s_pauses++;
}

using LedChannelTest = NotebookTest;

TEST_F(LedChannelTest, PortTrafficPerEcBehaviour)
{
    const struct {
        const char *what;
        uint32_t behaviour, staleBytes;
        bool result;
        const char *traffic;   // r/w, port, value
        int pauses;
    } cases[] = {
        {"idle EC", EcIdle, 0, true,
         "r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 w68=03 r6C=00 w6C=FF", 5},
        {"one stale output byte is read and dropped", EcIdle, 1, true,
         "r6C=01 r68=A1 r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 w68=03 r6C=00 w6C=FF", 7},
        {"output full never clears: 9 bytes dropped, nothing written", EcOutputNeverClears, 0,
         false,
         "r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 "
         "r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 r6C=01", 19},
        {"input full never clears: 10 status reads, nothing written", EcInputNeverClears, 0, false,
         "r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02", 11},
        {"input full sticks after the second data byte: no closing byte", EcInputSticksAfterData2,
         0, true,
         "r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 w68=03 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 "
         "r6C=02 r6C=02 r6C=02 r6C=02 r6C=02", 14},
    };
    g_ecPauseSeam = CountPause;
    for (const auto &c : cases) {
        SimClearEc(s);
        s->ecBehaviour = c.behaviour;
        s->staleOutputBytes = c.staleBytes;
        s_pauses = 0;
        EXPECT_EQ(c.result, SendEcCommand(0x45, 0x8B, 0x03)) << c.what;
        EXPECT_EQ(std::string(c.traffic), TraceText(s)) << c.what;
        EXPECT_EQ(c.pauses, s_pauses) << c.what << ": 10 ms pauses";
    }
    g_ecPauseSeam = nullptr;
}

TEST(ConfigPathTest, CallowCfgBesideTheProgramWithOneBackslash)
{
    const std::string dir245 = "C:\\" + std::string(241, 'd') + "\\";   // 245 characters
    const std::string fits = dir245 + "a.exe", fitsConfig = dir245 + "Callow.CFG";
    const std::string tooLong = "C:\\" + std::string(242, 'd') + "\\a.exe";   // one more
    const struct {
        const char *program;
        const char *config;   // nullptr: refused
    } cases[] = {
        {"D:\\Apps\\agent.exe", "D:\\Apps\\Callow.CFG"},
        {"D:\\agent.exe", "D:\\Callow.CFG"},
        {"D:\\Apps\\", "D:\\Apps\\Callow.CFG"},
        {"D:\\Apps\\..\\Tools\\agent.exe", "D:\\Tools\\Callow.CFG"},
        {"", "\\Callow.CFG"},
        {fits.c_str(), fitsConfig.c_str()},
        {tooLong.c_str(), nullptr},
    };
    for (const auto &c : cases) {
        char out[kConfigPathSize];
        memset(out, 'x', sizeof out);
        bool built = BuildConfigPath(c.program, out);
        EXPECT_EQ(c.config != nullptr, built) << "program " << c.program;
        if (built && c.config) {
            EXPECT_STREQ(c.config, out) << "program " << c.program;
        }
    }
}

TEST_F(LedChannelTest, KeyControllerIsReadyOnlyWhenInitAndLoadDriverSucceed)
{
    const struct {
        const char *what;
        uint32_t failInit, failLoad;
        bool ready;
        const char *calls;   // after the start and the stop
    } cases[] = {
        {"both succeed", 0, 0, true, "Fennick_Init, Fennick_LoadDriver, Fennick_UnLoadDriver"},
        {"Fennick_Init fails", 1, 0, false, "Fennick_Init"},
        {"Fennick_LoadDriver fails", 0, 1, false, "Fennick_Init, Fennick_LoadDriver"},
    };
    for (const auto &c : cases) {
        memset(s, 0, sizeof *s);
        g_keyControllerReady = false;
        s->failInit = c.failInit;
        s->failLoadDriver = c.failLoad;
        StartKeyController();
        EXPECT_EQ(c.ready, g_keyControllerReady) << c.what;
        EXPECT_EQ(BinDir() + "\\Callow.CFG", std::string(s->initPath)) << c.what;
        StopKeyController();
        EXPECT_EQ(c.ready, g_keyControllerReady) << c.what << ": the stop leaves the flag alone";
        EXPECT_EQ(std::string(c.calls), CallLogText(s)) << c.what << ": unload only if started";
    }
}
