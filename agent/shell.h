// Agent shell: the single-instance entry, the hidden window and the routing of its messages to
// the build's lifecycle (lifecycle.h).
#pragma once
#include <windows.h>

const char kAgentWindowName[] = "LumettaApp";  // class and title alike
const UINT kVolumeChangedMsg = WM_USER;        // 0x0400: refresh the LED
const UINT kCloseRequestMsg = WM_USER + 1;     // 0x0401: shut the agent down

// The program's instance, stored by WinMain before the window is created.
extern HINSTANCE g_programInstance;

LRESULT CALLBACK AgentWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
