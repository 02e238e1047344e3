// The legacy build's level rule and update, reading the mixer through the linked stand-in.
#include "agent_harness.h"
#include "led_channel.h"
#include "led_policy.h"
#include <gtest/gtest.h>

static void NoPause(DWORD) {}

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

class LegacyUpdateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        s = OpenTestNotebook();
        ASSERT_NE(nullptr, s);
        g_ecPauseSeam = NoPause;
        g_keyControllerReady = true;
        g_lastLedLevel = 0xFF;
        s->mixerMax = 65535;
        s->channelCount = 2;
        s->channels[0] = 100;
        s->channels[1] = 30000;
    }
    void TearDown() override { g_ecPauseSeam = nullptr; }
    NotebookState *s = nullptr;
};

TEST_F(LegacyUpdateTest, ReadsTheMixerAndSendsTheLevel)
{
    EXPECT_TRUE(UpdateLed(100, 0, 0));
    EXPECT_EQ(3u, s->ledLevel) << "30000 of 0..65535";
    EXPECT_EQ(1, s->freeCalls);
    EXPECT_EQ(0, s->arraysOutstanding);
}

TEST_F(LegacyUpdateTest, FailedReadsSendLevelZero)
{
    const struct {
        const char *what;
        uint32_t failMaxMin, failValue;
    } cases[] = {{"range read fails", 1, 0}, {"channel read fails", 0, 1}};
    for (const auto &c : cases) {
        g_lastLedLevel = 0xFF;
        SimClearEc(s);
        s->ledLevel = 9;
        s->failGetMaxMin = c.failMaxMin;
        s->failGetValue = c.failValue;
        EXPECT_TRUE(UpdateLed(100, 0, 0)) << c.what;
        EXPECT_EQ(1u, s->ledCommands) << c.what;
        EXPECT_EQ(0u, s->ledLevel) << c.what;
    }
}

TEST_F(LegacyUpdateTest, NullArrayIsNotReleased)
{
    s->channelCount = 0;
    s->emptyArrayIsNull = 1;
    EXPECT_TRUE(UpdateLed(100, 0, 0));
    EXPECT_EQ(0, s->freeCalls);
    EXPECT_EQ(0u, s->ledLevel);
}

TEST_F(LegacyUpdateTest, NothingIsReadWhileTheKeyControllerIsNotReady)
{
    g_keyControllerReady = false;
    EXPECT_FALSE(UpdateLed(100, 0, 0));
    EXPECT_EQ(0, s->maxMinCalls);
    EXPECT_EQ(0, s->traceCount);
}
