// The library links no C runtime, so the block fills and copies the compiler emits (and
// ZeroBytes/CopyBytes) land here. GCC recognises these very loops as memset and memcpy and
// would compile them into calls to themselves: the build compiles this file with
// -ffreestanding and -fno-tree-loop-distribute-patterns, and checks the object for calls
// before linking (check_no_calls.sh), so a lost flag fails the build instead of recursing.
#include <stdint.h>
#include "no_runtime.h"

extern "C" void* memset(void* block, int value, size_t size)
{
    uint8_t* p = (uint8_t*)block;
    while (size--) *p++ = (uint8_t)value;
    return block;
}

extern "C" void* memcpy(void* to, const void* from, size_t size)
{
    uint8_t* d = (uint8_t*)to;
    const uint8_t* s = (const uint8_t*)from;
    while (size--) *d++ = *s++;
    return to;
}
