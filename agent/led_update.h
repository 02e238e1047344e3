// The LED update both builds share: the re-entrancy guard, the key-controller check, the
// repeat rule and the LED level command. Each build computes the level its own way between
// BeginLedUpdate and EndLedUpdate.
#pragma once
#include <windows.h>

const BYTE kEcLedCommand = 0x45;
const BYTE kEcLedSelector = 0x8B;
const DWORD kRepeatHoldMs = 500;

// Last LED command attempted (0xFF: none yet) and when, by the tick count.
extern BYTE g_lastLedLevel;
extern DWORD g_lastLedSendTime;
// For tests: replaces GetTickCount when set. Null in the programs.
extern DWORD (*g_tickCountSeam)(void);

// Sets the update guard; false, with nothing changed, when an update runs already (a nested
// call) or the key controller is not ready.
bool BeginLedUpdate();
// Drops a repeat of the last level within 500 ms; otherwise records the level and the time
// and sends the LED level command. True when a command was attempted.
bool SendLedLevel(BYTE level);
// Clears the update guard.
void EndLedUpdate();
