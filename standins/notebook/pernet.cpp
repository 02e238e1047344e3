// Pernet.dll stand-in: an endpoint volume in percent. Like a real endpoint library it learns of
// changes on a thread of its own and reports them only by posting the messages it was given to
// the windows it was given; the device-event calls it gets back are recorded with their thread.
#include "standin.h"

static HINSTANCE s_self;
static HWND s_eventWindow, s_volumeWindow;
static UINT s_changedMsg, s_removedMsg, s_volumeMsg;

static void PostAll(volatile LONG* requested, volatile LONG* posted, HWND window, UINT msg)
{
    LONG n = InterlockedExchange(requested, 0);
    for (LONG i = 0; i < n; i++) {
        if (window && msg) PostMessageA(window, msg, 0, 0);
        InterlockedIncrement(posted);
    }
}

static void PostNotes(NotebookState* s)
{
    s->posterThreadId = GetCurrentThreadId();
    PostAll(&s->volumeNotesRequested, &s->volumeNotesPosted, s_volumeWindow, s_volumeMsg);
    PostAll(&s->defaultChangedRequested, &s->defaultChangedPosted, s_eventWindow, s_changedMsg);
    PostAll(&s->removedRequested, &s->removedPosted, s_eventWindow, s_removedMsg);
}

// A device-event call back from the agent: counted, with the thread it came on.
static int CalledBack(uint32_t NotebookState::*thread, volatile LONG NotebookState::*calls)
{
    NotebookState* s = Sim();
    if (!s) return 0;
    s->*thread = GetCurrentThreadId();
    InterlockedIncrement(&(s->*calls));
    return 1;
}

extern "C" {

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void* reserved)
{
    s_self = self;
    LogLoading(reason, reserved, kCallPernetLoaded, kCallPernetFreed);
    return TRUE;
}

int WINAPI Pernet_InitEx(HWND window, UINT changedMsg, UINT removedMsg)
{
    if (!RecordWindowCall(kCallPernetInitEx, window, changedMsg, &NotebookState::initExCalls,
                          &NotebookState::initExWindow, &NotebookState::initExChangedMsg))
        return 0;
    s_sim->initExRemovedMsg = removedMsg;
    // Which copy answered, for tests that put more than one Pernet.dll within reach.
    GetModuleFileNameA(s_self, s_sim->initExModule, sizeof s_sim->initExModule);
    if (s_sim->failInitEx) return 0;
    s_eventWindow = window;
    s_changedMsg = changedMsg;
    s_removedMsg = removedMsg;
    return StartPoster("pernet", PostNotes);
}

int WINAPI Pernet_Init(void) { return 0; }

int WINAPI Pernet_DeInit(void)
{
    if (!CountedCall(kCallPernetDeInit, &NotebookState::deinitCalls)) return 0;
    StopPoster();
    s_eventWindow = s_volumeWindow = nullptr;
    return 1;
}

int WINAPI Pernet_Register(HWND window, UINT volumeMsg)
{
    if (!RecordWindowCall(kCallPernetRegister, window, volumeMsg, &NotebookState::registerCalls,
                          &NotebookState::registerWindow, &NotebookState::registerMsg))
        return 0;
    s_volumeWindow = window;
    s_volumeMsg = volumeMsg;
    return 1;
}

int WINAPI Pernet_Unregister(HWND window, UINT volumeMsg)
{
    if (!RecordWindowCall(kCallPernetUnregister, window, volumeMsg, &NotebookState::unregisterCalls,
                          &NotebookState::unregisterWindow, &NotebookState::unregisterMsg))
        return 0;
    s_volumeWindow = nullptr;
    return 1;
}

int WINAPI Pernet_GetVolumeLevel(int* percent)
{
    NotebookState* s = Sim();
    if (!s || !percent) return 0;
    InterlockedIncrement(&s->getVolumeCalls);
    ReenterIfScripted(kReenterInGetVolume);
    SimLock(s);
    int ok = !s->failGetVolume;
    if (ok) *percent = s->volume;
    SimUnlock(s);
    return ok;
}

int WINAPI Pernet_SetVolumeLevel(int percent)
{
    NotebookState* s = Sim();
    if (!s) return 0;
    SimLock(s);
    s->volume = percent;
    SimUnlock(s);
    return 1;
}

int WINAPI Pernet_GetMute(int* mute)
{
    if (mute) *mute = 0;
    return mute != nullptr;
}

int WINAPI Pernet_SetMute(int) { return 0; }
int WINAPI Pernet_VolumeLevelStepUp(void) { return 0; }
int WINAPI Pernet_VolumeLevelStepDown(void) { return 0; }

int WINAPI Pernet_OnDefaultDeviceChanged(void)
{
    return CalledBack(&NotebookState::defaultChangedThreadId, &NotebookState::defaultChangedCalls);
}

int WINAPI Pernet_OnDeviceRemoved(void)
{
    return CalledBack(&NotebookState::removedThreadId, &NotebookState::removedCalls);
}

}  // extern "C"
