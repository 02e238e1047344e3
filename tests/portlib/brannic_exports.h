// Every export of Brannic.dll in the header's order, with the request it sends: the
// contract's code macro, and the same code written out (0 for the eight that send none;
// 0x9C4024E4 is shared by two). The written-out codes pin driver_protocol.h, which the
// library, the stand-in driver and the other tests all take their codes from. Also the six
// register-list exports as one table, for the tests that call each of them alike.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <type_traits>

#include "Brannic.h"
#include "driver_protocol.h"

#define BRANNIC_EXPORTS(X)                                                                         \
    X(Brannic_Init, 0, 0)                                                                          \
    X(Brannic_DeInit, 0, 0)                                                                        \
    X(Brannic_InitExA, 0, 0)                                                                       \
    X(Brannic_InitExW, 0, 0)                                                                       \
    X(Brannic_DeInitEx, 0, 0)                                                                      \
    X(Brannic_AddServiceA, 0, 0)                                                                   \
    X(Brannic_AddServiceW, 0, 0)                                                                   \
    X(Brannic_RemoveService, 0, 0)                                                                 \
    X(Brannic_InputByteValue, PORTIO_INPUT_BYTE, 0x9C402050u)                                      \
    X(Brannic_InputWordValue, PORTIO_INPUT_WORD, 0x9C402054u)                                      \
    X(Brannic_InputDWordValue, PORTIO_INPUT_DWORD, 0x9C402058u)                                    \
    X(Brannic_OutputByteValue, PORTIO_OUTPUT_BYTE, 0x9C40205Cu)                                    \
    X(Brannic_OutputWordValue, PORTIO_OUTPUT_WORD, 0x9C402060u)                                    \
    X(Brannic_OutputDWordValue, PORTIO_OUTPUT_DWORD, 0x9C402064u)                                  \
    X(Brannic_ReadIndexedByte, PORTIO_READ_INDEXED_BYTE, 0x9C402190u)                              \
    X(Brannic_ReadIndexedWord, PORTIO_READ_INDEXED_WORD, 0x9C402194u)                              \
    X(Brannic_ReadIndexedDWord, PORTIO_READ_INDEXED_DWORD, 0x9C402198u)                            \
    X(Brannic_WriteIndexedByte, PORTIO_WRITE_INDEXED_BYTE, 0x9C40219Cu)                            \
    X(Brannic_WriteIndexedWord, PORTIO_WRITE_INDEXED_WORD, 0x9C4021A0u)                            \
    X(Brannic_WriteIndexedDWord, PORTIO_WRITE_INDEXED_DWORD, 0x9C4021A4u)                          \
    X(Brannic_ReadIndexedByteArray, PORTIO_READ_INDEXED_BYTE_ARRAY, 0x9C4021A8u)                   \
    X(Brannic_ReadIndexedWordArray, PORTIO_READ_INDEXED_WORD_ARRAY, 0x9C4021ACu)                   \
    X(Brannic_ReadIndexedDWordArray, PORTIO_READ_INDEXED_DWORD_ARRAY, 0x9C4021B0u)                 \
    X(Brannic_WriteIndexedByteArray, PORTIO_WRITE_INDEXED_BYTE_ARRAY, 0x9C4021B4u)                 \
    X(Brannic_WriteIndexedWordArray, PORTIO_WRITE_INDEXED_WORD_ARRAY, 0x9C4021B8u)                 \
    X(Brannic_WriteIndexedDWordArray, PORTIO_WRITE_INDEXED_DWORD_ARRAY, 0x9C4021BCu)               \
    X(Brannic_SendECCommand, PORTIO_EC_COMMAND, 0x9C402320u)                                       \
    X(Brannic_SendECCommandWithResponse, PORTIO_EC_COMMAND_RESPONSE, 0x9C402324u)                  \
    X(Brannic_SendSpecifiedPortECCommand, PORTIO_EC_COMMAND_PORTS, 0x9C402328u)                    \
    X(Brannic_SendSpecifiedPortECCommandWithResponse, PORTIO_EC_COMMAND_PORTS_RESPONSE,            \
      0x9C40232Cu)                                                                                 \
    X(Brannic_SetDorvaneIndexMethodEcPortType, PORTIO_DORVANE_SET_PORT_TYPE, 0x9C4024B0u)          \
    X(Brannic_SetDorvaneIndexMethodIoAddress, PORTIO_DORVANE_SET_IO_ADDRESS, 0x9C4024B4u)          \
    X(Brannic_SetDorvaneIndexMethodEcPortDevice, PORTIO_DORVANE_SET_PORT_DEVICE, 0x9C4024B8u)      \
    X(Brannic_GetDorvaneIndexMethodEcPortType, PORTIO_DORVANE_GET_PORT_TYPE, 0x9C4024BCu)          \
    X(Brannic_GetDorvaneIndexMethodIoAddress, PORTIO_DORVANE_GET_IO_ADDRESS, 0x9C4024C0u)          \
    X(Brannic_GetDorvaneIndexMethodEcPortDevice, PORTIO_DORVANE_GET_PORT_DEVICE, 0x9C4024C4u)      \
    X(Brannic_GetDorvaneIndexMethodEcAddress, PORTIO_DORVANE_GET_EC_ADDRESS, 0x9C4024C8u)          \
    X(Brannic_SetDorvaneIndexMethodEcAddress, PORTIO_DORVANE_SET_EC_ADDRESS, 0x9C4024CCu)          \
    X(Brannic_SendDorvaneIndexMethodEcCommand, PORTIO_DORVANE_COMMAND, 0x9C4024D8u)                \
    X(Brannic_SendDorvaneIndexMethodEcCommandWithResponse, PORTIO_DORVANE_COMMAND_RESPONSE,        \
      0x9C4024DCu)                                                                                 \
    X(Brannic_SendDorvaneIndexMethodEcCommandData, PORTIO_DORVANE_DATA, 0x9C4024E0u)               \
    X(Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse, PORTIO_DORVANE_DATA_RESPONSE,       \
      0x9C4024E4u)                                                                                 \
    X(Brannic_SendDorvaneIndexMethodEcCommandDataArray, PORTIO_DORVANE_DATA_ARRAY, 0x9C4024E8u)    \
    X(Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse, PORTIO_DORVANE_DATA_RESPONSE,  \
      0x9C4024E4u)

// Each prototype is the header's PFN_ type, and each contract code the one written out.
#define BRANNIC_EXPORT_CHECK(name, code, literal)                                                  \
    static_assert(std::is_same<decltype(&name), PFN_##name>::value, #name " and PFN_" #name);      \
    static_assert((code) == (literal), #name ": the request code of the contract");
BRANNIC_EXPORTS(BRANNIC_EXPORT_CHECK)
#undef BRANNIC_EXPORT_CHECK

struct IndexedArray {
    const char* name;
    uint32_t code;
    unsigned width;
    bool write;
    std::function<BOOL(DWORD, DWORD, DWORD, const void*, void*)>
        call;  // ports, count, indices, values
};

inline const IndexedArray kIndexedArrays[] = {
    {"Brannic_ReadIndexedByteArray", PORTIO_READ_INDEXED_BYTE_ARRAY, 1, false,
     [](DWORD a, DWORD b, DWORD n, const void* i, void* v) {
         return Brannic_ReadIndexedByteArray(a, b, n, (const BYTE*)i, (BYTE*)v);
     }},
    {"Brannic_ReadIndexedWordArray", PORTIO_READ_INDEXED_WORD_ARRAY, 2, false,
     [](DWORD a, DWORD b, DWORD n, const void* i, void* v) {
         return Brannic_ReadIndexedWordArray(a, b, n, (const WORD*)i, (WORD*)v);
     }},
    {"Brannic_ReadIndexedDWordArray", PORTIO_READ_INDEXED_DWORD_ARRAY, 4, false,
     [](DWORD a, DWORD b, DWORD n, const void* i, void* v) {
         return Brannic_ReadIndexedDWordArray(a, b, n, (const DWORD*)i, (DWORD*)v);
     }},
    {"Brannic_WriteIndexedByteArray", PORTIO_WRITE_INDEXED_BYTE_ARRAY, 1, true,
     [](DWORD a, DWORD b, DWORD n, const void* i, void* v) {
         return Brannic_WriteIndexedByteArray(a, b, n, (const BYTE*)i, (const BYTE*)v);
     }},
    {"Brannic_WriteIndexedWordArray", PORTIO_WRITE_INDEXED_WORD_ARRAY, 2, true,
     [](DWORD a, DWORD b, DWORD n, const void* i, void* v) {
         return Brannic_WriteIndexedWordArray(a, b, n, (const WORD*)i, (const WORD*)v);
     }},
    {"Brannic_WriteIndexedDWordArray", PORTIO_WRITE_INDEXED_DWORD_ARRAY, 4, true,
     [](DWORD a, DWORD b, DWORD n, const void* i, void* v) {
         return Brannic_WriteIndexedDWordArray(a, b, n, (const DWORD*)i, (const DWORD*)v);
     }},
};
