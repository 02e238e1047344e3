/* The library context, written only by context.cpp and read by every request. */
#ifndef PORTLIB_CONTEXT_H
#define PORTLIB_CONTEXT_H

#include <windows.h>

/* Opens not yet matched by closes. */
extern DWORD context_open_count;
/* 1 when the last first open found the NT family. */
extern DWORD context_nt_flag;
/* The one driver device handle; valid while open on the NT family. */
extern HANDLE context_device;

#endif
