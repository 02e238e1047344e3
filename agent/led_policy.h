// Volume-to-LED policy of the full build: the volume as a percentage, the percentage as an LED
// level 0..6 by the band table, and the refresh that runs for each volume-changed message.
#pragma once
#include <windows.h>

BYTE LevelForPercent(DWORD full, DWORD floor, DWORD percent);
// The shared update with the band table's level; true when an LED command was attempted.
bool UpdateLed(DWORD full, DWORD floor, DWORD percent);
// Percentage of a mixer channel value; false when the range wraps to an empty one.
bool MixerPercent(DWORD maximum, DWORD minimum, DWORD highest, int* percent);
bool ReadVolumePercent(int* percent);
// The volume-changed message: read the volume, update the LED; nested calls return at once.
void RefreshLedLevel();
