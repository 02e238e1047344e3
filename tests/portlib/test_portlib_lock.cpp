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
int ChildHold(const char* held_event, const char* release_event)
{
    HANDLE lock = CreateSemaphoreA(nullptr, 1, 1, kLockName);
    HANDLE held = OpenEventByName(held_event), release = OpenEventByName(release_event);
    if (!lock || !held || !release) return 10;
    if (WaitForSingleObject(lock, kHandOffMs) != WAIT_OBJECT_0) return 11;
    SetEvent(held);
    DWORD waited = WaitForSingleObject(release, kHandOffMs);
    ReleaseSemaphore(lock, 1, nullptr);
    return waited == WAIT_OBJECT_0 ? 0 : 12;
}

// One request of the given kind; the parent has told the driver to hold it. Exit code 0
// when it succeeded and was held for at least `hold_ms`.
int ChildSendOne(const char* kind, const char* before_event, DWORD hold_ms)
{
    HANDLE before = OpenEventByName(before_event);
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
    return took * 1000 >= hold_ms * 0.9 ? 0 : 22;
}

// Waits for the start signal, then sends `count` Dorvane commands; exit code = failures.
int ChildSendMany(const char* start_event, int count)
{
    HANDLE start = OpenEventA(SYNCHRONIZE, FALSE, start_event);
    if (!start || Brannic_Init() != 1) return 200;
    if (WaitForSingleObject(start, kHandOffMs) != WAIT_OBJECT_0) return 201;
    int failures = 0;
    for (int i = 0; i < count; i++)
        if (Brannic_SendDorvaneIndexMethodEcCommandData(0x90, i & 0xFF) != 1) failures++;
    Brannic_DeInit();
    return failures;
}

// Waits for the start signal, sends `count` Dorvane commands after a warm-up, and checks that
// its handles and heap bytes came back. Exit code: 0, or 1 for failed sends, 2 for growth.
int ChildSendLong(const char* start_event, int count)
{
    HANDLE start = OpenEventA(SYNCHRONIZE, FALSE, start_event);
    if (!start || Brannic_Init() != 1) return 200;
    if (WaitForSingleObject(start, kHandOffMs) != WAIT_OBJECT_0) return 201;
    CloseHandle(start);
    int failures = 0;
    for (int i = 0; i < 100; i++) Brannic_SendDorvaneIndexMethodEcCommandData(0x90, i);
    Resources before = Resources::Now();
    for (int i = 0; i < count; i++)
        if (Brannic_SendDorvaneIndexMethodEcCommandData(0x90, i & 0xFF) != 1) failures++;
    Resources after = Resources::Now();
    Brannic_DeInit();
    if (failures) {
        printf("long sender: %d of %d sends failed\n", failures, count);
        return 1;
    }
    if (after.handles != before.handles || after.heap_bytes != before.heap_bytes) {
        printf("long sender: handles %lu -> %lu, heap bytes %zu -> %zu\n", (unsigned long)before.handles,
               (unsigned long)after.handles, before.heap_bytes, after.heap_bytes);
        return 2;
    }
    return 0;
}

// ---- The parent's side ----

enum class Probe { kAbsent, kFree, kOwned };

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
    // Starts a child whose one request of `kind` the driver holds for hold_ms; returns when
    // the child is about to send.
    HANDLE StartHeldSend(const char* kind, DWORD hold_ms)
    {
        std::string before_name = UniqueName("before");
        HANDLE before = NewEvent(before_name);
        EXPECT_TRUE(diag.SetFault(PORTIO_FAULT_HOLD, hold_ms, 1));
        HANDLE child = StartChild(SelfPath(), std::string("send-one ") + kind + " " + before_name + " " +
                                                  std::to_string(hold_ms));
        EXPECT_NE(nullptr, child);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(before, kHandOffMs)) << "the sender did not start";
        CloseHandle(before);
        return child;
    }
};

TEST_F(EcLock, SendGivesUpAfterThreeWaitsWhileHeldElsewhere)
{
    std::string held_name = UniqueName("held"), release_name = UniqueName("release");
    HANDLE held = NewEvent(held_name), release = NewEvent(release_name);
    HANDLE child = StartChild(SelfPath(), "hold " + held_name + " " + release_name);
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
    EXPECT_EQ(0u, Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse(0x90, 1, nullptr, &response));
    EXPECT_LT(Seconds(start, Now()), 0.6) << "a refused call waited for the lock";
    ReleaseSemaphore(keeper, 1, nullptr);
    CloseHandle(keeper);
    ExpectNoRequest("refused calls");
}

// While the driver holds a request, the sending requests own the semaphore and the others do
// not. The driver answers one request at a time, so only the semaphore itself can tell.
TEST_F(EcLock, OnlySendingRequestsOwnTheLockWhileAtTheDriver)
{
    const DWORD hold_ms = 1000;
    struct Case {
        const char* kind;
        bool locks;
    };
    for (Case c : {Case{"dorvane-send", true}, Case{"dorvane-set", false}, Case{"ec", false}}) {
        SCOPED_TRACE(c.kind);
        HANDLE child = StartHeldSend(c.kind, hold_ms);
        ASSERT_NE(nullptr, child);
        int owned = 0, not_owned = 0;
        while (WaitForSingleObject(child, 0) == WAIT_TIMEOUT) {
            (ProbeLock() == Probe::kOwned ? owned : not_owned)++;
            Sleep(5);
        }
        EXPECT_EQ(0u, FinishChild(child)) << "the child's request failed or was not held";
        if (c.locks) {
            EXPECT_GT(owned, 0) << "the semaphore was never owned while the request was held";
        } else {
            EXPECT_EQ(0, owned) << "a request outside the EC lock owned the semaphore";
            EXPECT_GT(not_owned, 0);
        }
    }
}

TEST_F(EcLock, FourProcessesSendingAtOnceAllSucceed)
{
    const int per_child = 25;
    std::string start_name = UniqueName("start");
    HANDLE start = NewEvent(start_name, true);
    HANDLE children[4];
    for (HANDLE& child : children) {
        child = StartChild(SelfPath(), "send-many " + start_name + " " + std::to_string(per_child));
        ASSERT_NE(nullptr, child);
    }
    SetEvent(start);
    for (int i = 0; i < 4; i++) EXPECT_EQ(0u, FinishChild(children[i])) << "failed sends in child " << i;
    portio_diag_counts counts = {};
    ASSERT_TRUE(diag.Counts(&counts));
    EXPECT_EQ(uint32_t(4 * per_child), counts.requests);
    CloseHandle(start);
}

// 4 000 sends from four processes at once, contending for the lock: all succeed, and none of
// the senders is left with more handles or heap bytes than before.
TEST_F(EcLock, FourProcessesLongRunLeaveNoHandlesOrHeapBehind)
{
    const int per_child = 1000;
    std::string start_name = UniqueName("start-long");
    HANDLE start = NewEvent(start_name, true);
    HANDLE children[4];
    for (HANDLE& child : children) {
        child = StartChild(SelfPath(), "send-long " + start_name + " " + std::to_string(per_child));
        ASSERT_NE(nullptr, child);
    }
    SetEvent(start);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(0u, FinishChild(children[i], 540000)) << "child " << i << ": 1 failed sends, 2 growth";
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
    for (int tries = 0; !owned && tries < 2000 && WaitForSingleObject(child, 0) == WAIT_TIMEOUT; tries++) {
        owned = ProbeLock() == Probe::kOwned;
        if (!owned) Sleep(2);
    }
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
    if (argc >= 3 && strcmp(argv[1], "child") == 0) {
        if (strcmp(argv[2], "hold") == 0 && argc == 5) return ChildHold(argv[3], argv[4]);
        if (strcmp(argv[2], "send-one") == 0 && argc == 6)
            return ChildSendOne(argv[3], argv[4], strtoul(argv[5], nullptr, 10));
        if (strcmp(argv[2], "send-many") == 0 && argc == 5)
            return ChildSendMany(argv[3], atoi(argv[4]));
        if (strcmp(argv[2], "send-long") == 0 && argc == 5)
            return ChildSendLong(argv[3], atoi(argv[4]));
        return 99;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
