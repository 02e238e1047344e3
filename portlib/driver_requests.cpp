/* The request contract: the common guard and one synchronous request per call. */
#include "driver_requests.h"
#include "context.h"

BOOL DriverGuard(void)
{
    return g_contextOpenCount > 0 && g_contextNtFlag == 1;
}

BOOL DriverRequest(DWORD code, const void *input, DWORD inputLength,
                    void *output, DWORD outputLength)
{
    /* A failed request leaves the count untouched, so it starts defined. */
    DWORD returned = 0;

    return DeviceIoControl(g_contextDevice, code, (void *)input, inputLength,
                           output, outputLength, &returned, NULL);
}
