// Pernet.dll stand-in: an endpoint volume in percent. Like a real endpoint library it learns of
// changes on a thread of its own and reports them only by posting the messages it was given to
// the windows it was given; the device-event calls it gets back are recorded with their thread.
#include "notebook_sim.h"

static NotebookState *s_sim;
static HWND s_eventWindow, s_volumeWindow;
static UINT s_changedMsg, s_removedMsg, s_volumeMsg;
static HANDLE s_thread, s_stop, s_wake;

static NotebookState *Sim()
{
    if (!s_sim)
        s_sim = SimOpen();
    return s_sim;
}

static void PostAll(volatile LONG *requested, volatile LONG *posted, HWND window, UINT msg)
{
    LONG n = InterlockedExchange(requested, 0);
    for (LONG i = 0; i < n; i++) {
        if (window && msg)
            PostMessageA(window, msg, 0, 0);
        InterlockedIncrement(posted);
    }
}

static DWORD WINAPI Poster(void *)
{
    NotebookState *s = Sim();
    s->posterThreadId = GetCurrentThreadId();
    HANDLE waits[2] = {s_stop, s_wake};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        PostAll(&s->volumeNotesRequested, &s->volumeNotesPosted, s_volumeWindow, s_volumeMsg);
        PostAll(&s->defaultChangedRequested, &s->defaultChangedPosted, s_eventWindow, s_changedMsg);
        PostAll(&s->removedRequested, &s->removedPosted, s_eventWindow, s_removedMsg);
    }
    return 0;
}

static void StopPoster()
{
    if (s_thread) {
        SetEvent(s_stop);
        WaitForSingleObject(s_thread, INFINITE);
        CloseHandle(s_thread);
        CloseHandle(s_stop);
        CloseHandle(s_wake);
        s_thread = s_stop = s_wake = nullptr;
    }
}

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void *reserved)
{
    // Record loading and FreeLibrary (not process exit) when the simulation is named already.
    if (reason == DLL_PROCESS_ATTACH && SimNameGiven() && Sim())
        SimLogCall(s_sim, CallPernetLoaded);
    else if (reason == DLL_PROCESS_DETACH && !reserved && s_sim)
        SimLogCall(s_sim, CallPernetFreed);
    return TRUE;
}

int WINAPI Pernet_InitEx(HWND window, UINT changedMsg, UINT removedMsg)
{
    NotebookState *s = Sim();
    if (!s)
        return 0;
    SimLogCall(s, CallPernetInitEx);
    SimLock(s);
    s->initExCalls++;
    s->initExWindow = (uint64_t)(uintptr_t)window;
    s->initExChangedMsg = changedMsg;
    s->initExRemovedMsg = removedMsg;
    bool fail = s->failInitEx != 0;
    SimUnlock(s);
    if (fail)
        return 0;
    StopPoster();
    s_eventWindow = window;
    s_changedMsg = changedMsg;
    s_removedMsg = removedMsg;
    s_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    s_wake = SimEvent("pernet");   // opened before the thread runs, so no signal is lost
    s_thread = CreateThread(nullptr, 0, Poster, nullptr, 0, nullptr);
    return s_thread != nullptr;
}

int WINAPI Pernet_Init(void) { return 0; }

int WINAPI Pernet_DeInit(void)
{
    NotebookState *s = Sim();
    if (!s)
        return 0;
    SimLogCall(s, CallPernetDeInit);
    SimLock(s);
    s->deinitCalls++;
    SimUnlock(s);
    StopPoster();
    s_eventWindow = s_volumeWindow = nullptr;
    return 1;
}

int WINAPI Pernet_Register(HWND window, UINT volumeMsg)
{
    NotebookState *s = Sim();
    if (!s)
        return 0;
    SimLogCall(s, CallPernetRegister);
    SimLock(s);
    s->registerCalls++;
    s->registerWindow = (uint64_t)(uintptr_t)window;
    s->registerMsg = volumeMsg;
    SimUnlock(s);
    s_volumeWindow = window;
    s_volumeMsg = volumeMsg;
    return 1;
}

int WINAPI Pernet_Unregister(HWND window, UINT volumeMsg)
{
    NotebookState *s = Sim();
    if (!s)
        return 0;
    SimLogCall(s, CallPernetUnregister);
    SimLock(s);
    s->unregisterCalls++;
    s->unregisterWindow = (uint64_t)(uintptr_t)window;
    s->unregisterMsg = volumeMsg;
    SimUnlock(s);
    s_volumeWindow = nullptr;
    return 1;
}

int WINAPI Pernet_GetVolumeLevel(int *percent)
{
    NotebookState *s = Sim();
    if (!s || !percent)
        return 0;
    InterlockedIncrement(&s->getVolumeCalls);
    SimLock(s);
    int ok = !s->failGetVolume;
    if (ok)
        *percent = s->volume;
    SimUnlock(s);
    return ok;
}

int WINAPI Pernet_SetVolumeLevel(int percent)
{
    NotebookState *s = Sim();
    if (!s)
        return 0;
    SimLock(s);
    s->volume = percent;
    SimUnlock(s);
    return 1;
}

int WINAPI Pernet_GetMute(int *mute)
{
    if (mute)
        *mute = 0;
    return mute != nullptr;
}

int WINAPI Pernet_SetMute(int) { return 0; }
int WINAPI Pernet_VolumeLevelStepUp(void) { return 0; }
int WINAPI Pernet_VolumeLevelStepDown(void) { return 0; }

int WINAPI Pernet_OnDefaultDeviceChanged(void)
{
    NotebookState *s = Sim();
    if (!s)
        return 0;
    s->defaultChangedThreadId = GetCurrentThreadId();
    InterlockedIncrement(&s->defaultChangedCalls);
    return 1;
}

int WINAPI Pernet_OnDeviceRemoved(void)
{
    NotebookState *s = Sim();
    if (!s)
        return 0;
    s->removedThreadId = GetCurrentThreadId();
    InterlockedIncrement(&s->removedCalls);
    return 1;
}

} // extern "C"
