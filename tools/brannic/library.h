// How brannic.exe opens and closes Brannic.dll, as the options before the command say, and the
// commands over the driver service.
#pragma once
#include <windows.h>

struct LibraryOptions {
    bool wait;              // Brannic_Init (waits for the device) instead of Brannic_InitExA
    BOOL install;           // Brannic_InitExA registers the service when the device is missing
    BOOL autoStart;         // ... with automatic start
    const char* driverDir;  // ... for Tamsk.sys in this folder (null: the library's folder)
    bool removeService;     // close with Brannic_DeInitEx(TRUE)
};

// How the next open and the close go; main sets them once, from the command line.
void UseLibraryOptions(const LibraryOptions& options);
// Opens Brannic.dll as the options say; says why when it fails.
bool OpenLibrary();
// Closes the library once if a command opened it.
void CloseLibrary();
// False, and said, when the command line does not carry the folder exactly as it was typed.
bool FolderIsAsTyped(const char* folder);
