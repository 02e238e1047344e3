// The legacy build: the key controller and the mixer library, linked at load time with just
// the functions the agent calls; no back-end mode, no binding, no endpoint library.
#include "led_channel.h"
#include "legacy_policy.h"
#include "lifecycle.h"
#include "mixer.h"
#include "outside_libraries.h"

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

bool AgentLibraryMessage(HWND, UINT, LRESULT*) { return false; }

int MixerGetMaxMinValue(UINT mixer, UINT line, UINT control, DWORD* maximum, DWORD* minimum,
                        UINT flags)
{
    return Oskal_GetMaxMinValue(mixer, line, control, maximum, minimum, flags);
}

int MixerGetValue(UINT mixer, UINT line, UINT control, DWORD** values, DWORD* count)
{
    return Oskal_GetValue(mixer, line, control, values, count);
}

void MixerFreeValueItems(DWORD* values)
{
    if (values) Oskal_FreeValueItems(values);
}
