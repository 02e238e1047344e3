// What a holder of the EC lock that is killed does to the others: four copies of this program
// send Dorvane commands in a loop; the stand-in driver holds one request, the copy whose call
// owns the lock is killed, the three others go on for a while, then pause and resume.
// Prints what each phase gave: bench_portlib_lock [seconds after the kill, default 30]
#include <cstdlib>
#include <cstring>

#include "bench_common.h"
#include "test_support.h"

namespace {

const int kSenders = 4;
const DWORD kHoldMs = 6000;             // longer than the 2.2 s a waiting call gives up after
const double kHolderCallSeconds = 3.0;  // a call this old is the holder's: the others give up
const char kSharedName[] = "bench-portlib-lock-state";

enum Phase : LONG {
    kBeforeKill,
    kAfterKill,
    kPausing,
    kResumed,
    kStop
};

struct Sender {
    volatile LONG successes[kStop], failures[kStop];
    volatile LONGLONG callStarted;  // performance counter at the start of the call in flight
    volatile LONGLONG firstSuccess[kStop];
    volatile LONG paused;
};

struct Shared {
    volatile LONG phase;
    Sender sender[kSenders];
};

Shared* MapShared()
{
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(Shared), kSharedName);
    return mapping ? static_cast<Shared*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0))
                   : nullptr;
}

LONGLONG Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Seconds(LONGLONG ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(ticks) / double(frequency.QuadPart);
}

int SenderMain(int index)
{
    Shared* shared = MapShared();
    if (!shared || Brannic_Init() != 1) return 1;
    Sender& me = shared->sender[index];
    for (LONG phase; (phase = shared->phase) != kStop;) {
        if (phase == kPausing) {
            // Out of the library, no semaphore handle: wait to be resumed.
            me.paused = 1;
            Sleep(10);
            continue;
        }
        me.callStarted = Now();
        bool ok = Brannic_SendDorvaneIndexMethodEcCommandData(0x90, 1) == 1;
        me.callStarted = 0;
        phase = shared->phase;
        if (phase >= kStop) break;
        if (ok) {
            if (!me.successes[phase]) me.firstSuccess[phase] = Now();
            InterlockedIncrement(&me.successes[phase]);
        } else {
            InterlockedIncrement(&me.failures[phase]);
        }
    }
    Brannic_DeInit();
    return 0;
}

HANDLE StartSender(int index)
{
    return StartProcess(SelfPath(), "sender " + std::to_string(index));
}

void Report(const Shared* shared, Phase phase, const char* what, LONGLONG since, const bool* alive)
{
    long successes = 0, failures = 0;
    LONGLONG first = 0;
    for (int i = 0; i < kSenders; i++) {
        if (!alive[i]) continue;
        successes += shared->sender[i].successes[phase];
        failures += shared->sender[i].failures[phase];
        LONGLONG t = shared->sender[i].firstSuccess[phase];
        if (t && (!first || t < first)) first = t;
    }
    printf("  %-40s %6ld sends succeeded, %4ld gave up", what, successes, failures);
    if (first)
        printf("; first success %.2f s after it began\n", Seconds(first - since));
    else
        printf("; no success\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "sender") == 0) return SenderMain(atoi(argv[2]));
    double afterKill = argc > 1 ? atof(argv[1]) : 30.0;
    Shared* shared = MapShared();
    if (!shared || afterKill <= 0 || !bench::Prepare()) return 1;
    driver_diag::Device diag;

    HANDLE senders[kSenders];
    bool alive[kSenders];
    LONGLONG started = Now();
    for (int i = 0; i < kSenders; i++) {
        senders[i] = StartSender(i);
        alive[i] = senders[i] != nullptr;
        if (!alive[i]) return 1;
    }
    Sleep(2000);

    // The next request is held at the driver; its sender owns the lock meanwhile.
    diag.SetFault(PORTIO_FAULT_HOLD, kHoldMs, 1);
    int victim = -1;
    while (victim < 0 && Seconds(Now() - started) < 30) {
        for (int i = 0; i < kSenders; i++) {
            LONGLONG t = shared->sender[i].callStarted;
            if (t && Seconds(Now() - t) > kHolderCallSeconds) victim = i;
        }
        Sleep(20);
    }
    if (victim < 0) {
        printf("no sender held the lock\n");
        return 1;
    }
    TerminateProcess(senders[victim], 99);
    WaitForSingleObject(senders[victim], 10000);
    alive[victim] = false;
    LONGLONG killed = Now();
    shared->phase = kAfterKill;
    printf("four senders; sender %d killed while its request held the lock at the driver\n",
           victim);
    Sleep(DWORD(afterKill * 1000));

    // The three pause outside the library, so none keeps a handle to the semaphore.
    shared->phase = kPausing;
    for (int i = 0; i < kSenders; i++)
        while (alive[i] && !shared->sender[i].paused) Sleep(10);
    LONGLONG resumed = Now();
    shared->phase = kResumed;
    Sleep(2000);
    shared->phase = kStop;
    for (int i = 0; i < kSenders; i++)
        if (alive[i]) WaitForSingleObject(senders[i], 30000);

    const bool all[kSenders] = {true, true, true, true};
    Report(shared, kBeforeKill, "before the kill (2 s, four senders):", started, all);
    char what[64];
    snprintf(what, sizeof(what), "after the kill (%.0f s, three senders):", afterKill);
    Report(shared, kAfterKill, what, killed, alive);
    Report(shared, kResumed, "after all three paused (2 s):", resumed, alive);
    for (HANDLE sender : senders) CloseHandle(sender);
    Brannic_DeInit();
    return 0;
}
