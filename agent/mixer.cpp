#include "mixer.h"

// The greatest of count channel values, compared unsigned, from 0 (an empty list gives 0).
static DWORD HighestChannel(const DWORD* values, DWORD count)
{
    DWORD highest = 0;
    for (DWORD i = 0; values && i < count; i++)
        if (values[i] > highest) highest = values[i];
    return highest;
}

bool ReadMixer(DWORD* maximum, DWORD* minimum, DWORD* highest)
{
    DWORD count = 0;
    DWORD* values = nullptr;
    if (!MixerGetMaxMinValue(0, 0, 1, maximum, minimum, 0) ||
        !MixerGetValue(0, 0, 1, &values, &count))
        return false;
    *highest = HighestChannel(values, count);
    MixerFreeValueItems(values);
    return true;
}
