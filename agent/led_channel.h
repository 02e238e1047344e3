// LED command channel: the key-controller library Fennick and EC commands over ports 0x6C/0x68.
#pragma once
#include <windows.h>

const DWORD kEcCommandPort = 0x6C;  // status when read
const DWORD kEcDataPort = 0x68;
const DWORD kConfigPathSize = 256;

// Set once Fennick_Init and Fennick_LoadDriver both succeeded; never cleared.
extern bool g_keyControllerReady;
// For tests: replaces Sleep for the channel's 10 ms pauses when set. Null in the programs.
extern void (*g_ecPauseSeam)(DWORD ms);

// Writes the path of Callow.CFG in the directory of programFile into out (kConfigPathSize
// bytes); false when the path would not fit.
bool BuildConfigPath(const char* programFile, char* out);

void StartKeyController();
void StopKeyController();
bool SendEcCommand(BYTE command, BYTE data1, BYTE data2);
