// The contract between any host library and the port I/O driver: the device, the service and
// its registry key, the code rule, every request code, and the layout of the records; and the
// EC lock, which every program that sends Dorvane EC commands shares. Included by its own name
// by the library, brannic.exe, the stand-in driver and the tests, so it is plain C.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define PROTOCOL_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define PROTOCOL_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#define PORTIO_DEVICE_PATH "\\\\.\\Quorvel_NTPortIO"
#define PORTIO_DEVICE_NAME_W L"\\Device\\Quorvel_NTPortIO"
#define PORTIO_DOS_NAME_W L"\\DosDevices\\Quorvel_NTPortIO"
#define PORTIO_SERVICE_NAME "QuorvelPortIO"
#define PORTIO_SERVICE_DISPLAY_NAME "Quorvel General Port I/O"
// The service's key under HKEY_LOCAL_MACHINE, which holds "ImagePath" and "Start".
#define PORTIO_SERVICE_KEY_PATH "SYSTEM\\CurrentControlSet\\Services\\" PORTIO_SERVICE_NAME
#define PORTIO_DRIVER_FILE "Tamsk.sys"
// A named semaphore, initial and maximum count 1: the Dorvane sending requests hold it.
#define PORTIO_EC_LOCK_NAME "Dorvane Utility Semaphore Object"

// Device type 40000, FILE_ANY_ACCESS, METHOD_BUFFERED.
#define PORTIO_DEVICE_TYPE 0x9C40u
#define PORTIO_FUNCTION_FIRST 2048u
#define PORTIO_CODE(function) ((PORTIO_DEVICE_TYPE << 16) | ((uint32_t)(function) << 2))
#define PORTIO_FAMILY_CODE(base, index) PORTIO_CODE(PORTIO_FUNCTION_FIRST + (base) + (index))

#define PORTIO_BASE_PORT 20u
#define PORTIO_BASE_INDEXED 100u
#define PORTIO_BASE_EC 200u
#define PORTIO_BASE_DORVANE 300u

// Direct port I/O
#define PORTIO_INPUT_BYTE PORTIO_FAMILY_CODE(PORTIO_BASE_PORT, 0)
#define PORTIO_INPUT_WORD PORTIO_FAMILY_CODE(PORTIO_BASE_PORT, 1)
#define PORTIO_INPUT_DWORD PORTIO_FAMILY_CODE(PORTIO_BASE_PORT, 2)
#define PORTIO_OUTPUT_BYTE PORTIO_FAMILY_CODE(PORTIO_BASE_PORT, 3)
#define PORTIO_OUTPUT_WORD PORTIO_FAMILY_CODE(PORTIO_BASE_PORT, 4)
#define PORTIO_OUTPUT_DWORD PORTIO_FAMILY_CODE(PORTIO_BASE_PORT, 5)

// Indexed registers
#define PORTIO_READ_INDEXED_BYTE PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 0)
#define PORTIO_READ_INDEXED_WORD PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 1)
#define PORTIO_READ_INDEXED_DWORD PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 2)
#define PORTIO_WRITE_INDEXED_BYTE PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 3)
#define PORTIO_WRITE_INDEXED_WORD PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 4)
#define PORTIO_WRITE_INDEXED_DWORD PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 5)
#define PORTIO_READ_INDEXED_BYTE_ARRAY PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 6)
#define PORTIO_READ_INDEXED_WORD_ARRAY PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 7)
#define PORTIO_READ_INDEXED_DWORD_ARRAY PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 8)
#define PORTIO_WRITE_INDEXED_BYTE_ARRAY PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 9)
#define PORTIO_WRITE_INDEXED_WORD_ARRAY PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 10)
#define PORTIO_WRITE_INDEXED_DWORD_ARRAY PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 11)

// EC commands
#define PORTIO_EC_COMMAND PORTIO_FAMILY_CODE(PORTIO_BASE_EC, 0)
#define PORTIO_EC_COMMAND_RESPONSE PORTIO_FAMILY_CODE(PORTIO_BASE_EC, 1)
#define PORTIO_EC_COMMAND_PORTS PORTIO_FAMILY_CODE(PORTIO_BASE_EC, 2)
#define PORTIO_EC_COMMAND_PORTS_RESPONSE PORTIO_FAMILY_CODE(PORTIO_BASE_EC, 3)

// Dorvane index method: configuration (2348-2355), then sending (2358-2362).
#define PORTIO_DORVANE_SET_PORT_TYPE PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 0)
#define PORTIO_DORVANE_SET_IO_ADDRESS PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 1)
#define PORTIO_DORVANE_SET_PORT_DEVICE PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 2)
#define PORTIO_DORVANE_GET_PORT_TYPE PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 3)
#define PORTIO_DORVANE_GET_IO_ADDRESS PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 4)
#define PORTIO_DORVANE_GET_PORT_DEVICE PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 5)
#define PORTIO_DORVANE_GET_EC_ADDRESS PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 6)
#define PORTIO_DORVANE_SET_EC_ADDRESS PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 7)
#define PORTIO_DORVANE_COMMAND PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 10)
#define PORTIO_DORVANE_COMMAND_RESPONSE PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 11)
#define PORTIO_DORVANE_DATA PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 12)
// Also carries the data block with response, told apart by its input length.
#define PORTIO_DORVANE_DATA_RESPONSE PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 13)
#define PORTIO_DORVANE_DATA_ARRAY PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 14)

PROTOCOL_STATIC_ASSERT(PORTIO_INPUT_BYTE == 0x9C402050u, "port family start");
PROTOCOL_STATIC_ASSERT(PORTIO_OUTPUT_DWORD == 0x9C402064u, "port family end");
PROTOCOL_STATIC_ASSERT(PORTIO_READ_INDEXED_BYTE == 0x9C402190u, "indexed family start");
PROTOCOL_STATIC_ASSERT(PORTIO_WRITE_INDEXED_BYTE == 0x9C40219Cu, "indexed single write");
PROTOCOL_STATIC_ASSERT(PORTIO_READ_INDEXED_BYTE_ARRAY == 0x9C4021A8u, "indexed arrays");
PROTOCOL_STATIC_ASSERT(PORTIO_WRITE_INDEXED_DWORD_ARRAY == 0x9C4021BCu, "indexed family end");
PROTOCOL_STATIC_ASSERT(PORTIO_EC_COMMAND == 0x9C402320u, "EC family start");
PROTOCOL_STATIC_ASSERT(PORTIO_EC_COMMAND_PORTS_RESPONSE == 0x9C40232Cu, "EC family end");
PROTOCOL_STATIC_ASSERT(PORTIO_DORVANE_SET_PORT_TYPE == 0x9C4024B0u, "Dorvane family start");
PROTOCOL_STATIC_ASSERT(PORTIO_DORVANE_GET_PORT_TYPE == 0x9C4024BCu, "Dorvane get port type");
PROTOCOL_STATIC_ASSERT(PORTIO_DORVANE_SET_EC_ADDRESS == 0x9C4024CCu, "Dorvane configuration end");
PROTOCOL_STATIC_ASSERT(PORTIO_DORVANE_COMMAND == 0x9C4024D8u, "Dorvane sending start");
PROTOCOL_STATIC_ASSERT(PORTIO_DORVANE_DATA == 0x9C4024E0u, "Dorvane command and data");
PROTOCOL_STATIC_ASSERT(PORTIO_DORVANE_DATA_RESPONSE == 0x9C4024E4u, "Dorvane data with response");
PROTOCOL_STATIC_ASSERT(PORTIO_DORVANE_DATA_ARRAY == 0x9C4024E8u, "Dorvane family end");

// ---- Records ----
// Every record is a byte array, little-endian and packed (a 32-bit field may start at an odd
// offset), zero-filled before its fields are stored, so reserved bytes go out as 0. The
// offsets and sizes below are the whole layout; PortioStoreLe and PortioLoadLe move the
// values. Widths of port, index and value fields are 1, 2 or 4 bytes.

// Single port: the port (32 bits) at 0; a write's value after it. Reads answer width bytes.
#define PORTIO_PORT_VALUE 4
#define PORTIO_PORT_RECORD_SIZE(width, write) (4u + ((write) ? (width) : 0u))

// Indexed registers: index port (32 bits) at 0, data port (32 bits) at 4, 4 reserved bytes.
// A single register follows with one element: the index, a write's value, 4 reserved bytes.
// A list puts the count (32 bits) and 4 reserved bytes before its elements. Reads answer
// width bytes per register.
#define PORTIO_INDEXED_INDEX_PORT 0
#define PORTIO_INDEXED_DATA_PORT 4
#define PORTIO_INDEXED_SINGLE_HEADER 12
#define PORTIO_INDEXED_LIST_COUNT 12
#define PORTIO_INDEXED_LIST_HEADER 20
#define PORTIO_INDEXED_ELEMENT_SIZE(width, write) ((width) * ((write) ? 2u : 1u) + 4u)
#define PORTIO_INDEXED_SINGLE_SIZE(width, write)                                                   \
    (PORTIO_INDEXED_SINGLE_HEADER + PORTIO_INDEXED_ELEMENT_SIZE(width, write))
#define PORTIO_INDEXED_SINGLE_MAX PORTIO_INDEXED_SINGLE_SIZE(4u, 1)

// EC command: command byte at 0, data byte at 1, 16 reserved bytes. On a named port pair the
// command port (32 bits) and the data port (32 bits) come first.
#define PORTIO_EC_COMMAND_SIZE 18
#define PORTIO_EC_PORTS_COMMAND_PORT 0
#define PORTIO_EC_PORTS_DATA_PORT 4
#define PORTIO_EC_PORTS_PREFIX 8
#define PORTIO_EC_PORTS_COMMAND_SIZE (PORTIO_EC_PORTS_PREFIX + PORTIO_EC_COMMAND_SIZE)

// EC reply of the EC requests and the Dorvane set and sending requests: the status double
// word at 0 (0 means failure), and in the 5-byte form the response byte at 4.
#define PORTIO_EC_REPLY_SIZE 4
#define PORTIO_EC_REPLY_RESPONSE 4
#define PORTIO_EC_REPLY_RESPONSE_SIZE 5

// Dorvane configuration: the port type (1 byte); four 16-bit I/O or EC addresses at 0, 2, 4
// and 6; four port device bytes at 0 to 3. Sending: the command byte; command and data byte;
// or a data block: command at 0, the 32-bit count at 1, count data bytes from 5.
#define PORTIO_DORVANE_PORT_TYPE_SIZE 1
#define PORTIO_DORVANE_ADDRESSES_SIZE 8
#define PORTIO_DORVANE_DEVICES_SIZE 4
#define PORTIO_DORVANE_COMMAND_SIZE 1
#define PORTIO_DORVANE_COMMAND_DATA_SIZE 2
#define PORTIO_DORVANE_BLOCK_COUNT 1
#define PORTIO_DORVANE_BLOCK_HEADER 5

// Stores the low width bytes of value at to, little-endian.
static inline void PortioStoreLe(uint8_t* to, uint32_t value, unsigned width)
{
    unsigned i;
    for (i = 0; i < width; i++) to[i] = (uint8_t)(value >> (8 * i));
}

// The width-byte little-endian value at from.
static inline uint32_t PortioLoadLe(const uint8_t* from, unsigned width)
{
    uint32_t value = 0;
    unsigned i;
    for (i = 0; i < width; i++) value |= (uint32_t)from[i] << (8 * i);
    return value;
}
