#include "led_policy.h"
#include "audio_backend.h"
#include "led_update.h"
#include "mixer.h"

static bool s_refreshing;

// Level i covers percentages from bound i (inclusive) to bound i + 1 (exclusive).
static const DWORD kBandBounds[8] = {0, 11, 20, 40, 61, 80, 99, 101};

BYTE LevelForPercent(DWORD full, DWORD floor, DWORD percent)
{
    if (percent <= floor) return 0;
    if (percent >= full) return 6;
    for (BYTE level = 0; level < 7; level++) {
        if (kBandBounds[level] <= percent && percent < kBandBounds[level + 1]) return level;
    }
    return 0;
}

bool UpdateLed(DWORD full, DWORD floor, DWORD percent)
{
    if (!BeginLedUpdate()) return false;
    bool sent = SendLedLevel(LevelForPercent(full, floor, percent));
    EndLedUpdate();
    return sent;
}

bool MixerPercent(DWORD maximum, DWORD minimum, DWORD highest, int* percent)
{
    DWORD range = maximum - minimum + 1;
    if (range == 0) return false;  // the full 32-bit range wraps to 0: no step to divide by
    // One percent of the range, rounded to single precision (volatile: on x87 a float may
    // otherwise stay in an 80-bit register unrounded).
    volatile float step = (float)((double)range * (double)0.01f);
    double value = (double)highest / (double)step + 0.5;
    *percent = value >= 2147483647.0 ? 0x7FFFFFFF : (int)value;
    return true;
}

bool ReadVolumePercent(int* percent)
{
    if (g_backEndMode == kEndpointMode) return EndpointGetVolumeLevel(percent) != 0;
    DWORD maximum = 0, minimum = 0, highest = 0;
    return ReadMixer(&maximum, &minimum, &highest) &&
           MixerPercent(maximum, minimum, highest, percent);
}

void RefreshLedLevel()
{
    if (s_refreshing) return;
    s_refreshing = true;
    int percent = 0;
    if (ReadVolumePercent(&percent)) UpdateLed(100, 0, (DWORD)percent);
    s_refreshing = false;
}
