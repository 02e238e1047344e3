// The LED command channel against the simulated EC: port traffic, the configuration path, the
// key controller's start and stop.
#include "agent_unit.h"
#include "led_channel.h"

static int s_pauses;
static void CountPause(DWORD ms)
{
    EXPECT_EQ(10u, ms);
    s_pauses++;
}

class LedChannelTest : public AgentUnitTest {
protected:
    void SetUp() override
    {
        AgentUnitTest::SetUp();
        StartKeyController();  // the stand-in gives port access only after a real start
        ASSERT_TRUE(g_keyControllerReady);
    }
};

TEST_F(LedChannelTest, PortTrafficPerEcBehaviour)
{
    const struct {
        const char* what;
        uint32_t behaviour, staleBytes;
        bool result;
        const char* traffic;  // r/w, port, value
        int pauses;
    } cases[] = {
        {"idle EC", kEcIdle, 0, true,
         "r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 w68=03 r6C=00 w6C=FF", 5},
        {"one stale output byte is read and dropped", kEcIdle, 1, true,
         "r6C=01 r68=A1 r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 w68=03 r6C=00 w6C=FF", 7},
        {"output full never clears: 9 bytes dropped, nothing written", kEcOutputNeverClears, 0,
         false,
         "r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 "
         "r6C=01 r68=00 r6C=01 r68=00 r6C=01 r68=00 r6C=01",
         19},
        {"input full never clears: 10 status reads, nothing written", kEcInputNeverClears, 0, false,
         "r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02", 11},
        {"input full sticks after the second data byte: no closing byte", kEcInputSticksAfterData2,
         0, true,
         "r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 w68=03 r6C=02 r6C=02 r6C=02 r6C=02 r6C=02 "
         "r6C=02 r6C=02 r6C=02 r6C=02 r6C=02",
         14},
    };
    g_ecPauseSeam = CountPause;
    for (const auto& c : cases) {
        SimClearEc(s);
        s->ecBehaviour = c.behaviour;
        s->staleOutputBytes = c.staleBytes;
        s_pauses = 0;
        EXPECT_EQ(c.result, SendEcCommand(0x45, 0x8B, 0x03)) << c.what;
        EXPECT_EQ(std::string(c.traffic), TraceText(s)) << c.what;
        EXPECT_EQ(c.pauses, s_pauses) << c.what << ": 10 ms pauses";
    }
}

TEST_F(LedChannelTest, AFailedWriteEndsTheCommandUnlessItIsTheClosingByte)
{
    const struct {
        const char* what;
        uint32_t failWriteAt, failReadAt, staleBytes;
        bool result;
        const char* traffic;
    } cases[] = {
        {"the command byte", 1, 0, 0, false, "r6C=00 r6C=00 w6C=45!"},
        {"the first data byte", 2, 0, 0, false, "r6C=00 r6C=00 w6C=45 r6C=00 w68=8B!"},
        {"the second data byte", 3, 0, 0, false,
         "r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 w68=03!"},
        // Once the second data byte is written the command counts as delivered.
        {"the closing byte", 4, 0, 0, true,
         "r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 w68=03 r6C=00 w6C=FF!"},
        // A read that fails leaves the status byte as the agent cleared it: nothing waits.
        {"the flush's status read, a stale byte waiting", 0, 1, 1, true,
         "r6C=00! r6C=01 w6C=45 r6C=01 w68=8B r6C=01 w68=03 r6C=01 w6C=FF"},
        {"a wait's status read", 0, 3, 0, true,
         "r6C=00 r6C=00 w6C=45 r6C=00! w68=8B r6C=00 w68=03 r6C=00 w6C=FF"},
    };
    for (const auto& c : cases) {
        SimClearEc(s);
        SimSetEcBehaviour(s, kEcIdle, c.staleBytes);
        s->failWriteAt = c.failWriteAt;
        s->failReadAt = c.failReadAt;
        EXPECT_EQ(c.result, SendEcCommand(0x45, 0x8B, 0x03)) << c.what << " fails";
        EXPECT_EQ(std::string(c.traffic), TraceText(s)) << c.what << " fails";
    }
    s->failWriteAt = s->failReadAt = 0;
}

TEST_F(LedChannelTest, AnEcThatTakesItsTime)
{
    const struct {
        const char* what;
        uint32_t staleBytes, refillBytes, inputBusyReads;
        bool result;
        LONG dropped, statusReads;
        uint32_t written;
    } cases[] = {
        // After each byte the EC keeps its input buffer full for a number of status reads.
        {"input full for 9 reads after each byte: the wait's 10th read finds it empty", 0, 0, 9,
         true, 0, 2 + 3 * 10, 4},
        {"input full for 10 reads after the command byte: the command fails", 0, 0, 10, false, 0,
         2 + 10, 1},
        // The output buffer fills again once, as the flush reads its last byte.
        {"2 stale bytes, 3 more as the last is read", 2, 3, 0, true, 5, 6 + 4, 4},
        {"4 stale bytes and 5 more: 9 dropped, the 10th status read finds it empty", 4, 5, 0, true,
         9, 10 + 4, 4},
        {"5 stale bytes and 5 more: 10 to drop, the flush gives up", 5, 5, 0, false, 9, 10, 0},
    };
    for (const auto& c : cases) {
        SimClearEc(s);
        SimSetEcBehaviour(s, kEcIdle, c.staleBytes, c.refillBytes, c.inputBusyReads);
        EXPECT_EQ(c.result, SendEcCommand(0x45, 0x8B, 0x03)) << c.what;
        LONG dropped = 0, statusReads = 0;
        uint32_t written = 0;
        for (LONG i = 0; i < s->traceCount; i++) {
            const PortAccess& a = s->trace[i];
            written += a.write;
            dropped += !a.write && a.port == 0x68;
            statusReads += !a.write && a.port == 0x6C;
        }
        EXPECT_EQ(c.dropped, dropped) << c.what << ": " << TraceText(s);
        EXPECT_EQ(c.statusReads, statusReads) << c.what << ": " << TraceText(s);
        EXPECT_EQ(c.written, written) << c.what << ": " << TraceText(s);
        EXPECT_EQ(c.result ? 1u : 0u, s->ledCommands) << c.what;
    }
}

TEST_F(LedChannelTest, EachCommandStartsWithAClearedScratchByte)
{
    // The stand-in, as the library may, leaves each byte it wrote in the caller's scratch byte.
    SimClearEc(s);
    ASSERT_TRUE(SendEcCommand(0x45, 0x8B, 0x03));
    ASSERT_TRUE(SendEcCommand(0x45, 0x8B, 0x04));
    std::string seen;
    for (LONG i = 0; i < s->traceCount; i++) {
        char item[8];
        snprintf(item, sizeof item, " %02X", s->trace[i].scratchIn);
        if (s->trace[i].write) seen += item;
    }
    // One location for every write of a command, cleared as each command starts.
    EXPECT_EQ(" 00 45 8B 03 00 45 8B 04", seen);
}

TEST(ConfigPathTest, CallowCfgBesideTheProgramWithOneBackslash)
{
    const std::string dir245 = "C:\\" + std::string(241, 'd') + "\\";  // 245 characters
    const std::string fits = dir245 + "a.exe", fitsConfig = dir245 + "Callow.CFG";
    const std::string tooLong = "C:\\" + std::string(242, 'd') + "\\a.exe";  // one more
    const struct {
        const char* program;
        const char* config;  // nullptr: refused
    } cases[] = {
        {"D:\\Apps\\agent.exe", "D:\\Apps\\Callow.CFG"},
        {"D:\\agent.exe", "D:\\Callow.CFG"},
        {"D:\\Apps\\", "D:\\Apps\\Callow.CFG"},
        {"D:\\Apps\\..\\Tools\\agent.exe", "D:\\Tools\\Callow.CFG"},
        {"", "\\Callow.CFG"},
        {fits.c_str(), fitsConfig.c_str()},
        {tooLong.c_str(), nullptr},
    };
    for (const auto& c : cases) {
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
        const char* what;
        uint32_t failInit, failLoad;
        bool ready;
        const char* calls;  // after the start and the stop
    } cases[] = {
        {"both succeed", 0, 0, true, "Fennick_Init, Fennick_LoadDriver, Fennick_UnLoadDriver"},
        {"Fennick_Init fails", 1, 0, false, "Fennick_Init"},
        {"Fennick_LoadDriver fails", 0, 1, false, "Fennick_Init, Fennick_LoadDriver"},
    };
    for (const auto& c : cases) {
        ClearNotebook(s, c.what);
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
