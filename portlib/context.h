// The library context, written only by context.cpp and read by every request.
#pragma once

#include <windows.h>

// Opens not yet matched by closes.
extern DWORD g_contextOpenCount;
// 1 when the last first open found the NT family.
extern DWORD g_contextNtFlag;
// The one driver device handle; valid while open on the NT family.
extern HANDLE g_contextDevice;
