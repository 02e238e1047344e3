// Brannic.dll: port I/O for host programs. On the Windows NT family every access goes
// through the port I/O driver; elsewhere the six port functions use the port instructions.
//
// Open the library with Brannic_Init or Brannic_InitEx*, call requests, close it once per
// successful open. Every function returns 0 for failure or refusal. Integer parameters
// are 32 bits wide; narrower values are taken from their low bits.
#ifndef BRANNIC_H
#define BRANNIC_H

#include <windows.h>

// The release this header belongs to. The build stops when these differ from the project's
// version, so the header, the binaries' version resources and the release agree.
#define BRANNIC_VERSION_MAJOR 1
#define BRANNIC_VERSION_MINOR 0
#define BRANNIC_VERSION_PATCH 0
#define BRANNIC_VERSION_STRING "1.0.0"

#ifdef __cplusplus
extern "C" {
#endif

// ---- Opening, closing and the driver service ----

// 1 when the library is open afterwards; waits up to about 20 s for the device.
BOOL WINAPI Brannic_Init(void);
// Always 1; the close that ends the last open closes the device.
BOOL WINAPI Brannic_DeInit(void);
// 1 when open; on a missing device optionally registers the driver, starts it, tries once more.
BOOL WINAPI Brannic_InitExA(BOOL installService, BOOL autoStart, LPCSTR driverDir);
// As Brannic_InitExA with a wide directory (converted to the OEM code page).
BOOL WINAPI Brannic_InitExW(BOOL installService, BOOL autoStart, LPCWSTR driverDir);
// Always 1; the last close also closes the service handles and may delete the service.
BOOL WINAPI Brannic_DeInitEx(BOOL removeService);
// 1 when the driver service is registered or its path and start type updated.
BOOL WINAPI Brannic_AddServiceA(BOOL autoStart, LPCSTR driverDir);
// As Brannic_AddServiceA with a wide directory (converted to the OEM code page).
BOOL WINAPI Brannic_AddServiceW(BOOL autoStart, LPCWSTR driverDir);
// 1 when the driver service was deleted (a running driver is only marked for deletion).
BOOL WINAPI Brannic_RemoveService(void);

// ---- Single I/O ports ----

// 1 when the byte at port was read into *value.
BOOL WINAPI Brannic_InputByteValue(DWORD port, BYTE* value);
// 1 when the word at port was read into *value.
BOOL WINAPI Brannic_InputWordValue(DWORD port, WORD* value);
// 1 when the double word at port was read into *value.
BOOL WINAPI Brannic_InputDWordValue(DWORD port, DWORD* value);
// 1 when the byte was written; then stores it at written when that is not null.
BOOL WINAPI Brannic_OutputByteValue(DWORD port, DWORD value, BYTE* written);
// 1 when the word was written; then stores it at written when that is not null.
BOOL WINAPI Brannic_OutputWordValue(DWORD port, DWORD value, WORD* written);
// 1 when the double word was written; then stores it at written when that is not null.
BOOL WINAPI Brannic_OutputDWordValue(DWORD port, DWORD value, DWORD* written);

// ---- Registers behind an index/data port pair ----

// Nonzero when the driver read the register into *value.
BOOL WINAPI Brannic_ReadIndexedByte(DWORD indexPort, DWORD dataPort, DWORD index, BYTE* value);
// Nonzero when the driver read the register into *value.
BOOL WINAPI Brannic_ReadIndexedWord(DWORD indexPort, DWORD dataPort, DWORD index, WORD* value);
// Nonzero when the driver read the register into *value.
BOOL WINAPI Brannic_ReadIndexedDWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD* value);
// Nonzero when the driver wrote the register.
BOOL WINAPI Brannic_WriteIndexedByte(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value);
// Nonzero when the driver wrote the register.
BOOL WINAPI Brannic_WriteIndexedWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value);
// Nonzero when the driver wrote the register.
BOOL WINAPI Brannic_WriteIndexedDWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value);
// Nonzero when the driver read count registers into values, in one request.
BOOL WINAPI Brannic_ReadIndexedByteArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                         const BYTE* indices, BYTE* values);
// Nonzero when the driver read count registers into values, in one request.
BOOL WINAPI Brannic_ReadIndexedWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                         const WORD* indices, WORD* values);
// Nonzero when the driver read count registers into values, in one request.
BOOL WINAPI Brannic_ReadIndexedDWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const DWORD* indices, DWORD* values);
// Nonzero when the driver wrote count registers, in one request.
BOOL WINAPI Brannic_WriteIndexedByteArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const BYTE* indices, const BYTE* values);
// Nonzero when the driver wrote count registers, in one request.
BOOL WINAPI Brannic_WriteIndexedWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const WORD* indices, const WORD* values);
// Nonzero when the driver wrote count registers, in one request.
BOOL WINAPI Brannic_WriteIndexedDWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                           const DWORD* indices, const DWORD* values);

// ---- EC commands (no cross-process lock) ----

// The driver's status double word (0 = failure) for command and data on the default ports.
DWORD WINAPI Brannic_SendECCommand(DWORD command, DWORD data);
// The status double word; on nonzero status the response byte goes to response if not null.
DWORD WINAPI Brannic_SendECCommandWithResponse(DWORD command, DWORD data, BYTE* response);
// The status double word for command and data on the named port pair.
DWORD WINAPI Brannic_SendSpecifiedPortECCommand(DWORD commandPort, DWORD dataPort, DWORD command,
                                                DWORD data);
// The status double word; on nonzero status the response byte goes to response if not null.
DWORD WINAPI Brannic_SendSpecifiedPortECCommandWithResponse(DWORD commandPort, DWORD dataPort,
                                                            DWORD command, DWORD data,
                                                            BYTE* response);

// ---- Dorvane index method: configuration (no lock) ----

// 1 when the driver took the port type with a nonzero status.
BOOL WINAPI Brannic_SetDorvaneIndexMethodEcPortType(DWORD portType);
// 1 when the driver took the four I/O addresses with a nonzero status.
BOOL WINAPI Brannic_SetDorvaneIndexMethodIoAddress(DWORD address1, DWORD address2, DWORD address3,
                                                   DWORD address4);
// 1 when the driver took the four port devices with a nonzero status.
BOOL WINAPI Brannic_SetDorvaneIndexMethodEcPortDevice(DWORD device1, DWORD device2, DWORD device3,
                                                      DWORD device4);
// Nonzero when the port type was read into *portType.
BOOL WINAPI Brannic_GetDorvaneIndexMethodEcPortType(BYTE* portType);
// Nonzero when the four I/O addresses were read; all pointers required.
BOOL WINAPI Brannic_GetDorvaneIndexMethodIoAddress(WORD* address1, WORD* address2, WORD* address3,
                                                   WORD* address4);
// Nonzero when the four port devices were read; all pointers required.
BOOL WINAPI Brannic_GetDorvaneIndexMethodEcPortDevice(BYTE* device1, BYTE* device2, BYTE* device3,
                                                      BYTE* device4);
// Nonzero when the four EC addresses were read; all pointers required.
BOOL WINAPI Brannic_GetDorvaneIndexMethodEcAddress(WORD* address1, WORD* address2, WORD* address3,
                                                   WORD* address4);
// 1 when the driver took the four EC addresses with a nonzero status.
BOOL WINAPI Brannic_SetDorvaneIndexMethodEcAddress(DWORD address1, DWORD address2, DWORD address3,
                                                   DWORD address4);

// ---- Dorvane index method: EC commands, serialised across processes ----

// 1 when the command was sent with a nonzero status.
BOOL WINAPI Brannic_SendDorvaneIndexMethodEcCommand(DWORD command);
// The status double word; on nonzero status the response byte goes to response if not null.
DWORD WINAPI Brannic_SendDorvaneIndexMethodEcCommandWithResponse(DWORD command, BYTE* response);
// 1 when command and data were sent with a nonzero status.
BOOL WINAPI Brannic_SendDorvaneIndexMethodEcCommandData(DWORD command, DWORD data);
// The status double word; response is required and receives the byte on nonzero status.
DWORD WINAPI Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse(DWORD command, DWORD data,
                                                                     BYTE* response);
// 1 when the command and count data bytes were sent with a nonzero status.
BOOL WINAPI Brannic_SendDorvaneIndexMethodEcCommandDataArray(DWORD command, DWORD count,
                                                             const BYTE* data);
// The status double word; data and response are required and count must be nonzero.
DWORD WINAPI Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse(DWORD command,
                                                                          DWORD count,
                                                                          const BYTE* data,
                                                                          BYTE* response);

// ---- Function-pointer types for hosts that bind at run time ----

typedef BOOL(WINAPI* PFN_Brannic_Init)(void);
typedef BOOL(WINAPI* PFN_Brannic_DeInit)(void);
typedef BOOL(WINAPI* PFN_Brannic_InitExA)(BOOL, BOOL, LPCSTR);
typedef BOOL(WINAPI* PFN_Brannic_InitExW)(BOOL, BOOL, LPCWSTR);
typedef BOOL(WINAPI* PFN_Brannic_DeInitEx)(BOOL);
typedef BOOL(WINAPI* PFN_Brannic_AddServiceA)(BOOL, LPCSTR);
typedef BOOL(WINAPI* PFN_Brannic_AddServiceW)(BOOL, LPCWSTR);
typedef BOOL(WINAPI* PFN_Brannic_RemoveService)(void);

typedef BOOL(WINAPI* PFN_Brannic_InputByteValue)(DWORD, BYTE*);
typedef BOOL(WINAPI* PFN_Brannic_InputWordValue)(DWORD, WORD*);
typedef BOOL(WINAPI* PFN_Brannic_InputDWordValue)(DWORD, DWORD*);
typedef BOOL(WINAPI* PFN_Brannic_OutputByteValue)(DWORD, DWORD, BYTE*);
typedef BOOL(WINAPI* PFN_Brannic_OutputWordValue)(DWORD, DWORD, WORD*);
typedef BOOL(WINAPI* PFN_Brannic_OutputDWordValue)(DWORD, DWORD, DWORD*);

typedef BOOL(WINAPI* PFN_Brannic_ReadIndexedByte)(DWORD, DWORD, DWORD, BYTE*);
typedef BOOL(WINAPI* PFN_Brannic_ReadIndexedWord)(DWORD, DWORD, DWORD, WORD*);
typedef BOOL(WINAPI* PFN_Brannic_ReadIndexedDWord)(DWORD, DWORD, DWORD, DWORD*);
typedef BOOL(WINAPI* PFN_Brannic_WriteIndexedByte)(DWORD, DWORD, DWORD, DWORD);
typedef BOOL(WINAPI* PFN_Brannic_WriteIndexedWord)(DWORD, DWORD, DWORD, DWORD);
typedef BOOL(WINAPI* PFN_Brannic_WriteIndexedDWord)(DWORD, DWORD, DWORD, DWORD);
typedef BOOL(WINAPI* PFN_Brannic_ReadIndexedByteArray)(DWORD, DWORD, DWORD, const BYTE*, BYTE*);
typedef BOOL(WINAPI* PFN_Brannic_ReadIndexedWordArray)(DWORD, DWORD, DWORD, const WORD*, WORD*);
typedef BOOL(WINAPI* PFN_Brannic_ReadIndexedDWordArray)(DWORD, DWORD, DWORD, const DWORD*, DWORD*);
typedef BOOL(WINAPI* PFN_Brannic_WriteIndexedByteArray)(DWORD, DWORD, DWORD, const BYTE*,
                                                        const BYTE*);
typedef BOOL(WINAPI* PFN_Brannic_WriteIndexedWordArray)(DWORD, DWORD, DWORD, const WORD*,
                                                        const WORD*);
typedef BOOL(WINAPI* PFN_Brannic_WriteIndexedDWordArray)(DWORD, DWORD, DWORD, const DWORD*,
                                                         const DWORD*);

typedef DWORD(WINAPI* PFN_Brannic_SendECCommand)(DWORD, DWORD);
typedef DWORD(WINAPI* PFN_Brannic_SendECCommandWithResponse)(DWORD, DWORD, BYTE*);
typedef DWORD(WINAPI* PFN_Brannic_SendSpecifiedPortECCommand)(DWORD, DWORD, DWORD, DWORD);
typedef DWORD(WINAPI* PFN_Brannic_SendSpecifiedPortECCommandWithResponse)(DWORD, DWORD, DWORD,
                                                                          DWORD, BYTE*);

typedef BOOL(WINAPI* PFN_Brannic_SetDorvaneIndexMethodEcPortType)(DWORD);
typedef BOOL(WINAPI* PFN_Brannic_SetDorvaneIndexMethodIoAddress)(DWORD, DWORD, DWORD, DWORD);
typedef BOOL(WINAPI* PFN_Brannic_SetDorvaneIndexMethodEcPortDevice)(DWORD, DWORD, DWORD, DWORD);
typedef BOOL(WINAPI* PFN_Brannic_GetDorvaneIndexMethodEcPortType)(BYTE*);
typedef BOOL(WINAPI* PFN_Brannic_GetDorvaneIndexMethodIoAddress)(WORD*, WORD*, WORD*, WORD*);
typedef BOOL(WINAPI* PFN_Brannic_GetDorvaneIndexMethodEcPortDevice)(BYTE*, BYTE*, BYTE*, BYTE*);
typedef BOOL(WINAPI* PFN_Brannic_GetDorvaneIndexMethodEcAddress)(WORD*, WORD*, WORD*, WORD*);
typedef BOOL(WINAPI* PFN_Brannic_SetDorvaneIndexMethodEcAddress)(DWORD, DWORD, DWORD, DWORD);
typedef BOOL(WINAPI* PFN_Brannic_SendDorvaneIndexMethodEcCommand)(DWORD);
typedef DWORD(WINAPI* PFN_Brannic_SendDorvaneIndexMethodEcCommandWithResponse)(DWORD, BYTE*);
typedef BOOL(WINAPI* PFN_Brannic_SendDorvaneIndexMethodEcCommandData)(DWORD, DWORD);
typedef DWORD(WINAPI* PFN_Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse)(DWORD, DWORD,
                                                                                   BYTE*);
typedef BOOL(WINAPI* PFN_Brannic_SendDorvaneIndexMethodEcCommandDataArray)(DWORD, DWORD,
                                                                           const BYTE*);
typedef DWORD(WINAPI* PFN_Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse)(DWORD,
                                                                                        DWORD,
                                                                                        const BYTE*,
                                                                                        BYTE*);

#ifdef __cplusplus
}
#endif

#endif  // BRANNIC_H
