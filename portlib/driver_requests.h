/* One synchronous driver request and the guard that every request export applies first. */
#ifndef PORTLIB_DRIVER_REQUESTS_H
#define PORTLIB_DRIVER_REQUESTS_H

#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "driver_protocol.h"

/* Requests go out only while the library is open on the NT family. */
BOOL DriverGuard(void);
/* DeviceIoControl on the context's device; a side without data passes null and 0. */
BOOL DriverRequest(DWORD code, const void *input, DWORD inputLength,
                    void *output, DWORD outputLength);

/* The library links no C runtime: these resolve to its own memset and memcpy (no_runtime.cpp). */
static inline void ZeroBytes(void *block, size_t size) { __builtin_memset(block, 0, size); }
static inline void CopyBytes(void *to, const void *from, size_t size) { __builtin_memcpy(to, from, size); }

/* Element i of a caller's array of width-byte unsigned values. */
static inline uint32_t LoadElement(const void *array, DWORD i, DWORD width)
{
    if (width == 1) return ((const uint8_t *)array)[i];
    if (width == 2) return ((const uint16_t *)array)[i];
    return ((const uint32_t *)array)[i];
}

/* Stores the low width bytes of value as a width-byte unsigned value at to. */
static inline void StoreValue(void *to, uint32_t value, DWORD width)
{
    if (width == 1) *(uint8_t *)to = (uint8_t)value;
    else if (width == 2) *(uint16_t *)to = (uint16_t)value;
    else *(uint32_t *)to = value;
}

/* Record sizes are computed in 64 bits; the driver contract carries 32-bit lengths. */
static inline BOOL SizeFits32(uint64_t size) { return size <= 0xFFFFFFFFull; }

#endif
