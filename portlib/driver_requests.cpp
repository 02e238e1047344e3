// The request contract: the common guard, one synchronous request per call, and the heap
// records of variable length.
#include "driver_requests.h"
#include "context.h"

bool DriverGuard() { return g_contextOpenCount > 0 && g_contextNtFlag == 1; }

BOOL DriverRequest(DWORD code, const void* input, DWORD inputLength, void* output,
                   DWORD outputLength)
{
    // A failed request leaves the count untouched, so it starts defined.
    DWORD returned = 0;
    return DeviceIoControl(g_contextDevice, code, (void*)input, inputLength, output, outputLength,
                           &returned, nullptr);
}

uint8_t* AllocateRecord(uint64_t size)
{
    if (size > 0xFFFFFFFFull) return nullptr;
    uint8_t* record = (uint8_t*)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)size);
    if (record) ZeroBytes(record, (size_t)size);
    return record;
}

void FreeRecord(uint8_t* record) { HeapFree(GetProcessHeap(), 0, record); }
