// The legacy build's level rule and update, reading the mixer through the linked stand-in, and
// its window procedure when a library call dispatches a volume change while an update runs.
#include "agent_unit.h"
#include "led_channel.h"
#include "led_update.h"
#include "legacy_policy.h"
#include "shell.h"

TEST(LegacyLevelTest, FifthOfTheRangeRoundedUp)
{
    const struct {
        DWORD maximum, minimum, highest;
        BYTE level;
    } cases[] = {
        {65535, 0, 0, 0},     {65535, 0, 1, 1},      {65535, 0, 5, 1},     {65535, 0, 13107, 1},
        {65535, 0, 13108, 2}, {65535, 0, 39321, 3},  {65535, 0, 65534, 5}, {65535, 0, 65535, 6},
        {99, 0, 99, 6},       {99, 0, 98, 5},        {100, 0, 100, 6},     {3, 0, 2, 0},
        {99, 50, 60, 6},      {0xFFFFFFFF, 0, 5, 0}, {1000, 0, 5000, 6},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.level, LegacyLevelForMixer(c.maximum, c.minimum, c.highest))
            << "range " << c.minimum << ".." << c.maximum << ", highest " << c.highest;
}

using LegacyUpdateTest = AgentUnitTest;

TEST_F(LegacyUpdateTest, ReadsTheMixerAndSendsTheLevel)
{
    const struct {
        const char* what;
        bool ready;
        uint32_t failMaxMin, failValue, nullArray;
        int level;  // -1: nothing sent
        LONG frees;
    } cases[] = {
        {"left 100, right 30000 of 0..65535", true, 0, 0, 0, 3, 1},
        {"range read fails: level 0", true, 1, 0, 0, 0, 0},
        {"channel read fails: level 0", true, 0, 1, 0, 0, 0},
        {"no channels, a null array: level 0, nothing to release", true, 0, 0, 1, 0, 0},
        {"key controller not ready: nothing read", false, 0, 0, 0, -1, 0},
    };
    for (const auto& c : cases) {
        ClearNotebook(s, c.what);
        s->mixerMax = 65535;
        s->channelCount = c.nullArray ? 0 : 2;
        s->channels[0] = 100;
        s->channels[1] = 30000;
        s->emptyArrayIsNull = c.nullArray;
        s->failGetMaxMin = c.failMaxMin;
        s->failGetValue = c.failValue;
        s->ledLevel = 9;
        g_keyControllerReady = false;
        if (c.ready)
            StartKeyController();  // the stand-in gives port access only after a real start
        ASSERT_EQ(c.ready, g_keyControllerReady) << c.what;
        g_lastLedLevel = 0xFF;
        EXPECT_EQ(c.level >= 0, UpdateLegacyLed()) << c.what;
        EXPECT_EQ(c.level < 0 ? 9u : (uint32_t)c.level, s->ledLevel) << c.what;
        EXPECT_EQ(c.level < 0 ? 0u : 1u, s->ledCommands) << c.what;
        EXPECT_EQ(c.ready ? 1 : 0, s->maxMinCalls) << c.what;
        EXPECT_EQ(c.frees, s->freeCalls) << c.what;
        EXPECT_EQ(0, s->arraysOutstanding) << c.what;
    }
}

TEST_F(LegacyUpdateTest, AVolumeChangeDispatchedInsideALibraryCallReturnsAtOnce)
{
    // The legacy build updates straight from the message, without a refresh guard: the update
    // guard alone keeps a nested update out of a running one.
    const struct {
        const char* what;
        SimReenterPoint point;
        uint32_t at;  // the how-many-th call of that kind pumps
    } cases[] = {
        {"Oskal_GetMaxMinValue pumps", kReenterInMixerRange, 1},
        {"Fennick pumps as the first data byte is written", kReenterInPortWrite, 2},
        {"Fennick pumps at the flush's status read", kReenterInPortRead, 1},
    };
    HWND window = CreateAgentTestWindow();
    ASSERT_NE(nullptr, window);
    g_tickCountSeam = [] { return (DWORD)10000; };  // one moment: a repeat is held back
    for (const auto& c : cases) {
        ClearNotebook(s, c.what);
        g_keyControllerReady = false;
        StartKeyController();
        g_lastLedLevel = 0xFF;
        s->mixerMax = 65535;
        s->channelCount = 1;
        s->channels[0] = 30000;  // level 3 by the legacy rule
        ExpectOneCommandThoughReentered(window, s, c.what, c.point, c.at,
                                        &NotebookState::maxMinCalls);
    }
    DestroyWindow(window);
}
