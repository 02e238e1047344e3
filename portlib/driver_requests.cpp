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
