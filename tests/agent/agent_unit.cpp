#include "agent_unit.h"
#include "led_channel.h"
#include "led_update.h"
#include "shell.h"
#ifdef AGENT_FULL_BUILD
#include "audio_backend.h"
#endif

void ResetAgentState()
{
    g_keyControllerReady = false;
    g_lastLedLevel = 0xFF;
    g_lastLedSendTime = 0;
    g_ecPauseSeam = [](DWORD) {};
    g_tickCountSeam = nullptr;
    g_programInstance = GetModuleHandleA(nullptr);
#ifdef AGENT_FULL_BUILD
    UnbindAudioBackEnd();  // by the mode it was bound in
    g_backEndMode = kMixerMode;
#endif
}

static LRESULT CALLBACK TestWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_CREATE || msg == WM_DESTROY) return DefWindowProcA(window, msg, wParam, lParam);
    return AgentWindowProc(window, msg, wParam, lParam);
}

HWND CreateAgentTestWindow()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = TestWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "AgentTestWindow";
    RegisterClassA(&wc);  // fails harmlessly for the second test of the process
    HWND window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
    if (window) DrainQueue(window);
    return window;
}

int DrainQueue(HWND window)
{
    int found = 0;
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) found += m.hwnd == window;
    return found;
}

LRESULT ExpectOneCommandThoughReentered(HWND window, NotebookState* s, const char* what,
                                        SimReenterPoint point, uint32_t at,
                                        volatile LONG NotebookState::*reads)
{
    s->reenterPoint = point;
    s->reenterAt = at;
    PostMessageA(window, WM_USER, 0, 0);
    LRESULT result = SendMessageA(window, WM_USER, 0, 0);
    EXPECT_EQ(1, s->reentered) << what << ": the queued message was dispatched inside";
    EXPECT_EQ(1, s->*reads) << what << ": the nested call read the volume";
    EXPECT_EQ("r6C=00 r6C=00 w6C=45 r6C=00 w68=8B r6C=00 w68=03 r6C=00 w6C=FF", TraceText(s))
        << what << ": one LED command, not interleaved with another";
    return result;
}
