// The EC lock across real processes: this program starts copies of itself ("child ...") that
// hold the named semaphore, send requests the stand-in driver holds, or send all at once.
// Processes hand off through named events.
#include "portlib_test.h"

#include <cstdlib>
#include <cstring>
#include <thread>

using namespace portlib_test;

namespace {

const char kLockName[] = "Dorvane Utility Semaphore Object";
const DWORD kHandOffMs = 30000;

// ---- Children ----

HANDLE OpenEventByName(const char* name)
{
    return OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
}

// Takes the semaphore, says so, and gives it back when told to.
int ChildHold(const char* heldEvent, const char* releaseEvent)
{
    HANDLE lock = CreateSemaphoreA(nullptr, 1, 1, kLockName);
    HANDLE held = OpenEventByName(heldEvent), release = OpenEventByName(releaseEvent);
    if (!lock || !held || !release) return 10;
    if (WaitForSingleObject(lock, kHandOffMs) != WAIT_OBJECT_0) return 11;
    SetEvent(held);
    DWORD waited = WaitForSingleObject(release, kHandOffMs);
    ReleaseSemaphore(lock, 1, nullptr);
    return waited == WAIT_OBJECT_0 ? 0 : 12;
}

// One request of the given kind; the parent has told the driver to hold it. Exit code 0
// when it succeeded and was held for at least `holdMs`.
int ChildSendOne(const char* kind, const char* beforeEvent, DWORD holdMs)
{
    HANDLE before = OpenEventByName(beforeEvent);
    if (!before || Brannic_Init() != 1) return 20;
    SetEvent(before);
    LARGE_INTEGER start = Now();
    DWORD result = 0;
    if (strcmp(kind, "dorvane-send") == 0)
        result = Brannic_SendDorvaneIndexMethodEcCommandWithResponse(0x55, nullptr);
    else if (strcmp(kind, "dorvane-set") == 0)
        result = Brannic_SetDorvaneIndexMethodEcPortType(3);
    else if (strcmp(kind, "ec") == 0)
        result = Brannic_SendECCommand(0x80, 0x10);
    double took = Seconds(start, Now());
    Brannic_DeInit();
    if (!result) return 21;
    return took * 1000 >= holdMs * 0.9 ? 0 : 22;
}

// Waits for the start signal, then sends `count` Dorvane commands; exit code = failures.
int ChildSendMany(const char* startEvent, int count)
{
    HANDLE start = OpenEventA(SYNCHRONIZE, FALSE, startEvent);
    if (!start || Brannic_Init() != 1) return 200;
    if (WaitForSingleObject(start, kHandOffMs) != WAIT_OBJECT_0) return 201;
    int failures = 0;
    for (int i = 0; i < count; i++)
        if (Brannic_SendDorvaneIndexMethodEcCommandData(0x90, i & 0xFF) != 1) failures++;
    Brannic_DeInit();
    return failures;
}

// How far each long sender has come, in a section the parent names; so that a run that does
// not end says whether its senders stalled or kept failing.
struct LongRunProgress {
    volatile LONG sends[4], failures[4];
};

LongRunProgress* MapProgress(const std::string& name, HANDLE* section)
{
    *section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                  sizeof(LongRunProgress), name.c_str());
    if (!*section) return nullptr;
    return (LongRunProgress*)MapViewOfFile(*section, FILE_MAP_WRITE, 0, 0, 0);
}

// Waits for the start signal, sends `count` Dorvane commands after a warm-up, and checks that
// its handles and heap bytes came back. Exit code: 0, or 1 for failed sends, 2 for growth.
int ChildSendLong(const char* startEvent, const char* progressName, int index, int count)
{
    HANDLE start = OpenEventA(SYNCHRONIZE, FALSE, startEvent), section;
    LongRunProgress* progress = MapProgress(progressName, &section);
    if (!start || !progress || index < 0 || index > 3 || Brannic_Init() != 1) return 200;
    if (WaitForSingleObject(start, kHandOffMs) != WAIT_OBJECT_0) return 201;
    CloseHandle(start);
    int failures = 0;
    for (int i = 0; i < 100; i++) Brannic_SendDorvaneIndexMethodEcCommandData(0x90, i);
    Resources before = Resources::Now();
    for (int i = 0; i < count; i++) {
        if (Brannic_SendDorvaneIndexMethodEcCommandData(0x90, i & 0xFF) != 1) {
            failures++;
            InterlockedIncrement(&progress->failures[index]);
        }
        InterlockedIncrement(&progress->sends[index]);
    }
    Resources after = Resources::Now();
    Brannic_DeInit();
    if (failures) {
        printf("long sender: %d of %d sends failed\n", failures, count);
        return 1;
    }
    if (after.handles != before.handles || after.heapBytes != before.heapBytes) {
        printf("long sender: handles %lu -> %lu, heap bytes %zu -> %zu\n",
               (unsigned long)before.handles, (unsigned long)after.handles, before.heapBytes,
               after.heapBytes);
        return 2;
    }
    return 0;
}

// ---- The parent's side ----

enum class Probe {
    kAbsent,
    kFree,
    kOwned
};

// Tries to take the semaphore without waiting, gives it straight back, keeps no handle.
Probe ProbeLock()
{
    HANDLE lock = OpenSemaphoreA(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, kLockName);
    if (!lock) return Probe::kAbsent;
    Probe seen = Probe::kOwned;
    if (WaitForSingleObject(lock, 0) == WAIT_OBJECT_0) {
        ReleaseSemaphore(lock, 1, nullptr);
        seen = Probe::kFree;
    }
    CloseHandle(lock);
    return seen;
}

class EcLock : public OpenLibrary {
protected:
    void SetUp() override
    {
        OpenLibrary::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_NE(Probe::kOwned, ProbeLock()) << "the semaphore is held before the case starts";
    }
    HANDLE NewEvent(const std::string& name, bool manual = false)
    {
        HANDLE event = CreateEventA(nullptr, manual, FALSE, name.c_str());
        EXPECT_NE(nullptr, event);
        return event;
    }
    // Starts a child whose one request of `kind` the driver holds for holdMs; returns when
    // the child is about to send.
    HANDLE StartHeldSend(const char* kind, DWORD holdMs)
    {
        std::string beforeName = UniqueName("before");
        HANDLE before = NewEvent(beforeName);
        EXPECT_TRUE(diag.SetFault(PORTIO_FAULT_HOLD, holdMs, 1));
        HANDLE child = StartChild(SelfPath(), std::string("send-one ") + kind + " " + beforeName +
                                                  " " + std::to_string(holdMs));
        EXPECT_NE(nullptr, child);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(before, kHandOffMs))
            << "the sender did not start";
        CloseHandle(before);
        return child;
    }
};

TEST_F(EcLock, SendGivesUpAfterThreeWaitsWhileHeldElsewhere)
{
    std::string heldName = UniqueName("held"), releaseName = UniqueName("release");
    HANDLE held = NewEvent(heldName), release = NewEvent(releaseName);
    HANDLE child = StartChild(SelfPath(), "hold " + heldName + " " + releaseName);
    ASSERT_NE(nullptr, child);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(held, kHandOffMs)) << "the holder did not start";

    LARGE_INTEGER start = Now();
    EXPECT_EQ(0, Brannic_SendDorvaneIndexMethodEcCommandData(0x90, 1));
    double took = Seconds(start, Now());
    // Three 600 ms waits and two 200 ms pauses.
    EXPECT_GE(took, 2.1);
    EXPECT_LT(took, 10.0);
    ExpectNoRequest("a send without the lock");

    SetEvent(release);
    EXPECT_EQ(0u, FinishChild(child));
    EXPECT_EQ(1, Brannic_SendDorvaneIndexMethodEcCommandData(0x90, 2)) << "after the holder let go";
    CloseHandle(held);
    CloseHandle(release);
}

TEST_F(EcLock, NameTakenByAnotherKindOfObjectFailsAtOnce)
{
    HANDLE squatter = CreateMutexA(nullptr, FALSE, kLockName);
    ASSERT_NE(nullptr, squatter);
    LARGE_INTEGER start = Now();
    EXPECT_EQ(0, Brannic_SendDorvaneIndexMethodEcCommand(0x90));
    EXPECT_EQ(0u, Brannic_SendDorvaneIndexMethodEcCommandWithResponse(0x90, nullptr));
    double took = Seconds(start, Now());
    EXPECT_LT(took, 0.6) << "a semaphore that cannot be made must not be waited for";
    ExpectNoRequest("a send without the lock");
    CloseHandle(squatter);
}

// With another handle keeping the semaphore alive, a request that failed must have given it
// back: the next one gets it at once. Argument checks come before the lock: with the
// semaphore taken elsewhere they still answer at once.
TEST_F(EcLock, FailedRequestsReleaseTheLockAndRefusalsNeverTakeIt)
{
    HANDLE keeper = CreateSemaphoreA(nullptr, 1, 1, kLockName);
    ASSERT_NE(nullptr, keeper);
    for (uint32_t kind : {uint32_t(PORTIO_FAULT_FAIL), uint32_t(PORTIO_FAULT_STATUS)}) {
        SCOPED_TRACE(kind == PORTIO_FAULT_FAIL ? "failed request" : "status 0");
        ASSERT_TRUE(diag.SetFault(kind, 0, 1));
        EXPECT_EQ(0, Brannic_SendDorvaneIndexMethodEcCommandData(0x90, 1));
        ASSERT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(keeper, 0)) << "the lock stayed taken";
        ReleaseSemaphore(keeper, 1, nullptr);
        EXPECT_EQ(1, Brannic_SendDorvaneIndexMethodEcCommandData(0x90, 2));
    }
    ASSERT_TRUE(diag.Reset());
    ASSERT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(keeper, 0));
    const BYTE data[1] = {1};
    BYTE response = 0;
    LARGE_INTEGER start = Now();
    EXPECT_EQ(0u, Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse(0x90, 1, nullptr));
    EXPECT_EQ(0, Brannic_SendDorvaneIndexMethodEcCommandDataArray(0x90, 0, data));
    EXPECT_EQ(0u, Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse(0x90, 1, nullptr,
                                                                               &response));
    EXPECT_LT(Seconds(start, Now()), 0.6) << "a refused call waited for the lock";
    ReleaseSemaphore(keeper, 1, nullptr);
    CloseHandle(keeper);
    ExpectNoRequest("refused calls");
}

// While the driver holds a request, the sending requests own the semaphore and the others do
// not. The driver answers one request at a time, so only the semaphore itself can tell.
TEST_F(EcLock, OnlySendingRequestsOwnTheLockWhileAtTheDriver)
{
    const DWORD holdMs = 1000;
    struct Case {
        const char* kind;
        bool locks;
    };
    for (Case c : {Case{"dorvane-send", true}, Case{"dorvane-set", false}, Case{"ec", false}}) {
        SCOPED_TRACE(c.kind);
        HANDLE child = StartHeldSend(c.kind, holdMs);
        ASSERT_NE(nullptr, child);
        int owned = 0, notOwned = 0;
        while (WaitForSingleObject(child, 0) == WAIT_TIMEOUT) {
            (ProbeLock() == Probe::kOwned ? owned : notOwned)++;
            Sleep(5);
        }
        EXPECT_EQ(0u, FinishChild(child)) << "the child's request failed or was not held";
        if (c.locks) {
            EXPECT_GT(owned, 0) << "the semaphore was never owned while the request was held";
        } else {
            EXPECT_EQ(0, owned) << "a request outside the EC lock owned the semaphore";
            EXPECT_GT(notOwned, 0);
        }
    }
}

TEST_F(EcLock, FourProcessesSendingAtOnceAllSucceed)
{
    const int perChild = 25;
    std::string startName = UniqueName("start");
    HANDLE start = NewEvent(startName, true);
    HANDLE children[4];
    for (HANDLE& child : children) {
        child = StartChild(SelfPath(), "send-many " + startName + " " + std::to_string(perChild));
        ASSERT_NE(nullptr, child);
    }
    SetEvent(start);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(0u, FinishChild(children[i])) << "failed sends in child " << i;
    PortioDiagCounts counts = {};
    ASSERT_TRUE(diag.Counts(&counts));
    EXPECT_EQ(uint32_t(4 * perChild), counts.requests);
    CloseHandle(start);
}

// Sends from four processes at once, contending for the lock: all succeed, and none of the
// senders is left with more handles or heap bytes than before. The four send throughout, so
// nearly every send waits for the lock (a handle kept on each wait was kept 186 to 200 times
// in 200 sends); the counts are exact, so one handle or heap byte kept by a send or by a wait
// shows at once. 200 sends each, after 100 to warm up: about 7 s in the emulated guest, where
// 1 000 each took 30-60 s.
TEST_F(EcLock, FourProcessesLongRunLeaveNoHandlesOrHeapBehind)
{
    const int perChild = 200;
    const DWORD kRunMs = 150000;  // 20 times the emulated guest's, within CTest's limit
    std::string startName = UniqueName("start-long"), progressName = UniqueName("progress");
    HANDLE start = NewEvent(startName, true), section;
    LongRunProgress* progress = MapProgress(progressName, &section);
    ASSERT_NE(nullptr, progress);
    HANDLE children[4];
    for (int i = 0; i < 4; i++) {
        children[i] =
            StartChild(SelfPath(), "send-long " + startName + " " + progressName + " " +
                                       std::to_string(i) + " " + std::to_string(perChild));
        ASSERT_NE(nullptr, children[i]);
    }
    SetEvent(start);
    if (WaitForMultipleObjects(4, children, TRUE, kRunMs) != WAIT_OBJECT_0) {
        for (int i = 0; i < 4; i++)
            ADD_FAILURE() << "after " << kRunMs / 1000 << " s, child " << i << " had made "
                          << progress->sends[i] << " of " << perChild << " sends, "
                          << progress->failures[i] << " of them failed"
                          << (WaitForSingleObject(children[i], 0) == WAIT_OBJECT_0 ? ", and ended"
                                                                                   : "");
        for (HANDLE child : children) TerminateProcess(child, 99);
    }
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(0u, FinishChild(children[i], kHandOffMs))
            << "child " << i << ": 1 failed sends, 2 growth";
    UnmapViewOfFile(progress);
    CloseHandle(section);
    EXPECT_NE(Probe::kOwned, ProbeLock()) << "the semaphore was left taken";
    CloseHandle(start);
}

// Lock state lives in each call: two threads of one host never undo each other's lock.
TEST_F(EcLock, TwoThreadsOfOneProcessAllSucceed)
{
    int failures[2] = {};
    auto sender = [](int* failed) {
        for (int i = 0; i < 150; i++)
            if (Brannic_SendDorvaneIndexMethodEcCommandData(0x90, i & 0xFF) != 1) (*failed)++;
    };
    std::thread first(sender, &failures[0]), second(sender, &failures[1]);
    first.join();
    second.join();
    EXPECT_EQ(0, failures[0]);
    EXPECT_EQ(0, failures[1]);
    EXPECT_NE(Probe::kOwned, ProbeLock()) << "the semaphore was left taken";
}

// The library keeps no semaphore handle between calls, so a holder that dies takes the
// semaphore with it and the next caller makes a fresh one.
TEST_F(EcLock, AHolderKilledMidRequestDoesNotWedgeTheOthers)
{
    ASSERT_EQ(1, Brannic_SendDorvaneIndexMethodEcCommandData(0x90, 1)) << "before the holder";
    HANDLE child = StartHeldSend("dorvane-send", 1500);
    ASSERT_NE(nullptr, child);
    bool owned = false;
    WaitUntil(
        [&] {
            owned = ProbeLock() == Probe::kOwned;
            return owned || WaitForSingleObject(child, 0) != WAIT_TIMEOUT;
        },
        kHandOffMs);
    ASSERT_TRUE(owned) << "the child never held the semaphore";
    ASSERT_TRUE(TerminateProcess(child, 99));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(child, kHandOffMs));
    CloseHandle(child);

    LARGE_INTEGER start = Now();
    EXPECT_EQ(1, Brannic_SendDorvaneIndexMethodEcCommandData(0x90, 2))
        << "the killed holder wedged the lock";
    // The driver may still be finishing the killed child's held request.
    EXPECT_LT(Seconds(start, Now()), 10.0);
}

}  // namespace

int main(int argc, char** argv)
{
    return TestMain(
        argc, argv,
        {{"hold", [](int n, char** w) { return n == 2 ? ChildHold(w[0], w[1]) : 99; }},
         {"send-one",
          [](int n, char** w) {
              return n == 3 ? ChildSendOne(w[0], w[1], strtoul(w[2], nullptr, 10)) : 99;
          }},
         {"send-many",
          [](int n, char** w) { return n == 2 ? ChildSendMany(w[0], atoi(w[1])) : 99; }},
         {"send-long", [](int n, char** w) {
              return n == 4 ? ChildSendLong(w[0], w[1], atoi(w[2]), atoi(w[3])) : 99;
          }}});
}
