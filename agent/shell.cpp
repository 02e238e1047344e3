#include "shell.h"
#include "lifecycle.h"

HINSTANCE g_programInstance;

LRESULT CALLBACK AgentWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT result;
    switch (msg) {
    case WM_CREATE: return AgentCreate(window);
    case WM_DESTROY: AgentDestroy(window); return 0;
    case kVolumeChangedMsg: AgentVolumeChanged(); return kAgentMessageHandled;
    case kCloseRequestMsg: DestroyWindow(window); return kAgentMessageHandled;
    }
    if (AgentLibraryMessage(window, msg, &result)) return result;
    return DefWindowProcA(window, msg, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    if (FindWindowA(kAgentWindowName, kAgentWindowName)) return 0;  // another copy runs

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = AgentWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = kAgentWindowName;
    wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(108));
    RegisterClassExA(&wc);  // a failure shows as a failed window creation

    g_programInstance = instance;
    HWND window =
        CreateWindowExA(0, kAgentWindowName, kAgentWindowName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        0, CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (!window) return 0;

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
