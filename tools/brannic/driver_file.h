// The registered driver file itself: the processor it is built for, against the one this
// Windows loads drivers for, and who may change the file or its folder (and so have their own
// code run in the kernel at the driver's next start).
#pragma once

#include <windows.h>

// The machine (IMAGE_FILE_MACHINE_...) whose drivers this Windows loads: its own processor,
// also for a 32-bit process on 64-bit Windows.
WORD PlatformMachine();
// The machine a PE file's header names; 0 when it cannot be read or is no PE file.
WORD FileMachine(const char* file);
// "x64", "32-bit x86", ...; for another machine its number, in a buffer of its own.
const char* MachineName(WORD machine);

enum WriteAccess {
    kWriteAccessUnknown,  // the security descriptor cannot be read (`who` says why)
    kAdministratorsOnly,  // only Administrators, SYSTEM, TrustedInstaller and CREATOR OWNER
    kOthersMayWrite       // `who` names the others, or says that there is no access list
};
// Who besides the administrators may write, append to, delete, or change the access or owner
// of `path` (a file or a folder): the accounts its access list allows that, and its owner,
// who may always change the access list.
WriteAccess CheckWriteAccess(const char* path, char* who, size_t size);
