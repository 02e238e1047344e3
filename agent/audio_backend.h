// Audio back-end binding of the full build: the legacy mixer library Oskal or the
// endpoint-volume library Pernet, loaded at run time and called through tables of slots.
#pragma once
#include <windows.h>

// Messages the endpoint library is told to post to the agent's window.
const UINT kEndpointVolumeMsg = WM_USER + 10;         // 0x040A
const UINT kDefaultDeviceChangedMsg = WM_USER + 167;  // 0x04A7
const UINT kDeviceRemovedMsg = WM_USER + 168;         // 0x04A8
const DWORD kLibraryPathSize = 260;

enum BackEndMode {
    kMixerMode,
    kEndpointMode
};
// Chosen once while the window is created, by ChooseBackEndMode; read by the refresh.
extern BackEndMode g_backEndMode;

// Endpoint mode from Windows Vista (major version 6) on, mixer mode before.
void ChooseBackEndMode();

// Writes the path of Pernet.dll in the directory of programFile into out (kLibraryPathSize
// bytes); false when programFile has no backslash or the path would not fit.
bool BuildEndpointLibraryPath(const char* programFile, char* out);

bool BindAudioBackEnd();
void UnbindAudioBackEnd();
bool RegisterVolumeNotifications(HWND window);
int UnregisterVolumeNotifications(HWND window);
void ForwardDefaultDeviceChanged();
void ForwardDeviceRemoved();

// The endpoint library's volume in percent; 0 when the function is not bound. The mixer's
// calls are in mixer.h.
int EndpointGetVolumeLevel(int* percent);
