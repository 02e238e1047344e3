// The full build's volume-to-LED policy: bands, mixer percentages, the repeat rule, and reads
// through the bound stand-in libraries.
#include "agent_unit.h"
#include "audio_backend.h"
#include "led_channel.h"
#include "led_policy.h"
#include "led_update.h"

static DWORD s_now;           // the tick count the policy sees
const uint32_t kNoLevel = 9;  // the EC's LED level before any command

class LedPolicyTest : public AgentUnitTest {
protected:
    void SetUp() override
    {
        AgentUnitTest::SetUp();
        g_tickCountSeam = [] { return s_now; };
        StartKeyController();  // the stand-in gives port access only after a real start
        ASSERT_TRUE(g_keyControllerReady);
    }
    // As before the first update: no command sent yet, an empty EC trace.
    void ForgetLastCommand()
    {
        g_lastLedLevel = 0xFF;
        SimClearEc(s);
        s->ledLevel = kNoLevel;
    }
};

TEST(LevelForPercentTest, Bands)
{
    const struct {
        DWORD full, floor, percent;
        BYTE level;
    } cases[] = {
        {100, 0, 0, 0},   {100, 0, 10, 0},  {100, 0, 11, 1},  {100, 0, 19, 1},
        {100, 0, 20, 2},  {100, 0, 39, 2},  {100, 0, 40, 3},  {100, 0, 60, 3},
        {100, 0, 61, 4},  {100, 0, 79, 4},  {100, 0, 80, 5},  {100, 0, 98, 5},
        {100, 0, 99, 6},  {100, 0, 100, 6}, {100, 0, 150, 6}, {100, 0, (DWORD)-5, 6},
        {100, 30, 30, 0}, {100, 30, 31, 2}, {50, 0, 50, 6},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.level, LevelForPercent(c.full, c.floor, c.percent))
            << "percent " << (int)c.percent << " of " << c.floor << ".." << c.full;
}

TEST(MixerPercentTest, StepsOfAHundredthOfTheRange)
{
    const struct {
        DWORD maximum, minimum, value;
        int percent;  // -1: a failed read
        BYTE level;
    } cases[] = {
        {65535, 0, 0, 0, 0},
        {65535, 0, 327, 0, 0},
        {65535, 0, 328, 1, 0},
        {65535, 0, 6881, 10, 0},
        {65535, 0, 6882, 11, 1},
        {65535, 0, 32768, 50, 3},
        {65535, 0, 64552, 98, 5},
        {65535, 0, 64553, 99, 6},
        {65535, 0, 65535, 100, 6},
        {1099, 100, 500, 50, 3},  // the minimum is not subtracted from the value
        {0xFFFFFFFF, 0, 100, -1, 0},
        {4, 5, 100, -1, 0},                 // maximum - minimum + 1 wraps to 0
        {0, 0, 0xFFFFFFFF, 0x7FFFFFFF, 6},  // far beyond 100 %: the largest percentage
        // Ranges whose step rounded twice (through double, as SSE2 computes it) is another
        // float; each value lies between 98.5 steps of the two, so the level differs too.
        {1834308940, 0, 1806794266, 98, 5},  // step 18343090, not 18343088
        {2460658354, 0, 2423748425, 99, 6},  // step 24606582, not 24606584
        {3668617881, 0, 3613588533, 98, 5},  // step 36686180, not 36686176
        {4071271090, 0, 4010201935, 99, 6},  // step 40712708, not 40712712
    };
    for (const auto& c : cases) {
        int percent = -1;
        EXPECT_EQ(c.percent >= 0, MixerPercent(c.maximum, c.minimum, c.value, &percent))
            << "value " << c.value << " of " << c.minimum << ".." << c.maximum;
        EXPECT_EQ(c.percent, percent)
            << "value " << c.value << " of " << c.minimum << ".." << c.maximum;
        if (c.percent >= 0) {
            EXPECT_EQ(c.level, LevelForPercent(100, 0, (DWORD)percent)) << "value " << c.value;
        }
    }
}

TEST_F(LedPolicyTest, RepeatRule)
{
    const struct {
        const char* what;
        uint32_t firstEc;  // EC behaviour during the first command
        DWORD firstTime, firstPercent, secondTime, secondPercent;
        bool secondSent;
        uint32_t commands;  // complete LED commands the EC got
    } cases[] = {
        {"same level at T + 500 ms", kEcIdle, 10000, 50, 10500, 55, false, 1},
        {"same level at T + 501 ms", kEcIdle, 10000, 50, 10501, 55, true, 2},
        {"another level at T + 1 ms", kEcIdle, 10000, 50, 10001, 65, true, 2},
        {"level 0 first, then again at once", kEcIdle, 10000, 0, 10000, 0, false, 1},
        {"same level at T + 500 ms across the wrap", kEcIdle, 0xFFFFFF00, 50, 0xF4, 50, false, 1},
        {"same level at T + 501 ms across the wrap", kEcIdle, 0xFFFFFF00, 50, 0xF5, 50, true, 2},
        {"a failed command counts as sent", kEcInputNeverClears, 1000, 50, 1200, 50, false, 0},
    };
    for (const auto& c : cases) {
        ForgetLastCommand();
        s->ecBehaviour = c.firstEc;
        s_now = c.firstTime;
        EXPECT_TRUE(UpdateLed(100, 0, c.firstPercent)) << c.what;
        s->ecBehaviour = kEcIdle;
        s_now = c.secondTime;
        EXPECT_EQ(c.secondSent, UpdateLed(100, 0, c.secondPercent)) << c.what;
        EXPECT_EQ(c.commands, s->ledCommands) << c.what << ": EC commands";
        DWORD lastSent = c.secondSent ? c.secondPercent : c.firstPercent;
        EXPECT_EQ(c.commands ? LevelForPercent(100, 0, lastSent) : kNoLevel, s->ledLevel) << c.what;
        EXPECT_EQ(c.secondSent ? c.secondTime : c.firstTime, g_lastLedSendTime)
            << c.what << ": a dropped update keeps the last send time";
    }
}

TEST_F(LedPolicyTest, MixerModeReadsTheHighestChannel)
{
    g_backEndMode = kMixerMode;
    ASSERT_TRUE(BindAudioBackEnd()) << "Oskal.dll beside the test program";
    const struct {
        const char* what;
        DWORD maximum;
        std::vector<DWORD> channels;
        uint32_t nullWhenEmpty, failMaxMin, failValue;
        int level;  // -1: nothing sent
        LONG frees;
    } cases[] = {
        {"left 1000, right 40000: the higher decides", 65535, {1000, 40000}, 0, 0, 0, 4, 1},
        {"three channels, highest last", 65535, {10, 20, 64553}, 0, 0, 0, 6, 1},
        {"channel values compared unsigned", 0xFFFFFFFE, {1, 0x80000000u}, 0, 0, 0, 3, 1},
        {"no channels: 0 %", 65535, {}, 0, 0, 0, 0, 1},
        {"no channels and a null array: 0 %", 65535, {}, 1, 0, 0, 0, 1},
        {"range that wraps to 0: nothing sent", 0xFFFFFFFF, {40000}, 0, 0, 0, -1, 1},
        {"range read fails: no channel read", 65535, {65535}, 0, 1, 0, -1, 0},
        {"channel read fails: nothing to release", 65535, {65535}, 0, 0, 1, -1, 0},
    };
    for (const auto& c : cases) {
        ForgetLastCommand();
        s->mixerMax = c.maximum;
        s->channelCount = (uint32_t)c.channels.size();
        for (size_t i = 0; i < c.channels.size(); i++) s->channels[i] = c.channels[i];
        s->emptyArrayIsNull = c.nullWhenEmpty;
        s->failGetMaxMin = c.failMaxMin;
        s->failGetValue = c.failValue;
        s->freeCalls = 0;
        RefreshLedLevel();
        EXPECT_EQ(c.level < 0 ? 0u : 1u, s->ledCommands) << c.what << ": " << TraceText(s);
        EXPECT_EQ(c.level < 0 ? kNoLevel : (uint32_t)c.level, s->ledLevel) << c.what;
        EXPECT_EQ(c.frees, s->freeCalls) << c.what << ": arrays released";
        EXPECT_EQ(0, s->arraysOutstanding) << c.what;
    }
    EXPECT_EQ(0u, s->lastSelectors[0]);
    EXPECT_EQ(0u, s->lastSelectors[1]);
    EXPECT_EQ(1u, s->lastSelectors[2]);
}

TEST_F(LedPolicyTest, EndpointModeTakesThePercentageUnchanged)
{
    g_backEndMode = kEndpointMode;
    ASSERT_TRUE(BindAudioBackEnd()) << "Pernet.dll beside the test program";
    const struct {
        int volume;
        uint32_t fail;
        int level;  // -1: nothing sent
    } cases[] = {
        {0, 0, 0}, {11, 0, 1}, {60, 0, 3}, {99, 0, 6}, {-1, 0, 6}, {250, 0, 6}, {50, 1, -1},
    };
    for (const auto& c : cases) {
        ForgetLastCommand();
        s->volume = c.volume;
        s->failGetVolume = c.fail;
        RefreshLedLevel();
        EXPECT_EQ(c.level < 0 ? 0u : 1u, s->ledCommands) << "volume " << c.volume;
        EXPECT_EQ(c.level < 0 ? kNoLevel : (uint32_t)c.level, s->ledLevel) << "volume " << c.volume;
    }
}
