// The legacy build's level rule and update, reading the mixer through the linked stand-in.
#include "agent_harness.h"
#include "led_channel.h"
#include "led_update.h"
#include "legacy.h"

TEST(LegacyLevelTest, FifthOfTheRangeRoundedUp)
{
    const struct {
        DWORD maximum, minimum, highest;
        BYTE level;
    } cases[] = {
        {65535, 0, 0, 0},     {65535, 0, 1, 1},     {65535, 0, 5, 1},     {65535, 0, 13107, 1},
        {65535, 0, 13108, 2}, {65535, 0, 39321, 3}, {65535, 0, 65534, 5}, {65535, 0, 65535, 6},
        {99, 0, 99, 6},       {99, 0, 98, 5},       {100, 0, 100, 6},     {3, 0, 2, 0},
        {99, 50, 60, 6},      {0xFFFFFFFF, 0, 5, 0}, {1000, 0, 5000, 6},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.level, LegacyLevelForMixer(c.maximum, c.minimum, c.highest))
            << "range " << c.minimum << ".." << c.maximum << ", highest " << c.highest;
}

using LegacyUpdateTest = NotebookTest;

TEST_F(LegacyUpdateTest, ReadsTheMixerAndSendsTheLevel)
{
    const struct {
        const char *what;
        bool ready;
        uint32_t failMaxMin, failValue, nullArray;
        int level;   // -1: nothing sent
        LONG frees;
    } cases[] = {
        {"left 100, right 30000 of 0..65535", true, 0, 0, 0, 3, 1},
        {"range read fails: level 0", true, 1, 0, 0, 0, 0},
        {"channel read fails: level 0", true, 0, 1, 0, 0, 0},
        {"no channels, a null array: level 0, nothing to release", true, 0, 0, 1, 0, 0},
        {"key controller not ready: nothing read", false, 0, 0, 0, -1, 0},
    };
    g_ecPauseSeam = [](DWORD) {};   // no 10 ms pauses
    for (const auto &c : cases) {
        memset(s, 0, sizeof *s);
        s->mixerMax = 65535;
        s->channelCount = c.nullArray ? 0 : 2;
        s->channels[0] = 100;
        s->channels[1] = 30000;
        s->emptyArrayIsNull = c.nullArray;
        s->failGetMaxMin = c.failMaxMin;
        s->failGetValue = c.failValue;
        s->ledLevel = 9;
        g_keyControllerReady = c.ready;
        g_lastLedLevel = 0xFF;
        EXPECT_EQ(c.level >= 0, UpdateLegacyLed()) << c.what;
        EXPECT_EQ(c.level < 0 ? 9u : (uint32_t)c.level, s->ledLevel) << c.what;
        EXPECT_EQ(c.level < 0 ? 0u : 1u, s->ledCommands) << c.what;
        EXPECT_EQ(c.ready ? 1 : 0, s->maxMinCalls) << c.what;
        EXPECT_EQ(c.frees, s->freeCalls) << c.what;
        EXPECT_EQ(0, s->arraysOutstanding) << c.what;
    }
}
