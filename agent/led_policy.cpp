#include "led_policy.h"
#include "audio_backend.h"
#include "led_channel.h"

BYTE g_lastLedLevel = 0xFF;
DWORD g_lastLedSendTime;
DWORD (*g_tickCountSeam)(void);

static bool s_updating;
#ifndef LUMETTA_LEGACY
static bool s_refreshing;
#endif

// Level i covers percentages from bound i (inclusive) to bound i + 1 (exclusive).
static const DWORD kBandBounds[8] = {0, 11, 20, 40, 61, 80, 99, 101};

static DWORD TickCount() { return g_tickCountSeam ? g_tickCountSeam() : GetTickCount(); }

BYTE LevelForPercent(DWORD full, DWORD floor, DWORD percent)
{
    if (percent <= floor)
        return 0;
    if (percent >= full)
        return 6;
    for (BYTE level = 0; level < 7; level++) {
        if (kBandBounds[level] <= percent && percent < kBandBounds[level + 1])
            return level;
    }
    return 0;
}

// The greatest channel value, compared unsigned, from 0.
static DWORD HighestChannel(const DWORD *values, DWORD count)
{
    DWORD highest = 0;
    for (DWORD i = 0; values && i < count; i++) {
        if (values[i] > highest)
            highest = values[i];
    }
    return highest;
}

#ifdef LUMETTA_LEGACY

BYTE LegacyLevelForMixer(DWORD maximum, DWORD minimum, DWORD highest)
{
    DWORD step = (maximum - minimum + 1) / 5;
    if (step == 0)
        return 0;
    DWORD level = highest / step + (highest % step ? 1 : 0);
    if (highest == maximum || level > 6)
        return 6;
    return (BYTE)level;
}

// Reads the mixer itself; a failed read gives level 0, which is sent like any other.
static BYTE ComputeLevel(DWORD, DWORD, DWORD)
{
    DWORD maximum = 0, minimum = 0, count = 0;
    DWORD *values = nullptr;
    if (!MixerGetMaxMinValue(&maximum, &minimum) || !MixerGetValue(&values, &count))
        return 0;
    DWORD highest = HighestChannel(values, count);
    if (values)
        MixerFreeValueItems(values);
    return LegacyLevelForMixer(maximum, minimum, highest);
}

#else

static BYTE ComputeLevel(DWORD full, DWORD floor, DWORD percent)
{
    return LevelForPercent(full, floor, percent);
}

bool MixerPercent(DWORD maximum, DWORD minimum, DWORD highest, int *percent)
{
    DWORD range = maximum - minimum + 1;
    if (range == 0)
        return false;   // the full 32-bit range wraps to 0: no step to divide by
    // One percent of the range, rounded to single precision (volatile: on x87 a float may
    // otherwise stay in an 80-bit register unrounded).
    volatile float step = (float)((double)range * (double)0.01f);
    double value = (double)highest / (double)step + 0.5;
    *percent = value >= 2147483647.0 ? 0x7FFFFFFF : (int)value;
    return true;
}

bool ReadVolumePercent(int *percent)
{
    if (g_backEndMode == EndpointMode)
        return EndpointGetVolumeLevel(percent) != 0;
    DWORD maximum = 0, minimum = 0, count = 0;
    DWORD *values = nullptr;
    if (!MixerGetMaxMinValue(&maximum, &minimum) || !MixerGetValue(&values, &count))
        return false;
    DWORD highest = HighestChannel(values, count);
    MixerFreeValueItems(values);
    return MixerPercent(maximum, minimum, highest, percent);
}

void RefreshLedLevel()
{
    if (s_refreshing)
        return;
    s_refreshing = true;
    int percent = 0;
    if (ReadVolumePercent(&percent))
        UpdateLed(100, 0, (DWORD)percent);
    s_refreshing = false;
}

#endif

bool UpdateLed(DWORD full, DWORD floor, DWORD percent)
{
    if (s_updating)
        return false;
    s_updating = true;
    if (!g_keyControllerReady) {
        s_updating = false;
        return false;
    }
    BYTE level = ComputeLevel(full, floor, percent);
    // A repeat of the same level goes out again only after more than 500 ms; the unsigned
    // difference stays right across the tick counter's wrap.
    if (level == g_lastLedLevel && TickCount() - g_lastLedSendTime <= kRepeatHoldMs) {
        s_updating = false;
        return false;
    }
    g_lastLedLevel = level;
    g_lastLedSendTime = TickCount();
    SendEcCommand(kEcLedCommand, kEcLedSelector, level);
    s_updating = false;
    return true;
}
