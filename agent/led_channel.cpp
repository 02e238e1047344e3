#include "led_channel.h"
#include "outside_libraries.h"
#include "shell.h"
#include <string.h>

bool g_keyControllerReady;
void (*g_ecPauseSeam)(DWORD ms);

static char s_configPath[kConfigPathSize];
static BYTE s_scratch;  // handed to every output call; the library may use it

static const BYTE kOutputFull = 0x01;
static const BYTE kInputFull = 0x02;
static const int kStatusReads = 10;

static void EcPause()
{
    if (g_ecPauseSeam)
        g_ecPauseSeam(10);
    else
        Sleep(10);
}

// Reads the EC status into *status. The read is not checked: a failed read leaves the byte
// as it was, and the caller goes on with that.
static void ReadEcStatusInto(BYTE* status) { Fennick_InputByteValue(kEcCommandPort, status); }

bool BuildConfigPath(const char* programFile, char* out)
{
    static const char kName[] = "Callow.CFG";
    char full[MAX_PATH];
    char* filePart = nullptr;
    full[0] = '\0';
    if (programFile && programFile[0]) {
        DWORD n = GetFullPathNameA(programFile, sizeof full, full, &filePart);
        if (n >= sizeof full) return false;  // a truncated directory would name the wrong file
        if (n == 0) {
            full[0] = '\0';
            filePart = nullptr;
        }
    }
    if (filePart) *filePart = '\0';
    size_t dirLength = strlen(full);
    bool endsWithSlash = dirLength > 0 && full[dirLength - 1] == '\\';
    size_t total = dirLength + (endsWithSlash ? 0 : 1) + sizeof kName - 1;
    if (total >= kConfigPathSize) return false;
    memcpy(out, full, dirLength);
    char* p = out + dirLength;
    if (!endsWithSlash) *p++ = '\\';
    memcpy(p, kName, sizeof kName);
    return true;
}

void StartKeyController()
{
    char program[MAX_PATH];
    DWORD n = GetModuleFileNameA(g_programInstance, program, sizeof program);
    if (n >= sizeof program) return;  // truncated: no path to hand over
    if (n == 0) program[0] = '\0';
    if (!BuildConfigPath(program, s_configPath)) return;
    if (Fennick_Init(s_configPath) && Fennick_LoadDriver()) g_keyControllerReady = true;
}

void StopKeyController()
{
    if (g_keyControllerReady) Fennick_UnLoadDriver();
}

static bool FlushEcOutput()
{
    EcPause();
    BYTE status = 0;
    ReadEcStatusInto(&status);
    int reads = 1;
    while (status & kOutputFull) {
        if (reads == kStatusReads) return false;
        BYTE stale = 0;
        Fennick_InputByteValue(kEcDataPort, &stale);
        EcPause();
        ReadEcStatusInto(&status);
        reads++;
        EcPause();
    }
    return true;
}

static bool WaitEcInputEmpty()
{
    for (int i = 0; i < kStatusReads; i++) {
        EcPause();
        BYTE status = 0;
        ReadEcStatusInto(&status);
        if (!(status & kInputFull)) return true;
    }
    return false;
}

bool SendEcCommand(BYTE command, BYTE data1, BYTE data2)
{
    s_scratch = 0;
    if (!FlushEcOutput() || !WaitEcInputEmpty()) return false;
    if (!Fennick_OutputByteValue(kEcCommandPort, command, &s_scratch) || !WaitEcInputEmpty())
        return false;
    if (!Fennick_OutputByteValue(kEcDataPort, data1, &s_scratch) || !WaitEcInputEmpty())
        return false;
    if (!Fennick_OutputByteValue(kEcDataPort, data2, &s_scratch)) return false;
    // Once the second data byte is taken the command counts as delivered.
    if (WaitEcInputEmpty()) Fennick_OutputByteValue(kEcCommandPort, 0xFF, &s_scratch);
    return true;
}
