// The mixer library as both builds read it: the range of the volume control and its highest
// channel value, with the fixed selectors 0, 0, 1. Each build has its own access to the
// library (the full build through its table of slots in audio_backend.cpp, the legacy build
// linked at load time in lifecycle_legacy.cpp); each access yields 0 where the library cannot
// be reached.
#pragma once
#include <windows.h>

int MixerGetMaxMinValue(UINT mixer, UINT line, UINT control, DWORD* maximum, DWORD* minimum,
                        UINT flags);
int MixerGetValue(UINT mixer, UINT line, UINT control, DWORD** values, DWORD* count);
// Hands back an array from MixerGetValue (the legacy build skips a null one).
void MixerFreeValueItems(DWORD* values);

// The range and the highest channel value; false when either read fails. The channel array
// is handed back in the same call.
bool ReadMixer(DWORD* maximum, DWORD* minimum, DWORD* highest);
