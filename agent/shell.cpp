#include "shell.h"
#include "audio_backend.h"
#include "led_channel.h"
#include "led_policy.h"

#ifdef LUMETTA_LEGACY

// What the legacy build returns for the volume-changed message and the close request.
const LRESULT kHandled = 0;

static LRESULT OnCreate(HWND window)
{
    StartKeyController();
    MixerHookDevice(window);
    return 0;
}

static void OnDestroy(HWND window)
{
    StopKeyController();
    MixerUnHookDevice(window);
    PostQuitMessage(0);
}

static void OnVolumeChanged() { UpdateLed(100, 0, 0); }

#else

const LRESULT kHandled = 1;

static bool s_shutDown;

// Withdraws, unbinds and stops once: Windows sends WM_DESTROY to a window whose creation was
// refused, Wine does not, so a refusal runs this itself.
static void OnDestroy(HWND window)
{
    if (s_shutDown)
        return;
    s_shutDown = true;
    UnregisterVolumeNotifications(window);
    UnbindAudioBackEnd();
    StopKeyController();
    PostQuitMessage(0);
}

static LRESULT OnCreate(HWND window)
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version) && version.dwMajorVersion > 5)
        g_backEndMode = EndpointMode;
    StartKeyController();
    if (!BindAudioBackEnd() || !RegisterVolumeNotifications(window)) {
        OnDestroy(window);
        return -1;
    }
    return 0;
}

static void OnVolumeChanged() { RefreshLedLevel(); }

#endif

LRESULT CALLBACK AgentWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_DESTROY:
        OnDestroy(window);
        return 0;
    case kVolumeChangedMsg:
        OnVolumeChanged();
        return kHandled;
    case kCloseRequestMsg:
        DestroyWindow(window);
        return kHandled;
#ifndef LUMETTA_LEGACY
    case kEndpointVolumeMsg:
        // Answered by posting, so the library's thread is free at once and the slow EC
        // traffic runs from our own queue.
        PostMessageA(window, kVolumeChangedMsg, 0, 0);
        return 1;
    case kDefaultDeviceChangedMsg:
        ForwardDefaultDeviceChanged();
        return 0;
    case kDeviceRemovedMsg:
        ForwardDeviceRemoved();
        return 0;
#endif
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (FindWindowA(kAgentWindowName, kAgentWindowName))
        return 0;   // another copy runs

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = AgentWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = kAgentWindowName;
    wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(108));
    RegisterClassExA(&wc);   // a failure shows as a failed window creation

    g_programInstance = instance;
    HWND window = CreateWindowExA(0, kAgentWindowName, kAgentWindowName, WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, 0, CW_USEDEFAULT, 0, nullptr, nullptr, instance,
                                  nullptr);
    if (!window)
        return 0;

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
