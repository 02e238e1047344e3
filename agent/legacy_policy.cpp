#include "legacy_policy.h"
#include "led_update.h"
#include "mixer.h"

BYTE LegacyLevelForMixer(DWORD maximum, DWORD minimum, DWORD highest)
{
    DWORD step = (maximum - minimum + 1) / 5;
    if (step == 0) return 0;
    DWORD level = highest / step + (highest % step ? 1 : 0);
    if (highest == maximum || level > 6) return 6;
    return (BYTE)level;
}

bool UpdateLegacyLed()
{
    if (!BeginLedUpdate()) return false;
    // A failed read gives level 0, which is sent like any other.
    DWORD maximum = 0, minimum = 0, highest = 0;
    BYTE level = ReadMixer(&maximum, &minimum, &highest)
                     ? LegacyLevelForMixer(maximum, minimum, highest)
                     : 0;
    bool sent = SendLedLevel(level);
    EndLedUpdate();
    return sent;
}
