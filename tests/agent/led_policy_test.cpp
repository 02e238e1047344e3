// The full build's volume-to-LED policy: bands, mixer percentages, the repeat rule, and reads
// through the bound stand-in libraries.
#include "agent_harness.h"
#include "audio_backend.h"
#include "led_channel.h"
#include "led_policy.h"
#include <gtest/gtest.h>

static DWORD s_now;
static DWORD FakeTick() { return s_now; }
static void NoPause(DWORD) {}

class LedPolicyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        s = OpenTestNotebook();
        ASSERT_NE(nullptr, s);
        g_ecPauseSeam = NoPause;
        g_tickCountSeam = FakeTick;
        g_keyControllerReady = true;
        g_lastLedLevel = 0xFF;
        g_lastLedSendTime = 0;
    }
    void TearDown() override
    {
        UnbindAudioBackEnd();
        g_tickCountSeam = nullptr;
        g_ecPauseSeam = nullptr;
    }
    void Bind(BackEndMode mode)
    {
        g_backEndMode = mode;
        ASSERT_TRUE(BindAudioBackEnd()) << "stand-in library beside the test program";
    }
    NotebookState *s = nullptr;
};

TEST(LevelForPercentTest, Bands)
{
    const struct {
        DWORD percent;
        BYTE level;
    } cases[] = {
        {0, 0}, {10, 0}, {11, 1}, {19, 1}, {20, 2}, {39, 2}, {40, 3}, {60, 3}, {61, 4},
        {79, 4}, {80, 5}, {98, 5}, {99, 6}, {100, 6}, {150, 6}, {(DWORD)-5, 6},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.level, LevelForPercent(100, 0, c.percent)) << "percent " << (int)c.percent;
}

TEST(LevelForPercentTest, FloorAndFullScale)
{
    EXPECT_EQ(0, LevelForPercent(100, 30, 30)) << "at the floor";
    EXPECT_EQ(2, LevelForPercent(100, 30, 31)) << "above the floor, by the band table";
    EXPECT_EQ(6, LevelForPercent(50, 0, 50)) << "at full scale";
}

TEST(MixerPercentTest, RangeZeroTo65535)
{
    const struct {
        DWORD value;
        int percent;
        BYTE level;
    } cases[] = {
        {0, 0, 0}, {327, 0, 0}, {328, 1, 0}, {6881, 10, 0}, {6882, 11, 1}, {32768, 50, 3},
        {64552, 98, 5}, {64553, 99, 6}, {65535, 100, 6},
    };
    for (const auto &c : cases) {
        int percent = -1;
        ASSERT_TRUE(MixerPercent(65535, 0, c.value, &percent)) << "value " << c.value;
        EXPECT_EQ(c.percent, percent) << "value " << c.value;
        EXPECT_EQ(c.level, LevelForPercent(100, 0, (DWORD)percent)) << "value " << c.value;
    }
}

TEST(MixerPercentTest, MinimumIsNotSubtracted)
{
    int percent = -1;
    ASSERT_TRUE(MixerPercent(1099, 100, 500, &percent));
    EXPECT_EQ(50, percent) << "500 of a 1000-step range";
}

TEST(MixerPercentTest, RangeThatWrapsToZeroIsAFailedRead)
{
    int percent = 77;
    EXPECT_FALSE(MixerPercent(0xFFFFFFFF, 0, 100, &percent));
    EXPECT_FALSE(MixerPercent(4, 5, 100, &percent));
    EXPECT_EQ(77, percent) << "left untouched";
}

TEST_F(LedPolicyTest, RepeatRule)
{
    const struct {
        const char *what;
        DWORD firstTime, firstPercent, secondTime, secondPercent;
        bool secondSent;
    } cases[] = {
        {"same level at T + 500 ms", 10000, 50, 10500, 55, false},
        {"same level at T + 501 ms", 10000, 50, 10501, 55, true},
        {"another level at T + 1 ms", 10000, 50, 10001, 65, true},
        {"same level at once", 10000, 50, 10000, 50, false},
        {"same level at T + 500 ms across the wrap", 0xFFFFFF00, 50, 0xF4, 50, false},
        {"same level at T + 501 ms across the wrap", 0xFFFFFF00, 50, 0xF5, 50, true},
    };
    for (const auto &c : cases) {
        g_lastLedLevel = 0xFF;
        SimClearEc(s);
        s_now = c.firstTime;
        EXPECT_TRUE(UpdateLed(100, 0, c.firstPercent)) << c.what;
        s_now = c.secondTime;
        EXPECT_EQ(c.secondSent, UpdateLed(100, 0, c.secondPercent)) << c.what;
        EXPECT_EQ(c.secondSent ? 2u : 1u, s->ledCommands) << c.what << ": EC commands";
        EXPECT_EQ(c.secondSent ? c.secondTime : c.firstTime, g_lastLedSendTime)
            << c.what << ": a dropped update keeps the last send time";
    }
}

TEST_F(LedPolicyTest, DroppedUpdateDoesNotMoveTheSendTime)
{
    s_now = 1000;
    UpdateLed(100, 0, 50);
    s_now = 1400;
    EXPECT_FALSE(UpdateLed(100, 0, 50));
    s_now = 1501;
    EXPECT_TRUE(UpdateLed(100, 0, 50)) << "501 ms after the last send, 101 after the drop";
}

TEST_F(LedPolicyTest, FirstUpdateSendsLevelZero)
{
    s_now = 0;
    EXPECT_TRUE(UpdateLed(100, 0, 0));
    EXPECT_EQ(1u, s->ledCommands);
    EXPECT_EQ(0u, s->ledLevel);
}

TEST_F(LedPolicyTest, FailedCommandStillCountsAsSent)
{
    s->ecBehaviour = EcInputNeverClears;
    s_now = 1000;
    EXPECT_TRUE(UpdateLed(100, 0, 50));
    s->ecBehaviour = EcIdle;
    s_now = 1200;
    EXPECT_FALSE(UpdateLed(100, 0, 50)) << "level and time were recorded before the send";
    EXPECT_EQ(0u, s->ledCommands);
}

TEST_F(LedPolicyTest, NotReadyKeyControllerSkipsEverything)
{
    g_keyControllerReady = false;
    s_now = 1000;
    EXPECT_FALSE(UpdateLed(100, 0, 50));
    EXPECT_EQ(0, s->traceCount) << TraceText(s);
    EXPECT_EQ(0xFF, g_lastLedLevel);
    EXPECT_EQ(0u, g_lastLedSendTime);
}

struct MixerCase {
    const char *what;
    DWORD maximum, minimum;
    std::vector<DWORD> channels;
    bool nullWhenEmpty;
    int sentLevel;   // -1: nothing sent
};

TEST_F(LedPolicyTest, MixerModeReadsTheHighestChannel)
{
    Bind(MixerMode);
    const MixerCase cases[] = {
        {"left 1000, right 40000: the higher decides", 65535, 0, {1000, 40000}, false, 4},
        {"three channels, highest last", 65535, 0, {10, 20, 64553}, false, 6},
        {"channel values compared unsigned", 0xFFFFFFFE, 0, {1, 0x80000000u}, false, 3},
        {"no channels: 0 %", 65535, 0, {}, false, 0},
        {"no channels and a null array: 0 %", 65535, 0, {}, true, 0},
        {"range that wraps to 0: nothing sent", 0xFFFFFFFF, 0, {40000}, false, -1},
    };
    for (const MixerCase &c : cases) {
        g_lastLedLevel = 0xFF;
        SimClearEc(s);
        s->mixerMax = c.maximum;
        s->mixerMin = c.minimum;
        s->channelCount = (uint32_t)c.channels.size();
        for (size_t i = 0; i < c.channels.size(); i++)
            s->channels[i] = c.channels[i];
        s->emptyArrayIsNull = c.nullWhenEmpty;
        LONG freesBefore = s->freeCalls;
        RefreshLedLevel();
        if (c.sentLevel < 0) {
            EXPECT_EQ(0u, s->ledCommands) << c.what << ": " << TraceText(s);
        } else {
            EXPECT_EQ(1u, s->ledCommands) << c.what;
            EXPECT_EQ((uint32_t)c.sentLevel, s->ledLevel) << c.what;
        }
        EXPECT_EQ(freesBefore + 1, s->freeCalls) << c.what << ": the array is always released";
        EXPECT_EQ(0, s->arraysOutstanding) << c.what;
    }
    EXPECT_EQ(0u, s->lastSelectors[0]);
    EXPECT_EQ(0u, s->lastSelectors[1]);
    EXPECT_EQ(1u, s->lastSelectors[2]);
}

TEST_F(LedPolicyTest, MixerReadFailuresSendNothing)
{
    Bind(MixerMode);
    s->mixerMax = 65535;
    s->channelCount = 1;
    s->channels[0] = 65535;
    s->failGetMaxMin = 1;
    RefreshLedLevel();
    EXPECT_EQ(0, s->getValueCalls) << "no channel read after a failed range read";
    s->failGetMaxMin = 0;
    s->failGetValue = 1;
    RefreshLedLevel();
    EXPECT_EQ(0, s->freeCalls) << "nothing to release after a failed channel read";
    EXPECT_EQ(0, s->traceCount) << TraceText(s);
}

TEST_F(LedPolicyTest, EndpointModeTakesThePercentageUnchanged)
{
    Bind(EndpointMode);
    const struct {
        int volume;
        int level;
    } cases[] = {{0, 0}, {11, 1}, {60, 3}, {99, 6}, {-1, 6}, {250, 6}};
    for (const auto &c : cases) {
        g_lastLedLevel = 0xFF;
        SimClearEc(s);
        s->volume = c.volume;
        RefreshLedLevel();
        EXPECT_EQ(1u, s->ledCommands) << "volume " << c.volume;
        EXPECT_EQ((uint32_t)c.level, s->ledLevel) << "volume " << c.volume;
    }
    s->failGetVolume = 1;
    g_lastLedLevel = 0xFF;
    SimClearEc(s);
    RefreshLedLevel();
    EXPECT_EQ(0, s->traceCount) << "failed read: " << TraceText(s);
}
