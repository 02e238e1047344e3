// Volume-to-LED policy: volume to percentage, percentage to LED level 0..6, repeat rule, send.
#pragma once
#include <windows.h>

const BYTE kEcLedCommand = 0x45;
const BYTE kEcLedSelector = 0x8B;
const DWORD kRepeatHoldMs = 500;

// Last LED command attempted (0xFF: none yet) and when, by the tick count.
extern BYTE g_lastLedLevel;
extern DWORD g_lastLedSendTime;
// Replaces GetTickCount when set (unit tests).
extern DWORD (*g_tickCountSeam)(void);

BYTE LevelForPercent(DWORD full, DWORD floor, DWORD percent);
bool UpdateLed(DWORD full, DWORD floor, DWORD percent);

#ifdef LUMETTA_LEGACY
// The legacy build's own rule: a fifth of the mixer range per level, rounded up.
BYTE LegacyLevelForMixer(DWORD maximum, DWORD minimum, DWORD highest);
#else
// Percentage of a mixer channel value; false when the range wraps to an empty one.
bool MixerPercent(DWORD maximum, DWORD minimum, DWORD highest, int *percent);
bool ReadVolumePercent(int *percent);
void RefreshLedLevel();
#endif
