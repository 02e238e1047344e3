#include "led_policy.h"
#include <stdint.h>
#include "audio_backend.h"
#include "led_update.h"
#include "mixer.h"

static bool s_refreshing;

// Level i covers percentages from bound i (inclusive) to bound i + 1 (exclusive).
static const DWORD kBandBounds[8] = {0, 11, 20, 40, 61, 80, 99, 101};

// 0.01f (0x3C23D70A) is kHundredthMantissa * kHundredthScale exactly.
static constexpr uint64_t kHundredthMantissa = 10737418;
static constexpr float kHundredthScale = 1.0f / 1073741824.0f;  // 2^-30
static_assert(0.01f == kHundredthMantissa * (double)kHundredthScale, "0.01f split exactly");

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
    // One percent of the range, rounded once to single precision. The single-precision 0.01
    // is exactly kHundredthMantissa / 2^30, so the product is an exact 64-bit integer; its one
    // conversion to float is the one rounding on every FPU (a product in double would round
    // twice under SSE2), and the scaling by a power of two is exact. Volatile: on x87 a float
    // may otherwise stay in an 80-bit register unrounded.
    volatile float mantissaProduct = (float)(int64_t)((uint64_t)range * kHundredthMantissa);
    volatile float step = mantissaProduct * kHundredthScale;
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
