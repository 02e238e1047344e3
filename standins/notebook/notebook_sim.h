// The simulated notebook shared by the Fennick, Oskal and Pernet stand-ins and the programs that
// script them (tests, notebookctl, the benchmark): one named shared-memory section per
// simulation. The section's name comes from the environment variable NOTEBOOK_SIM, so that tests
// running side by side in one Wine prefix each get their own notebook; children inherit it.
// All-zero means defaults: EC idle, every call succeeds, volume 0, mixer range 0..0, no channels.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

enum EcBehaviour : uint32_t {
    kEcIdle = 0,                   // status 0 except while stale bytes wait
    kEcOutputNeverClears = 1,      // status bit 0 stays set
    kEcInputNeverClears = 2,       // status bit 1 stays set
    kEcInputSticksAfterData2 = 3,  // bit 1 sets once the second data byte of a command was taken
};

// Calls and events in the order they happened, across all stand-ins.
// Each with the name the call log shows; one list, so values and names cannot drift apart.
#define SIM_CALLS(X)                                                                               \
    X(kCallNone, "none")                                                                           \
    X(kCallFennickInit, "Fennick_Init")                                                            \
    X(kCallFennickLoadDriver, "Fennick_LoadDriver")                                                \
    X(kCallFennickUnLoadDriver, "Fennick_UnLoadDriver")                                            \
    X(kCallOskalLoaded, "Oskal loaded")                                                            \
    X(kCallOskalFreed, "Oskal freed")                                                              \
    X(kCallOskalHook, "Oskal_HookDevice")                                                          \
    X(kCallOskalUnHook, "Oskal_UnHookDevice")                                                      \
    X(kCallPernetLoaded, "Pernet loaded")                                                          \
    X(kCallPernetFreed, "Pernet freed")                                                            \
    X(kCallPernetInitEx, "Pernet_InitEx")                                                          \
    X(kCallPernetRegister, "Pernet_Register")                                                      \
    X(kCallPernetUnregister, "Pernet_Unregister")                                                  \
    X(kCallPernetDeInit, "Pernet_DeInit")
#define SIM_CALL_VALUE(value, name) value,
enum SimCall : uint32_t {
    SIM_CALLS(SIM_CALL_VALUE)
};
#undef SIM_CALL_VALUE

// The EC's status bits, read from port 0x6C.
const BYTE kEcOutputFull = 0x01;
const BYTE kEcInputFull = 0x02;

// Where a stand-in library, told to, dispatches the calling thread's queued messages before it
// answers, as a library that pumps messages would: the window procedure is re-entered from
// inside the agent's call.
enum SimReenterPoint : uint32_t {
    kReenterNowhere = 0,
    kReenterInPortRead,    // Fennick_InputByteValue
    kReenterInPortWrite,   // Fennick_OutputByteValue
    kReenterInGetVolume,   // Pernet_GetVolumeLevel
    kReenterInMixerRange,  // Oskal_GetMaxMinValue
};

struct PortAccess {
    uint8_t write;  // 1 write, 0 read
    uint8_t port;
    uint8_t value;      // written, or read (for a failed read: what the caller's byte held)
    uint8_t failed;     // the call returned 0 (scripted, or refused without a loaded driver)
    uint8_t scratchIn;  // writes: the caller's scratch byte as the call found it
    uint8_t pad[3];
    int64_t timeUs;  // QueryPerformanceCounter time in microseconds
};

const uint32_t kTraceCapacity = 8192;  // older entries are overwritten
const uint32_t kCallLogCapacity = 256;
const uint32_t kMaxChannels = 8;

struct NotebookState {
    volatile LONG lock;

    // Embedded controller behind ports 0x6C (command/status) and 0x68 (data).
    uint32_t ecBehaviour;
    uint32_t staleOutputBytes;  // bytes waiting in the EC's output buffer
    uint32_t ecExpect;          // 0 command, 1 first data byte, 2 second data byte, 3 done
    uint32_t ecCommand, ecData1;
    uint32_t inputStuck;             // set by EcInputSticksAfterData2
    uint32_t inputBusyReads;         // after each byte taken, input full for this many status reads
    uint32_t inputBusyLeft;          // status reads the input buffer stays full for yet
    uint32_t refillOutputBytes;      // put into the output buffer once, when its last byte is read
    uint32_t portReads, portWrites;  // accesses since the EC was cleared, failed ones included
    uint32_t failReadAt, failWriteAt;  // the read or write of this number fails (0: none)
    uint32_t ledLevelKnown, ledLevel;
    uint32_t commandBytes;  // bytes other than 0xFF written to port 0x6C
    uint32_t ledCommands;   // complete 0x45 0x8B level commands
    uint32_t closingBytes;  // 0xFF written to port 0x6C
    int64_t lastClosingUs;
    volatile LONG traceCount;
    PortAccess trace[kTraceCapacity];

    // Fennick. Like the real library, the stand-in gives port access only to a process in which
    // Fennick_Init and then Fennick_LoadDriver succeeded, until Fennick_UnLoadDriver; anything
    // else is refused and recorded as a violation.
    uint32_t failInit, failLoadDriver;
    uint32_t initCalls, loadDriverCalls, unloadDriverCalls;
    char initPath[520];
    uint32_t initDonePid;        // process in which Fennick_Init last succeeded
    uint32_t driverLoadedPid;    // process whose driver is loaded (0: none)
    uint32_t driverUnloadedPid;  // process that last unloaded its driver

    // Breaches of the rules of the components, which every test checks for.
    uint32_t violations;
    char firstViolation[160];

    // Re-entry: the call at `reenterPoint` numbered `reenterAt` (counted in reenterCalls, from 1)
    // dispatches the queued messages; reentered counts the messages it dispatched.
    uint32_t reenterPoint, reenterAt, reenterCalls;
    volatile LONG reentered;

    // Oskal: a mixer control with a range and channel values.
    uint32_t mixerMax, mixerMin, channelCount;
    uint32_t channels[kMaxChannels];
    uint32_t failGetMaxMin, failGetValue;
    uint32_t emptyArrayIsNull;  // GetValue with no channels hands out a null array
    uint32_t hookCalls, unhookCalls, hookArg, unhookArg;
    uint64_t hookWindow, unhookWindow;
    volatile LONG maxMinCalls, getValueCalls, freeCalls, freeNullCalls, arraysOutstanding;
    uint32_t lastSelectors[3];
    volatile LONG mixerNotesRequested, mixerNotesPosted;

    // Pernet: an endpoint volume in percent.
    int32_t volume;
    uint32_t failGetVolume, failInitEx;
    uint32_t initExCalls, registerCalls, unregisterCalls, deinitCalls;
    char initExModule[260];  // file of the Pernet.dll that took the last Pernet_InitEx
    uint64_t initExWindow, registerWindow, unregisterWindow;
    uint32_t initExChangedMsg, initExRemovedMsg, registerMsg, unregisterMsg;
    volatile LONG getVolumeCalls;
    volatile LONG volumeNotesRequested, defaultChangedRequested, removedRequested;
    volatile LONG volumeNotesPosted, defaultChangedPosted, removedPosted;
    uint32_t posterThreadId;
    volatile LONG defaultChangedCalls, removedCalls;
    uint32_t defaultChangedThreadId, removedThreadId;
    int64_t volumeChangeUs;

    uint32_t callCount;
    uint32_t calls[kCallLogCapacity];
};

inline int64_t SimNowUs()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (int64_t)((double)c.QuadPart * 1e6 / (double)f.QuadPart);
}

// Names of the section and events of this process's simulation.
inline void SimObjectName(const char* suffix, char* out, size_t size)
{
    char sim[64];
    DWORD n = GetEnvironmentVariableA("NOTEBOOK_SIM", sim, sizeof sim);
    if (n == 0 || n >= sizeof sim) strcpy(sim, "default");
    snprintf(out, size, "NotebookSim.%s.%s", sim, suffix);
}

inline bool SimNameGiven()
{
    char sim[64];
    DWORD n = GetEnvironmentVariableA("NOTEBOOK_SIM", sim, sizeof sim);
    return n > 0 && n < sizeof sim;
}

// Maps the section, creating it zero-filled when this is the first process; the mapping is kept
// for the life of the module that asks.
inline NotebookState* SimOpen(HANDLE* mappingOut = nullptr)
{
    char name[128];
    SimObjectName("state", name, sizeof name);
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(NotebookState), name);
    if (!mapping) return nullptr;
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(NotebookState));
    if (!view) {
        CloseHandle(mapping);
        return nullptr;
    }
    if (mappingOut) *mappingOut = mapping;
    return static_cast<NotebookState*>(view);
}

inline HANDLE SimEvent(const char* which)
{
    char name[128];
    SimObjectName(which, name, sizeof name);
    return CreateEventA(nullptr, FALSE, FALSE, name);
}

inline void SimLock(NotebookState* s)
{
    while (InterlockedCompareExchange(&s->lock, 1, 0) != 0) Sleep(0);
}

inline void SimUnlock(NotebookState* s) { InterlockedExchange(&s->lock, 0); }

inline void SimLogCall(NotebookState* s, SimCall call)
{
    SimLock(s);
    if (s->callCount < kCallLogCapacity) s->calls[s->callCount] = call;
    s->callCount++;
    SimUnlock(s);
}

// Records a breach of a component's rules; the first one is kept as text.
inline void SimViolation(NotebookState* s, const char* what)
{
    SimLock(s);
    if (s->violations++ == 0) lstrcpynA(s->firstViolation, what, sizeof s->firstViolation);
    SimUnlock(s);
}

// Clears the EC's trace, counters and passing state (not its behaviour or scripted failures).
inline void SimClearEc(NotebookState* s)
{
    SimLock(s);
    s->traceCount = 0;
    s->ecExpect = 0;
    s->inputStuck = s->inputBusyLeft = 0;
    s->portReads = s->portWrites = 0;
    s->commandBytes = s->ledCommands = s->closingBytes = 0;
    SimUnlock(s);
}

// Sets the EC's behaviour afresh: whatever the last one left (a stuck input buffer, bytes
// waiting, a busy countdown) goes with it. Scripted failures stay.
inline void SimSetEcBehaviour(NotebookState* s, EcBehaviour behaviour, uint32_t staleBytes = 0,
                              uint32_t refillBytes = 0, uint32_t inputBusyReads = 0)
{
    SimLock(s);
    s->ecBehaviour = behaviour;
    s->staleOutputBytes = staleBytes;
    s->refillOutputBytes = refillBytes;
    s->inputBusyReads = inputBusyReads;
    s->inputStuck = s->inputBusyLeft = 0;
    SimUnlock(s);
}

// Sets the endpoint volume, noting when (for the latency of the LED's answer).
inline void SimSetVolume(NotebookState* s, int percent)
{
    SimLock(s);
    s->volume = percent;
    s->volumeChangeUs = SimNowUs();
    SimUnlock(s);
}

// Asks the Pernet stand-in's thread to post notifications; which: "pernet" or "oskal".
inline void SimSignal(const char* which)
{
    HANDLE e = SimEvent(which);
    if (e) {
        SetEvent(e);
        CloseHandle(e);
    }
}

inline void SimRequestVolumeNotes(NotebookState* s, LONG count)
{
    InterlockedExchangeAdd(&s->volumeNotesRequested, count);
    SimSignal("pernet");
}

inline void SimRequestDeviceEvents(NotebookState* s, LONG defaultChanged, LONG removed)
{
    InterlockedExchangeAdd(&s->defaultChangedRequested, defaultChanged);
    InterlockedExchangeAdd(&s->removedRequested, removed);
    SimSignal("pernet");
}

inline void SimRequestMixerNotes(NotebookState* s, LONG count)
{
    InterlockedExchangeAdd(&s->mixerNotesRequested, count);
    SimSignal("oskal");
}

inline const char* SimCallName(uint32_t c)
{
#define SIM_CALL_NAME(value, name) name,
    static const char* const kNames[] = {SIM_CALLS(SIM_CALL_NAME)};
#undef SIM_CALL_NAME
    return c < sizeof kNames / sizeof kNames[0] ? kNames[c] : "?";
}

// For the programs that drive the agent from outside (notebookctl, tests, the benchmark).

// Polls done() until it holds; false once ms have passed.
template <class Done> bool SimWaitUntil(Done done, DWORD ms)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms) return false;
        Sleep(2);
    }
    return true;
}

// The agent's window, found by class and title as the agent itself looks for another copy.
inline HWND SimAgentWindow() { return FindWindowA("LumettaApp", "LumettaApp"); }

// Returns once the window's thread has finished the messages it was handling (a sent message is
// handled only between them), or after ms.
inline void SimSyncWithWindow(HWND window, DWORD ms)
{
    DWORD_PTR result;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, ms, &result);
}
