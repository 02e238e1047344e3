// The legacy build's volume-to-LED policy: its own level rule over the mixer's range, and its
// LED update.
#pragma once
#include <windows.h>

// A fifth of the mixer range per level, rounded up; the maximum itself is level 6.
BYTE LegacyLevelForMixer(DWORD maximum, DWORD minimum, DWORD highest);
// The shared update with the level read from the mixer (level 0 when a read fails); nothing
// is read while the key controller is not ready. True when an LED command was attempted.
bool UpdateLegacyLed();
