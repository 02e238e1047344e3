// What the Fennick, Oskal and Pernet stand-ins share: the simulation as the library sees it,
// recorded calls, the DLL's load log, and the thread of its own that a library posts from.
// Included by exactly one source file of each stand-in DLL, so each gets its own copy; the
// libraries' functions are defined as outside_libraries.h declares them.
#pragma once
#include "notebook_sim.h"
#include "outside_libraries.h"

static NotebookState* s_sim;

// The simulation, mapped on first use and kept for the life of the library.
static inline NotebookState* Sim()
{
    if (!s_sim) s_sim = SimOpen();
    return s_sim;
}

// Logs and counts a call; false without a simulation or when it is told to fail the call.
static inline bool CountedCall(SimCall call, uint32_t NotebookState::*count,
                               uint32_t NotebookState::*fail = nullptr)
{
    NotebookState* s = Sim();
    if (!s) return false;
    SimLogCall(s, call);
    SimLock(s);
    s->*count += 1;
    bool ok = !fail || !(s->*fail);
    SimUnlock(s);
    return ok;
}

// Logs and counts a call that hands over a window and a number, and keeps both.
static inline bool RecordWindowCall(SimCall call, HWND window, UINT arg,
                                    uint32_t NotebookState::*count,
                                    uint64_t NotebookState::*windowSeen,
                                    uint32_t NotebookState::*argSeen)
{
    if (!CountedCall(call, count)) return false;
    SimLock(s_sim);
    s_sim->*windowSeen = (uint64_t)(uintptr_t)window;
    s_sim->*argSeen = arg;
    SimUnlock(s_sim);
    return true;
}

// For DllMain: records loading and FreeLibrary (not process exit) when the simulation is named
// already.
static inline void LogLoading(DWORD reason, void* reserved, SimCall loaded, SimCall freed)
{
    if (reason == DLL_PROCESS_ATTACH && SimNameGiven() && Sim())
        SimLogCall(s_sim, loaded);
    else if (reason == DLL_PROCESS_DETACH && !reserved && s_sim)
        SimLogCall(s_sim, freed);
}

// The library's own thread: runs s_post each time the simulation's event is signalled.
static HANDLE s_posterThread, s_posterStop, s_posterWake;
static void (*s_post)(NotebookState* s);

static DWORD WINAPI PosterMain(void*)
{
    HANDLE waits[2] = {s_posterStop, s_posterWake};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) s_post(Sim());
    return 0;
}

static inline void StopPoster()
{
    if (s_posterThread) {
        SetEvent(s_posterStop);
        WaitForSingleObject(s_posterThread, INFINITE);
        CloseHandle(s_posterThread);
        CloseHandle(s_posterStop);
        CloseHandle(s_posterWake);
        s_posterThread = s_posterStop = s_posterWake = nullptr;
    }
}

// Starts the thread anew (stopping the one before); `event` names the simulation's event that
// wakes it ("oskal", "pernet").
static inline bool StartPoster(const char* event, void (*post)(NotebookState* s))
{
    StopPoster();
    s_post = post;
    s_posterStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    s_posterWake = SimEvent(event);  // opened before the thread runs, so no signal is lost
    s_posterThread = CreateThread(nullptr, 0, PosterMain, nullptr, 0, nullptr);
    return s_posterThread != nullptr;
}

// Dispatches the calling thread's queued messages when this call is the one the simulation
// names (reenterPoint and the reenterAt-th such call), as a library that pumps messages while
// it works would. Runs outside the simulation's lock, since the window procedure it re-enters
// calls the stand-ins again.
static inline void ReenterIfScripted(SimReenterPoint point)
{
    NotebookState* s = Sim();
    if (!s || s->reenterPoint != point) return;
    SimLock(s);
    bool now = ++s->reenterCalls == s->reenterAt;
    SimUnlock(s);
    if (!now) return;
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        InterlockedIncrement(&s->reentered);
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
}
