// One synchronous driver request, the guard that every request export applies first, and
// what the request families share to move values: from and to the caller's memory (in the
// caller's own types) and into records (little-endian bytes, driver_protocol.h).
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "driver_protocol.h"
#include "no_runtime.h"

// Requests go out only while the library is open on the NT family.
bool DriverGuard();
// DeviceIoControl on the context's device; a side without data passes null and 0.
BOOL DriverRequest(DWORD code, const void* input, DWORD inputLength, void* output,
                   DWORD outputLength);

// Element i of a caller's array of width-byte unsigned values.
static inline uint32_t LoadFromCaller(const void* array, DWORD i, DWORD width)
{
    if (width == 1) return ((const uint8_t*)array)[i];
    if (width == 2) return ((const uint16_t*)array)[i];
    return ((const uint32_t*)array)[i];
}

// Stores the low width bytes of value in the caller's width-byte unsigned variable at to.
static inline void StoreToCaller(void* to, uint32_t value, DWORD width)
{
    if (width == 1)
        *(uint8_t*)to = (uint8_t)value;
    else if (width == 2)
        *(uint16_t*)to = (uint16_t)value;
    else
        *(uint32_t*)to = value;
}

// A zero-filled record of size bytes from the general heap; null when the size does not fit
// the driver contract's 32-bit lengths or the heap has no room. FreeRecord gives it back.
uint8_t* AllocateRecord(uint64_t size);
void FreeRecord(uint8_t* record);
