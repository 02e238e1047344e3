// A small host of Brannic.dll: reads one I/O port and prints its value.
//
//     brannic_example [PORT]      PORT in decimal or 0x-hex, 0x80 when not given
//
// It opens the library with one try that also starts the driver service if it is registered
// but stopped, reads the byte, and closes the library once for its one open.
#include <stdio.h>
#include <stdlib.h>

#include "Brannic.h"

int main(int argc, char** argv)
{
    unsigned long port = 0x80;
    char* end = NULL;
    BYTE value = 0;
    BOOL read;

    if (argc > 1) {
        port = strtoul(argv[1], &end, 0);
        if (*argv[1] == '\0' || *end != '\0' || port > 0xFFFF) {
            printf("brannic_example: \"%s\" is not a port (0 to 0xFFFF)\n", argv[1]);
            return 2;
        }
    }
    if (!Brannic_InitExA(FALSE, FALSE, NULL)) {
        printf("brannic_example: Brannic.dll %s did not open: is the driver running?\n",
               BRANNIC_VERSION_STRING);
        return 1;
    }
    read = Brannic_InputByteValue((DWORD)port, &value);
    Brannic_DeInitEx(FALSE);
    if (!read) {
        printf("brannic_example: reading port 0x%04lX failed\n", port);
        return 1;
    }
    printf("port 0x%04lX: 0x%02X\n", port, value);
    return 0;
}
