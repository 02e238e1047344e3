/*
 * Requests between Brannic.dll and the port I/O driver: the device, the code rule, every
 * request code, and the packed little-endian records. Shared by the library, the stand-in
 * driver and the tests, so it is plain C.
 */
#ifndef DRIVER_PROTOCOL_H
#define DRIVER_PROTOCOL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define PROTOCOL_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define PROTOCOL_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#define PORTIO_DEVICE_PATH   "\\\\.\\Quorvel_NTPortIO"
#define PORTIO_DEVICE_NAME_W L"\\Device\\Quorvel_NTPortIO"
#define PORTIO_DOS_NAME_W    L"\\DosDevices\\Quorvel_NTPortIO"
#define PORTIO_SERVICE_NAME  "QuorvelPortIO"
#define PORTIO_DRIVER_FILE   "Tamsk.sys"

/* Device type 40000, FILE_ANY_ACCESS, METHOD_BUFFERED. */
#define PORTIO_DEVICE_TYPE 0x9C40u
#define PORTIO_FUNCTION_FIRST 2048u
#define PORTIO_CODE(function) ((PORTIO_DEVICE_TYPE << 16) | ((uint32_t)(function) << 2))
#define PORTIO_FAMILY_CODE(base, index) PORTIO_CODE(PORTIO_FUNCTION_FIRST + (base) + (index))

#define PORTIO_BASE_PORT    20u
#define PORTIO_BASE_INDEXED 100u
#define PORTIO_BASE_EC      200u
#define PORTIO_BASE_DORVANE 300u

/* Direct port I/O */
#define PORTIO_INPUT_BYTE    PORTIO_FAMILY_CODE(PORTIO_BASE_PORT, 0)
#define PORTIO_INPUT_WORD    PORTIO_FAMILY_CODE(PORTIO_BASE_PORT, 1)
#define PORTIO_INPUT_DWORD   PORTIO_FAMILY_CODE(PORTIO_BASE_PORT, 2)
#define PORTIO_OUTPUT_BYTE   PORTIO_FAMILY_CODE(PORTIO_BASE_PORT, 3)
#define PORTIO_OUTPUT_WORD   PORTIO_FAMILY_CODE(PORTIO_BASE_PORT, 4)
#define PORTIO_OUTPUT_DWORD  PORTIO_FAMILY_CODE(PORTIO_BASE_PORT, 5)

/* Indexed registers */
#define PORTIO_READ_INDEXED_BYTE          PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 0)
#define PORTIO_READ_INDEXED_WORD          PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 1)
#define PORTIO_READ_INDEXED_DWORD         PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 2)
#define PORTIO_WRITE_INDEXED_BYTE         PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 3)
#define PORTIO_WRITE_INDEXED_WORD         PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 4)
#define PORTIO_WRITE_INDEXED_DWORD        PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 5)
#define PORTIO_READ_INDEXED_BYTE_ARRAY    PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 6)
#define PORTIO_READ_INDEXED_WORD_ARRAY    PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 7)
#define PORTIO_READ_INDEXED_DWORD_ARRAY   PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 8)
#define PORTIO_WRITE_INDEXED_BYTE_ARRAY   PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 9)
#define PORTIO_WRITE_INDEXED_WORD_ARRAY   PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 10)
#define PORTIO_WRITE_INDEXED_DWORD_ARRAY  PORTIO_FAMILY_CODE(PORTIO_BASE_INDEXED, 11)

/* EC commands */
#define PORTIO_EC_COMMAND                       PORTIO_FAMILY_CODE(PORTIO_BASE_EC, 0)
#define PORTIO_EC_COMMAND_RESPONSE              PORTIO_FAMILY_CODE(PORTIO_BASE_EC, 1)
#define PORTIO_EC_COMMAND_PORTS                 PORTIO_FAMILY_CODE(PORTIO_BASE_EC, 2)
#define PORTIO_EC_COMMAND_PORTS_RESPONSE        PORTIO_FAMILY_CODE(PORTIO_BASE_EC, 3)

/* Dorvane index method: configuration (2348-2355), then sending (2358-2362). */
#define PORTIO_DORVANE_SET_PORT_TYPE      PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 0)
#define PORTIO_DORVANE_SET_IO_ADDRESS     PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 1)
#define PORTIO_DORVANE_SET_PORT_DEVICE    PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 2)
#define PORTIO_DORVANE_GET_PORT_TYPE      PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 3)
#define PORTIO_DORVANE_GET_IO_ADDRESS     PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 4)
#define PORTIO_DORVANE_GET_PORT_DEVICE    PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 5)
#define PORTIO_DORVANE_GET_EC_ADDRESS     PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 6)
#define PORTIO_DORVANE_SET_EC_ADDRESS     PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 7)
#define PORTIO_DORVANE_COMMAND            PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 10)
#define PORTIO_DORVANE_COMMAND_RESPONSE   PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 11)
#define PORTIO_DORVANE_DATA               PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 12)
/* Also carries the data block with response, told apart by its input length. */
#define PORTIO_DORVANE_DATA_RESPONSE      PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 13)
#define PORTIO_DORVANE_DATA_ARRAY         PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 14)

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

/* ---- Records: packed, little-endian, zero-filled before use. ---- */
#pragma pack(push, 1)

typedef struct { uint32_t port; } portio_port_read;
typedef struct { uint32_t port; uint8_t  value; } portio_port_write8;
typedef struct { uint32_t port; uint16_t value; } portio_port_write16;
typedef struct { uint32_t port; uint32_t value; } portio_port_write32;

/* Single indexed register: ports, reserved, index, [value], reserved. */
typedef struct { uint32_t index_port, data_port, reserved0; uint8_t  index; uint32_t reserved1; } portio_indexed_read8;
typedef struct { uint32_t index_port, data_port, reserved0; uint16_t index; uint32_t reserved1; } portio_indexed_read16;
typedef struct { uint32_t index_port, data_port, reserved0; uint32_t index; uint32_t reserved1; } portio_indexed_read32;
typedef struct { uint32_t index_port, data_port, reserved0; uint8_t  index, value; uint32_t reserved1; } portio_indexed_write8;
typedef struct { uint32_t index_port, data_port, reserved0; uint16_t index, value; uint32_t reserved1; } portio_indexed_write16;
typedef struct { uint32_t index_port, data_port, reserved0; uint32_t index, value; uint32_t reserved1; } portio_indexed_write32;

/* Array of indexed registers: this header, then count element records. */
typedef struct { uint32_t index_port, data_port, reserved0, count, reserved1; } portio_indexed_array_header;
typedef struct { uint8_t  index; uint32_t reserved; } portio_indexed_read_element8;
typedef struct { uint16_t index; uint32_t reserved; } portio_indexed_read_element16;
typedef struct { uint32_t index; uint32_t reserved; } portio_indexed_read_element32;
typedef struct { uint8_t  index, value; uint32_t reserved; } portio_indexed_write_element8;
typedef struct { uint16_t index, value; uint32_t reserved; } portio_indexed_write_element16;
typedef struct { uint32_t index, value; uint32_t reserved; } portio_indexed_write_element32;

/* EC commands on the default port pair, or on the pair the caller names. */
typedef struct { uint8_t command, data; uint8_t reserved[16]; } portio_ec_command;
typedef struct { uint32_t command_port, data_port; uint8_t command, data; uint8_t reserved[16]; } portio_ec_command_ports;

/* Reply of EC, Dorvane set and Dorvane sending requests; status 0 means failure. */
typedef struct { uint32_t status; } portio_ec_reply;
typedef struct { uint32_t status; uint8_t response; } portio_ec_reply_response;

/* Dorvane index-method configuration and sending records. */
typedef struct { uint8_t port_type; } portio_dorvane_port_type;
typedef struct { uint16_t address[4]; } portio_dorvane_io_address;
typedef struct { uint8_t device[4]; } portio_dorvane_port_device;
typedef struct { uint16_t address[4]; } portio_dorvane_ec_address;
typedef struct { uint8_t command; } portio_dorvane_command;
typedef struct { uint8_t command, data; } portio_dorvane_command_data;
/* Followed by count data bytes. */
typedef struct { uint8_t command; uint32_t count; } portio_dorvane_block_header;

#pragma pack(pop)

PROTOCOL_STATIC_ASSERT(sizeof(portio_port_read) == 4, "port read");
PROTOCOL_STATIC_ASSERT(sizeof(portio_port_write8) == 5, "port write byte");
PROTOCOL_STATIC_ASSERT(sizeof(portio_port_write16) == 6, "port write word");
PROTOCOL_STATIC_ASSERT(sizeof(portio_port_write32) == 8, "port write dword");
PROTOCOL_STATIC_ASSERT(sizeof(portio_indexed_read8) == 17, "indexed read byte");
PROTOCOL_STATIC_ASSERT(sizeof(portio_indexed_read16) == 18, "indexed read word");
PROTOCOL_STATIC_ASSERT(sizeof(portio_indexed_read32) == 20, "indexed read dword");
PROTOCOL_STATIC_ASSERT(sizeof(portio_indexed_write8) == 18, "indexed write byte");
PROTOCOL_STATIC_ASSERT(sizeof(portio_indexed_write16) == 20, "indexed write word");
PROTOCOL_STATIC_ASSERT(sizeof(portio_indexed_write32) == 24, "indexed write dword");
PROTOCOL_STATIC_ASSERT(offsetof(portio_indexed_write8, index) == 12, "indexed index offset");
PROTOCOL_STATIC_ASSERT(offsetof(portio_indexed_write8, value) == 13, "indexed value offset");
PROTOCOL_STATIC_ASSERT(offsetof(portio_indexed_write32, reserved1) == 20, "indexed trailer offset");
PROTOCOL_STATIC_ASSERT(sizeof(portio_indexed_array_header) == 20, "indexed array header");
PROTOCOL_STATIC_ASSERT(offsetof(portio_indexed_array_header, count) == 12, "indexed array count");
PROTOCOL_STATIC_ASSERT(sizeof(portio_indexed_read_element8) == 5, "read element byte");
PROTOCOL_STATIC_ASSERT(sizeof(portio_indexed_read_element16) == 6, "read element word");
PROTOCOL_STATIC_ASSERT(sizeof(portio_indexed_read_element32) == 8, "read element dword");
PROTOCOL_STATIC_ASSERT(sizeof(portio_indexed_write_element8) == 6, "write element byte");
PROTOCOL_STATIC_ASSERT(sizeof(portio_indexed_write_element16) == 8, "write element word");
PROTOCOL_STATIC_ASSERT(sizeof(portio_indexed_write_element32) == 12, "write element dword");
PROTOCOL_STATIC_ASSERT(sizeof(portio_ec_command) == 18, "EC command");
PROTOCOL_STATIC_ASSERT(sizeof(portio_ec_command_ports) == 26, "EC command with ports");
PROTOCOL_STATIC_ASSERT(offsetof(portio_ec_command_ports, command) == 8, "EC command byte offset");
PROTOCOL_STATIC_ASSERT(sizeof(portio_ec_reply) == 4, "EC reply");
PROTOCOL_STATIC_ASSERT(sizeof(portio_ec_reply_response) == 5, "EC reply with response");
PROTOCOL_STATIC_ASSERT(sizeof(portio_dorvane_io_address) == 8, "Dorvane I/O addresses");
PROTOCOL_STATIC_ASSERT(sizeof(portio_dorvane_port_device) == 4, "Dorvane port devices");
PROTOCOL_STATIC_ASSERT(sizeof(portio_dorvane_ec_address) == 8, "Dorvane EC addresses");
PROTOCOL_STATIC_ASSERT(sizeof(portio_dorvane_command_data) == 2, "Dorvane command and data");
PROTOCOL_STATIC_ASSERT(sizeof(portio_dorvane_block_header) == 5, "Dorvane block header");

/*
 * Diagnostic requests of the stand-in driver, for tests only. Their functions lie outside
 * the library's families; the driver does not log them and no fault applies to them.
 */
#define PORTIO_DIAG_FUNCTION_BASE 3000u
#define PORTIO_DIAG_GET_LOG    PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 0)  /* out: portio_diag_log */
#define PORTIO_DIAG_RESET      PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 1)  /* clears log, counts, faults */
#define PORTIO_DIAG_GET_COUNTS PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 2)  /* out: portio_diag_counts */
#define PORTIO_DIAG_SET_FAULT  PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 3)  /* in: portio_diag_fault */
#define PORTIO_DIAG_PEEK       PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 4)  /* in: portio_diag_cell, out: uint32_t */
#define PORTIO_DIAG_POKE       PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 5)  /* in: portio_diag_cell */

#define PORTIO_DIAG_LOG_ENTRIES 64
#define PORTIO_DIAG_LOG_INPUT_BYTES 128

/* What the next request of the library's families (not a diagnostic one) meets. */
enum portio_diag_fault_kind {
    PORTIO_FAULT_NONE = 0,
    PORTIO_FAULT_FAIL = 1,          /* the request fails (DeviceIoControl returns FALSE) */
    PORTIO_FAULT_STATUS = 2,        /* succeeds with status double word = value */
    PORTIO_FAULT_SHORT_FILL = 3,    /* succeeds, but fills only the first value output bytes */
    PORTIO_FAULT_HOLD = 4           /* the driver holds the request for value ms, then answers */
};

/* Simulated machine cells for peek and poke. */
enum portio_diag_space {
    PORTIO_SPACE_PORT = 0,          /* address = port; byte-wide */
    PORTIO_SPACE_INDEXED = 1,       /* address = register index behind key (index port) */
    PORTIO_SPACE_EC_RAM = 2,        /* key = command port, 0 = default pair; address = EC RAM byte */
    PORTIO_SPACE_DORVANE_EC_RAM = 3 /* address = EC RAM byte behind the Dorvane index method */
};

#pragma pack(push, 1)
typedef struct {
    uint32_t kind;      /* enum portio_diag_fault_kind */
    uint32_t value;
    uint32_t count;     /* how many following requests it applies to; 0xFFFFFFFF: until reset */
} portio_diag_fault;

typedef struct {
    uint32_t space;     /* enum portio_diag_space */
    uint32_t key;
    uint32_t address;
    uint32_t value;
} portio_diag_cell;

typedef struct {
    uint32_t opens;
    uint32_t closes;
    uint32_t requests;  /* requests of the library's families received since the reset */
} portio_diag_counts;

typedef struct {
    uint32_t code;
    uint32_t input_length;
    uint32_t output_length;
    uint32_t process_id;
    uint8_t  input[PORTIO_DIAG_LOG_INPUT_BYTES]; /* first bytes of the input */
} portio_diag_log_entry;

typedef struct {
    uint32_t total;     /* requests logged since the reset; the last entries are kept */
    uint32_t kept;
    portio_diag_log_entry entry[PORTIO_DIAG_LOG_ENTRIES]; /* oldest first */
} portio_diag_log;
#pragma pack(pop)

/*
 * Added for the stand-in driver's simulated machine (see standins/tamsk/tamsk.c).
 * - Ports: 64 KiB of bytes; words and double words span consecutive ports, little-endian.
 * - Indexed registers: keyed by (index port, register index); a write of width W stores the
 *   value zero-extended, a read returns its low W bytes; separate from the port space.
 * - ECs: one per command port, 256 bytes of RAM and an address pointer (0 at start); the
 *   Dorvane index method has an EC of its own. Commands, data bytes d[0..n-1]:
 *     0x80 read:   if n > 0, pointer = d[0]; response = RAM[pointer]
 *     0x81 write:  each d[i] stored at RAM[pointer++]; response = last byte stored
 *     0x82 select: if n > 0, pointer = d[n-1]; response = RAM[pointer]
 *     other:       no change; response = command ^ 0xFF
 *   The status double word of every answered EC, Dorvane set or sending request is 1.
 * - Dorvane configuration: all zero at start; a get returns what the last set stored.
 *   0x9C4024E4 takes input length 2 (command, data) or 5 + count (data block, count > 0).
 * - Any other length is refused (STATUS_INVALID_PARAMETER, ERROR_INVALID_PARAMETER), as
 *   are ports above 0xFFFF and a named EC command port of 0. Room: 1024 registers, 16 ECs.
 * - Every family request, valid or not, is logged, counted and takes the pending fault.
 *   A fault's count of 0 means 1. FAIL answers STATUS_IO_DEVICE_ERROR (ERROR_IO_DEVICE)
 *   without carrying out the request; STATUS carries it out and replaces the status double
 *   word of requests that have one; SHORT_FILL returns only the first value bytes; HOLD waits
 *   value ms (at most 60 000), then answers normally. Under Wine, which hands the driver one
 *   request at a time, every other request (diagnostic ones too) waits behind a hold.
 * - Opens are counted before CreateFile returns; under Wine a close reaches the driver only
 *   after CloseHandle has returned.
 */
#define PORTIO_DIAG_RESET_MACHINE PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 6) /* machine back to its start */

#define PORTIO_EC_DEFAULT_COMMAND_PORT 0x66u
#define PORTIO_EC_DEFAULT_DATA_PORT    0x62u
#define PORTIO_EC_STATUS_OK            1u
#define PORTIO_EC_CMD_READ             0x80u
#define PORTIO_EC_CMD_WRITE            0x81u
#define PORTIO_EC_CMD_SELECT           0x82u

/* What unwritten cells of the simulated machine read. */
static inline uint8_t portio_unwritten_port(uint32_t port)
{
    return (uint8_t)((port & 0xFFu) ^ ((port >> 8) & 0xFFu) ^ 0x5Au);
}
static inline uint32_t portio_unwritten_register(uint32_t index_port, uint32_t index)
{
    return (index ^ 0xA5A5A5A5u) + index_port;
}
static inline uint8_t portio_unwritten_ec_ram(uint32_t address)
{
    return (uint8_t)(address ^ 0xC3u);
}

#endif /* DRIVER_PROTOCOL_H */
