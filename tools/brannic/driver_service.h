// The driver service as brannic.exe looks at it with calls of its own, since the library's
// exports only return 0: the service manager's and the registry's functions, bound at run time
// (Windows 95 has no service manager, and there brannic.exe must still load), the registered
// image path, why a start failed in words, and the explanation of a failed open.
#pragma once

#include <windows.h>

#include "run_time_binding.h"

#define SERVICE_FUNCTIONS(X)                                                                       \
    X(OpenSCManagerA, BINDING_DECLARED(OpenSCManagerA))                                            \
    X(OpenServiceA, BINDING_DECLARED(OpenServiceA))                                                \
    X(QueryServiceConfigA, BINDING_DECLARED(QueryServiceConfigA))                                  \
    X(QueryServiceStatus, BINDING_DECLARED(QueryServiceStatus))                                    \
    X(ChangeServiceConfigA, BINDING_DECLARED(ChangeServiceConfigA))                                \
    X(StartServiceA, BINDING_DECLARED(StartServiceA))                                              \
    X(CloseServiceHandle, BINDING_DECLARED(CloseServiceHandle))                                    \
    X(RegOpenKeyExA, BINDING_DECLARED(RegOpenKeyExA))                                              \
    X(RegQueryValueExA, BINDING_DECLARED(RegQueryValueExA))                                        \
    X(RegCloseKey, BINDING_DECLARED(RegCloseKey))

struct ServiceTable {
    SERVICE_FUNCTIONS(BINDING_SLOT)
};
// Filled by BindServiceFunctions.
extern ServiceTable g_service;

// True when every slot of g_service was filled: each check needs them all.
bool BindServiceFunctions();

// The platform's text for an error code, on one line; "" when it has none.
const char* ErrorText(DWORD error);

// "ImagePath" and "Start" of the service's registry key, each left as it is when unreadable.
void ReadServiceKey(char* image, DWORD size, DWORD* start);

// The file an image path names; false when it does not fit.
bool DriverFileOf(const char* imagePath, char* file, size_t size);

// The reason the service recorded for its last failed start (its service-specific code stands
// for ERROR_SERVICE_SPECIFIC_ERROR); 0 when it records none, and for "never started".
DWORD RecordedStartFailure(const SERVICE_STATUS& status);

// "words (error N: the platform's text)" for a failed start, in a buffer of its own.
const char* StartFailureText(DWORD error);
// One line of advice for the common reasons a start fails; null for the others.
const char* StartFailureAdvice(DWORD error);

// After a failed open, on the error stream: why the driver does not run, where brannic can
// learn it: the service's record of its last start or, when `mayStart` and there is none, the
// error of a start made now; and a driver file built for another processor.
void ExplainFailedOpen(bool mayStart);
