// Audio back-end binding of the full build: the legacy mixer library Oskal or the
// endpoint-volume library Pernet, loaded at run time and called through tables of slots.
#pragma once
#include <windows.h>

// Messages the endpoint library is told to post to the agent's window.
const UINT kEndpointVolumeMsg = WM_USER + 10;        // 0x040A
const UINT kDefaultDeviceChangedMsg = WM_USER + 167; // 0x04A7
const UINT kDeviceRemovedMsg = WM_USER + 168;        // 0x04A8
const DWORD kLibraryPathSize = 260;

enum BackEndMode { kMixerMode, kEndpointMode };
extern BackEndMode g_backEndMode;   // chosen once while the window is created

// Writes the path of Pernet.dll in the directory of programFile into out (kLibraryPathSize
// bytes); false when programFile has no backslash or the path would not fit.
bool BuildEndpointLibraryPath(const char *programFile, char *out);

bool BindAudioBackEnd();
void UnbindAudioBackEnd();
bool RegisterVolumeNotifications(HWND window);
int UnregisterVolumeNotifications(HWND window);
void ForwardDefaultDeviceChanged();
void ForwardDeviceRemoved();

// Library calls for reading the volume; 0 when the function is not bound.
int MixerGetMaxMinValue(DWORD *maximum, DWORD *minimum);
int MixerGetValue(DWORD **values, DWORD *count);
void MixerFreeValueItems(DWORD *values);
int EndpointGetVolumeLevel(int *percent);
