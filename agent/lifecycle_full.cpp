// The full build: the back-end mode from the Windows version, the key controller, the binding
// to the mixer or the endpoint library, and the endpoint library's notifications.
#include "lifecycle.h"
#include "audio_backend.h"
#include "led_channel.h"
#include "led_policy.h"
#include "shell.h"

const LRESULT kAgentMessageHandled = 1;

static bool s_shutDown;

// Withdraws, unbinds and stops once: Windows sends WM_DESTROY to a window whose creation was
// refused, Wine does not, so a refusal runs this itself.
void AgentDestroy(HWND window)
{
    if (s_shutDown) return;
    s_shutDown = true;
    UnregisterVolumeNotifications(window);
    UnbindAudioBackEnd();
    StopKeyController();
    PostQuitMessage(0);
}

LRESULT AgentCreate(HWND window)
{
    ChooseBackEndMode();
    StartKeyController();
    if (!BindAudioBackEnd() || !RegisterVolumeNotifications(window)) {
        AgentDestroy(window);
        return -1;
    }
    return 0;
}

void AgentVolumeChanged() { RefreshLedLevel(); }

bool AgentLibraryMessage(HWND window, UINT msg, LRESULT* result)
{
    switch (msg) {
    case kEndpointVolumeMsg:
        // Answered by posting, so the library's thread is free at once and the slow EC
        // traffic runs from our own queue.
        PostMessageA(window, kVolumeChangedMsg, 0, 0);
        *result = 1;
        return true;
    case kDefaultDeviceChangedMsg:
        ForwardDefaultDeviceChanged();
        *result = 0;
        return true;
    case kDeviceRemovedMsg:
        ForwardDeviceRemoved();
        *result = 0;
        return true;
    }
    return false;
}
