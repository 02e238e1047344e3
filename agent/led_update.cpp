#include "led_update.h"
#include "led_channel.h"

BYTE g_lastLedLevel = 0xFF;
DWORD g_lastLedSendTime;
DWORD (*g_tickCountSeam)(void);

// A plain flag: it only stops a nested call on the window thread itself, for example a
// message dispatched from inside a library call.
static bool s_updating;

static DWORD TickCount() { return g_tickCountSeam ? g_tickCountSeam() : GetTickCount(); }

bool BeginLedUpdate()
{
    if (s_updating) return false;
    if (!g_keyControllerReady) return false;
    s_updating = true;
    return true;
}

bool SendLedLevel(BYTE level)
{
    // A repeat of the same level goes out again only after more than 500 ms; the unsigned
    // difference stays right across the tick counter's wrap.
    if (level == g_lastLedLevel && TickCount() - g_lastLedSendTime <= kRepeatHoldMs) return false;
    g_lastLedLevel = level;
    g_lastLedSendTime = TickCount();
    SendEcCommand(kEcLedCommand, kEcLedSelector, level);
    return true;
}

void EndLedUpdate() { s_updating = false; }
