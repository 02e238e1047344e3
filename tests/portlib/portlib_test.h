// Shared by the port library's test programs: the library opened on a fresh stand-in driver
// and its request log, and child copies of the running test program.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Brannic.h"
#include "driver_protocol.h"
#include "driver_test.h"
#include "test_main.h"
#include "test_support.h"

namespace portlib_test {

using driver_diag::Bytes;
using driver_diag::Cat;
using driver_diag::CodeText;
using driver_diag::CountsOf;
using driver_diag::EnsureDriver;
using driver_diag::FreshDriver;
using driver_diag::Hex;
using driver_diag::IsRequest;
using driver_diag::Le;
using driver_diag::Zeros;

// Leaves 0xA5 in the stack below the caller, where the next call's locals will sit, so that
// storage a function fails to preset shows up as nonzero bytes.
__attribute__((noinline)) inline void DirtyStack()
{
    volatile uint8_t junk[16384];
    for (size_t i = 0; i < sizeof(junk); i++) junk[i] = 0xA5;
}

// A case that starts with the stand-in driver running and its log, counts, fault and machine
// cleared, and the library open once.
class OpenLibrary : public FreshDriver {
protected:
    void SetUp() override
    {
        FreshDriver::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(1, Brannic_Init());
    }
    void TearDown() override { Brannic_DeInit(); }
};

// Starts `exe child <arguments>`; the child shares this program's console output.
inline HANDLE StartChild(const std::string& exe, const std::string& arguments)
{
    return StartProcess(exe, "child " + arguments);
}

// The bytes allocated from the process's heap, walked block by block.
inline size_t HeapBytesInUse()
{
    PROCESS_HEAP_ENTRY entry = {};
    size_t busy = 0;
    HANDLE heap = GetProcessHeap();
    HeapLock(heap);
    while (HeapWalk(heap, &entry))
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
    HeapUnlock(heap);
    return busy;
}

// Exit code of a child that ends within the time limit; 0xFFFFFFFF when it did not.
inline DWORD FinishChild(HANDLE process, DWORD limitMs = 60000)
{
    DWORD code = 0xFFFFFFFF;
    if (process && WaitForSingleObject(process, limitMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    if (process) CloseHandle(process);
    return code;
}

// Runs `child <mode>` in a copy of this program, named copyName, that Wine reports as
// Windows 98, expects exit code 0 (the child prints the checks that failed), and checks that
// the child never reached the driver.
inline void RunAsWindows98Child(const char* copyName, const char* mode)
{
    EnsureDriver();
    driver_diag::Device diag;
    ASSERT_TRUE(diag.Reset());
    std::string copy = DirectoryOf(SelfPath()) + "\\" + copyName;
    ASSERT_TRUE(CopyFileA(SelfPath().c_str(), copy.c_str(), FALSE)) << GetLastError();
    ASSERT_TRUE(SetWindowsVersion(copyName, "win98"));
    EXPECT_EQ(0u, FinishChild(StartChild(copy, mode)))
        << "checks that failed in the child are printed above";
    PortioDiagCounts counts = CountsOf(diag);
    EXPECT_EQ(0u, counts.opens) << "the child opened the device";
    EXPECT_EQ(0u, counts.requests) << "the child sent requests";
}

// What a long run must give back: the process's open handles and the bytes allocated from
// its heap (walked block by block). GetProcessHandleCount reports 0 under Wine, so handles are
// counted in the system's handle table, which Wine and Windows both list.
struct Resources {
    DWORD handles = 0;
    size_t heapBytes = 0;

    static Resources Now()
    {
        Resources now;
        now.handles = CountHandles();
        now.heapBytes = HeapBytesInUse();
        return now;
    }

    // Entries of the system handle table (information class 16) that belong to this process.
    static DWORD CountHandles()
    {
        struct Entry {
            ULONG processId;  // the low 16 bits on Windows, where a trace index follows
            BYTE type, flags;
            USHORT handle;
            void* object;
            ACCESS_MASK access;
        };
        typedef LONG(WINAPI * QueryFn)(ULONG, void*, ULONG, ULONG*);
        static const QueryFn kQuery = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
        std::vector<uint8_t> table(1 << 20);
        ULONG needed = 0;
        while (kQuery && kQuery(16, table.data(), ULONG(table.size()), &needed) == LONG(0xC0000004))
            table.resize(table.size() * 2);  // STATUS_INFO_LENGTH_MISMATCH
        // A 32-bit count, then the entries at their own alignment.
        const ULONG count = *reinterpret_cast<const ULONG*>(table.data());
        const Entry* entries = reinterpret_cast<const Entry*>(table.data() + alignof(Entry));
        DWORD mine = 0;
        for (ULONG i = 0; i < count; i++)
            if ((entries[i].processId & 0xFFFF) == (GetCurrentProcessId() & 0xFFFF)) mine++;
        return mine;
    }
};

inline std::string UniqueName(const char* what)
{
    return std::string("portlib-test-") + what + "-" + std::to_string(GetCurrentProcessId());
}

inline double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

inline LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

}  // namespace portlib_test
