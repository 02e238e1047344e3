// What each build does at each point of the agent window's life. The shell routes the
// messages; the full build's answers are in lifecycle_full.cpp, the legacy build's in
// lifecycle_legacy.cpp.
#pragma once
#include <windows.h>

// What the volume-changed message and the close request return.
extern const LRESULT kAgentMessageHandled;

// WM_CREATE: starts what the agent needs; 0, or -1 to refuse the window.
LRESULT AgentCreate(HWND window);
// WM_DESTROY: shuts down in order and posts the quit message.
void AgentDestroy(HWND window);
// The volume-changed message: brings the LED up to date.
void AgentVolumeChanged();
// Messages of the audio library's own; false for any other message.
bool AgentLibraryMessage(HWND window, UINT msg, LRESULT* result);
