// The outside libraries the volume LED agent calls, as it calls them: the key controller
// (Fennick, linked at load time by both builds), the mixer (Oskal: linked by the legacy build,
// bound at run time by the full one) and the endpoint volume (Pernet, bound at run time). One
// declaration each, for the agent's calls and slots and for the stand-ins' definitions.
#pragma once
#include <windows.h>

extern "C" {
int WINAPI Fennick_Init(const char* configPath);
int WINAPI Fennick_LoadDriver(void);
int WINAPI Fennick_UnLoadDriver(void);
int WINAPI Fennick_InputByteValue(DWORD port, BYTE* value);
int WINAPI Fennick_OutputByteValue(DWORD port, DWORD value, BYTE* scratch);

int WINAPI Oskal_HookDevice(HWND window, UINT device);
int WINAPI Oskal_UnHookDevice(HWND window, UINT device);
int WINAPI Oskal_GetMaxMinValue(UINT mixer, UINT line, UINT control, DWORD* maximum, DWORD* minimum,
                                UINT flags);
int WINAPI Oskal_GetValue(UINT mixer, UINT line, UINT control, DWORD** values, DWORD* count);
int WINAPI Oskal_FreeValueItems(DWORD* values);

int WINAPI Pernet_InitEx(HWND window, UINT changedMessage, UINT removedMessage);
int WINAPI Pernet_DeInit(void);
int WINAPI Pernet_GetVolumeLevel(int* percent);
int WINAPI Pernet_Register(HWND window, UINT volumeMessage);
int WINAPI Pernet_Unregister(HWND window, UINT volumeMessage);
int WINAPI Pernet_OnDefaultDeviceChanged(void);
int WINAPI Pernet_OnDeviceRemoved(void);
}
