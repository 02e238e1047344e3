/* The request contract: the common guard and one synchronous request per call. */
#include "driver_requests.h"
#include "context.h"

BOOL driver_guard(void)
{
    return context_open_count > 0 && context_nt_flag == 1;
}

BOOL driver_request(DWORD code, const void *input, DWORD input_length,
                    void *output, DWORD output_length)
{
    /* A failed request leaves the count untouched, so it starts defined. */
    DWORD returned = 0;

    return DeviceIoControl(context_device, code, (void *)input, input_length,
                           output, output_length, &returned, NULL);
}

/*
 * Without the C runtime the compiler's own calls for block fills and copies land here.
 * The build turns off loop-to-call rewriting so these loops stay loops.
 */
extern "C" void *memset(void *block, int value, size_t size)
{
    uint8_t *p = (uint8_t *)block;
    while (size--) *p++ = (uint8_t)value;
    return block;
}

extern "C" void *memcpy(void *to, const void *from, size_t size)
{
    uint8_t *d = (uint8_t *)to;
    const uint8_t *s = (const uint8_t *)from;
    while (size--) *d++ = *s++;
    return to;
}
