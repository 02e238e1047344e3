// The LED command channel against the simulated EC: port traffic, waits, the key controller.
#include "agent_harness.h"
#include "led_channel.h"
#include <gtest/gtest.h>

static int s_pauses;
static void CountPause(DWORD ms)
{
    EXPECT_EQ(10u, ms);
    s_pauses++;
}

class LedChannelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        s = OpenTestNotebook();
        ASSERT_NE(nullptr, s);
        g_ecPauseSeam = CountPause;
        s_pauses = 0;
    }
    void TearDown() override { g_ecPauseSeam = nullptr; }
    NotebookState *s = nullptr;
};

struct EcCase {
    const char *what;
    uint32_t behaviour;
    uint32_t staleBytes;
    bool result;
    const char *traffic;   // r/w, port, value
    int pauses;
};

static const EcCase kEcCases[] = {
    {"idle EC", EcIdle, 0, true,
     "r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 w68=03 r6C=00 w6C=FF", 5},
    {"one stale output byte is read and dropped", EcIdle, 1, true,
     "r6C=01 r68=A1 r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 w68=03 r6C=00 w6C=FF", 7},
    {"three stale output bytes", EcIdle, 3, true,
     "r6C=01 r68=A3 r6C=01 r68=A2 r6C=01 r68=A1 r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 "
     "w68=03 r6C=00 w6C=FF", 11},
    {"output full never clears: 9 bytes dropped, nothing written", EcOutputNeverClears, 0, false,
     "r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 "
     "r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 r6C=01", 19},
    {"input full never clears: 10 status reads, nothing written", EcInputNeverClears, 0, false,
     "r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02", 11},
    {"input full sticks after the second data byte: no closing byte", EcInputSticksAfterData2, 0,
     true,
     "r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 w68=03 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 "
     "r6C=02 r6C=02 r6C=02 r6C=02 r6C=02", 14},
};

TEST_F(LedChannelTest, PortTrafficPerEcBehaviour)
{
    for (const EcCase &c : kEcCases) {
        SimClearEc(s);
        s->ecBehaviour = c.behaviour;
        s->staleOutputBytes = c.staleBytes;
        s_pauses = 0;
        bool result = SendEcCommand(0x45, 0x8B, 0x03);
        EXPECT_EQ(c.result, result) << c.what;
        EXPECT_EQ(std::string(c.traffic), TraceText(s)) << c.what;
        EXPECT_EQ(c.pauses, s_pauses) << c.what << ": 10 ms pauses";
    }
}

TEST_F(LedChannelTest, NextCommandAfterAFailureStartsWithAFlush)
{
    s->ecBehaviour = EcInputSticksAfterData2;
    EXPECT_TRUE(SendEcCommand(0x45, 0x8B, 0x02));
    // The EC recovers and has left a byte behind: the next command drops it first.
    SimClearEc(s);
    s->ecBehaviour = EcIdle;
    s->staleOutputBytes = 1;
    EXPECT_TRUE(SendEcCommand(0x45, 0x8B, 0x05));
    EXPECT_EQ("r6C=01 r68=A1 r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 w68=05 r6C=00 w6C=FF",
              TraceText(s));
    EXPECT_EQ(5u, s->ledLevel);
}

struct PathCase {
    const char *program;
    const char *config;   // nullptr: refused
};

static const std::string kLongDir245 = "C:\\" + std::string(241, 'd') + "\\";   // 245 chars
static const std::string kLongDir246 = "C:\\" + std::string(242, 'd') + "\\";

TEST(ConfigPathTest, CallowCfgBesideTheProgramWithOneBackslash)
{
    const std::string ok = kLongDir245 + "a.exe", okConfig = kLongDir245 + "Callow.CFG";
    const std::string tooLong = kLongDir246 + "a.exe";
    const PathCase cases[] = {
        {"D:\\Apps\\agent.exe", "D:\\Apps\\Callow.CFG"},
        {"D:\\agent.exe", "D:\\Callow.CFG"},
        {"D:\\Apps\\", "D:\\Apps\\Callow.CFG"},
        {"D:\\Apps\\..\\Tools\\agent.exe", "D:\\Tools\\Callow.CFG"},
        {"", "\\Callow.CFG"},
        {ok.c_str(), okConfig.c_str()},
        {tooLong.c_str(), nullptr},
    };
    for (const PathCase &c : cases) {
        char out[kConfigPathSize];
        memset(out, 'x', sizeof out);
        bool built = BuildConfigPath(c.program, out);
        if (!c.config) {
            EXPECT_FALSE(built) << "program " << c.program << " gave " << out;
            continue;
        }
        EXPECT_TRUE(built) << "program " << c.program;
        if (built) {
            EXPECT_STREQ(c.config, out) << "program " << c.program;
        }
    }
}

TEST_F(LedChannelTest, StartHandsTheProgramsConfigPathToFennick)
{
    StartKeyController();
    EXPECT_TRUE(g_keyControllerReady);
    EXPECT_EQ(BinDir() + "\\Callow.CFG", std::string(s->initPath));
    EXPECT_EQ("Fennick_Init, Fennick_LoadDriver", CallLogText(CallLog(s)));
    StopKeyController();
    EXPECT_EQ(1u, s->unloadDriverCalls);
    EXPECT_TRUE(g_keyControllerReady) << "the ready flag stays set after the driver is unloaded";
}

struct StartCase {
    const char *what;
    uint32_t failInit, failLoad;
    const char *calls;
};

TEST_F(LedChannelTest, StartFailuresLeaveTheControllerNotReady)
{
    const StartCase cases[] = {
        {"Fennick_Init fails", 1, 0, "Fennick_Init"},
        {"Fennick_LoadDriver fails", 0, 1, "Fennick_Init, Fennick_LoadDriver"},
    };
    for (const StartCase &c : cases) {
        memset(s, 0, sizeof *s);
        g_keyControllerReady = false;
        s->failInit = c.failInit;
        s->failLoadDriver = c.failLoad;
        StartKeyController();
        EXPECT_FALSE(g_keyControllerReady) << c.what;
        StopKeyController();
        EXPECT_EQ(std::string(c.calls), CallLogText(CallLog(s))) << c.what << ": no unload";
    }
}
