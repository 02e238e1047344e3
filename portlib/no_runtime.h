// The library links no C runtime: block fills and copies resolve to its own memset and memcpy
// (no_runtime.cpp).
#pragma once
#include <stddef.h>

static inline void ZeroBytes(void* block, size_t size) { __builtin_memset(block, 0, size); }
static inline void CopyBytes(void* to, const void* from, size_t size)
{
    __builtin_memcpy(to, from, size);
}
