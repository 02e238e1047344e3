// Oskal.dll stand-in: a legacy mixer with one control (range and channel values). Once a window
// is hooked, a thread of the library posts WM_USER to it for each change the controller reports.
#include "standin.h"

static HWND s_hooked;

static void PostMixerNotes(NotebookState* s)
{
    LONG n = InterlockedExchange(&s->mixerNotesRequested, 0);
    for (LONG i = 0; i < n; i++) {
        PostMessageA(s_hooked, WM_USER, 0, 0);
        InterlockedIncrement(&s->mixerNotesPosted);
    }
}

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved)
{
    LogLoading(reason, reserved, kCallOskalLoaded, kCallOskalFreed);
    return TRUE;
}

int WINAPI Oskal_HookDevice(HWND window, UINT device)
{
    if (!RecordWindowCall(kCallOskalHook, window, device, &NotebookState::hookCalls,
                          &NotebookState::hookWindow, &NotebookState::hookArg))
        return 0;
    s_hooked = window;
    return StartPoster("oskal", PostMixerNotes);
}

int WINAPI Oskal_UnHookDevice(HWND window, UINT device)
{
    if (!RecordWindowCall(kCallOskalUnHook, window, device, &NotebookState::unhookCalls,
                          &NotebookState::unhookWindow, &NotebookState::unhookArg))
        return 0;
    StopPoster();
    s_hooked = nullptr;
    return 1;
}

int WINAPI Oskal_GetMaxMinValue(UINT mixer, UINT line, UINT control, DWORD* maximum, DWORD* minimum,
                                UINT flags)
{
    NotebookState* s = Sim();
    if (!s || !maximum || !minimum) return 0;
    (void)flags;
    InterlockedIncrement(&s->maxMinCalls);
    ReenterIfScripted(kReenterInMixerRange);
    SimLock(s);
    s->lastSelectors[0] = mixer;
    s->lastSelectors[1] = line;
    s->lastSelectors[2] = control;
    int ok = !s->failGetMaxMin;
    if (ok) {
        *maximum = s->mixerMax;
        *minimum = s->mixerMin;
    }
    SimUnlock(s);
    return ok;
}

int WINAPI Oskal_GetValue(UINT mixer, UINT line, UINT control, DWORD** values, DWORD* count)
{
    NotebookState* s = Sim();
    if (!s || !values || !count) return 0;
    (void)mixer, (void)line, (void)control;
    InterlockedIncrement(&s->getValueCalls);
    SimLock(s);
    int ok = !s->failGetValue;
    bool nullWhenEmpty = s->emptyArrayIsNull != 0;
    uint32_t n = s->channelCount < kMaxChannels ? s->channelCount : kMaxChannels;
    DWORD copy[kMaxChannels];
    for (uint32_t i = 0; i < n; i++) copy[i] = s->channels[i];
    SimUnlock(s);
    if (!ok) return 0;
    if (n == 0 && nullWhenEmpty) {
        *values = nullptr;
        *count = 0;
        return 1;
    }
    // Like a real mixer, an empty control still hands out an (empty) array to be freed.
    DWORD* array = (DWORD*)HeapAlloc(GetProcessHeap(), 0, (n ? n : 1) * sizeof(DWORD));
    if (!array) return 0;
    for (uint32_t i = 0; i < n; i++) array[i] = copy[i];
    InterlockedIncrement(&s->arraysOutstanding);
    *values = array;
    *count = n;
    return 1;
}

int WINAPI Oskal_FreeValueItems(DWORD* values)
{
    NotebookState* s = Sim();
    if (!s) return 0;
    InterlockedIncrement(&s->freeCalls);
    if (!values) {
        InterlockedIncrement(&s->freeNullCalls);
        return 0;
    }
    HeapFree(GetProcessHeap(), 0, values);
    InterlockedDecrement(&s->arraysOutstanding);
    return 1;
}

// The rest of the mixer interface: present so that names resolve, unused by the agent.
#define UNUSED_EXPORT(name)                                                                        \
    int WINAPI name(void) { return 0; }
UNUSED_EXPORT(Oskal_GetDevicesCount)
UNUSED_EXPORT(Oskal_GetDeviceName)
UNUSED_EXPORT(Oskal_FindDefaultMixerNumber)
UNUSED_EXPORT(Oskal_GetLineName)
UNUSED_EXPORT(Oskal_GetControlName)
UNUSED_EXPORT(Oskal_GetControlID)
UNUSED_EXPORT(Oskal_GetValueItemCount)
UNUSED_EXPORT(Oskal_SetValue)
UNUSED_EXPORT(Oskal_CanRecordMultipleSelected)
UNUSED_EXPORT(Oskal_GetRecordSelectedCount)
UNUSED_EXPORT(Oskal_IsRecordSelected)
UNUSED_EXPORT(Oskal_SetRecordSelected)
UNUSED_EXPORT(Oskal_GetLineNameExByCtrlID)
UNUSED_EXPORT(Oskal_GetControlNameExByCtrlID)
UNUSED_EXPORT(Oskal_GetMaxMinValueExByCtrlID)
UNUSED_EXPORT(Oskal_GetValueItemCountExByCtrlID)
UNUSED_EXPORT(Oskal_GetValueExByCtrlID)
UNUSED_EXPORT(Oskal_SetValueExByCtrlID)
UNUSED_EXPORT(Oskal_IsRecordSelectedExByCtrlID)
UNUSED_EXPORT(Oskal_SetRecordSelectedExByCtrlID)
UNUSED_EXPORT(Oskal_GetControlIDEx)
UNUSED_EXPORT(Oskal_GetLineNameEx)
UNUSED_EXPORT(Oskal_GetControlNameEx)
UNUSED_EXPORT(Oskal_GetMaxMinValueEx)
UNUSED_EXPORT(Oskal_GetValueItemCountEx)
UNUSED_EXPORT(Oskal_GetValueEx)
UNUSED_EXPORT(Oskal_SetValueEx)
UNUSED_EXPORT(Oskal_IsRecordSelectedEx)
UNUSED_EXPORT(Oskal_SetRecordSelectedEx)

}  // extern "C"
