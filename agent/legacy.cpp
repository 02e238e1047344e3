#include "legacy.h"
#include "led_channel.h"
#include "led_update.h"
#include "lifecycle.h"

// The mixer library, linked at load time with just the functions the agent calls.
extern "C" {
int WINAPI Oskal_HookDevice(HWND window, UINT device);
int WINAPI Oskal_UnHookDevice(HWND window, UINT device);
int WINAPI Oskal_GetMaxMinValue(UINT mixer, UINT line, UINT control, DWORD *maximum,
                                DWORD *minimum, UINT flags);
int WINAPI Oskal_GetValue(UINT mixer, UINT line, UINT control, DWORD **values, DWORD *count);
int WINAPI Oskal_FreeValueItems(DWORD *values);
}

const LRESULT kAgentMessageHandled = 0;

LRESULT AgentCreate(HWND window)
{
    StartKeyController();
    Oskal_HookDevice(window, 0);
    return 0;
}

void AgentDestroy(HWND window)
{
    StopKeyController();
    Oskal_UnHookDevice(window, 0);
    PostQuitMessage(0);
}

void AgentVolumeChanged() { UpdateLegacyLed(); }

bool AgentLibraryMessage(HWND, UINT, LRESULT *) { return false; }

BYTE LegacyLevelForMixer(DWORD maximum, DWORD minimum, DWORD highest)
{
    DWORD step = (maximum - minimum + 1) / 5;
    if (step == 0)
        return 0;
    DWORD level = highest / step + (highest % step ? 1 : 0);
    if (highest == maximum || level > 6)
        return 6;
    return (BYTE)level;
}

// A failed read gives level 0, which is sent like any other.
static BYTE ReadLegacyLevel()
{
    DWORD maximum = 0, minimum = 0, count = 0;
    DWORD *values = nullptr;
    if (!Oskal_GetMaxMinValue(0, 0, 1, &maximum, &minimum, 0) ||
        !Oskal_GetValue(0, 0, 1, &values, &count))
        return 0;
    DWORD highest = HighestChannel(values, count);
    if (values)
        Oskal_FreeValueItems(values);
    return LegacyLevelForMixer(maximum, minimum, highest);
}

bool UpdateLegacyLed()
{
    if (!BeginLedUpdate())
        return false;
    bool sent = SendLedLevel(ReadLegacyLevel());
    EndLedUpdate();
    return sent;
}
