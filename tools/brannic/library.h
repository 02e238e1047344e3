// How brannic.exe opens and closes Brannic.dll, set from the options before the command.
#ifndef BRANNIC_CLI_LIBRARY_H
#define BRANNIC_CLI_LIBRARY_H

#include <windows.h>

struct LibraryOptions {
    bool wait;              // Brannic_Init (waits for the device) instead of Brannic_InitExA
    BOOL install;           // Brannic_InitExA registers the service when the device is missing
    BOOL autoStart;         // ... with automatic start
    const char* driverDir;  // ... for Tamsk.sys in this folder (null: the library's folder)
    bool removeService;     // close with Brannic_DeInitEx(TRUE)
};

extern LibraryOptions g_library;

// Closes the library once if a command opened it.
void CloseLibrary();

#endif  // BRANNIC_CLI_LIBRARY_H
