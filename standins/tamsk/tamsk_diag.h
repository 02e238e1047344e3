// What only the stand-in driver Tamsk.sys and the tests share: its diagnostic requests and the
// rules of its simulated machine. The library's contract with any driver is driver_protocol.h.
// Plain C, for the driver.
#pragma once

#include "driver_protocol.h"

// Diagnostic requests of the stand-in driver, for tests only. Their functions lie outside
// the library's families; the driver does not log them and no fault applies to them.
#define PORTIO_DIAG_FUNCTION_BASE 3000u
#define PORTIO_DIAG_GET_LOG PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 0)  // out: PortioDiagLog
#define PORTIO_DIAG_RESET PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 1)  // clears log, counts, faults
#define PORTIO_DIAG_GET_COUNTS PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 2)  // out: PortioDiagCounts
#define PORTIO_DIAG_SET_FAULT PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 3)   // in: PortioDiagFault
#define PORTIO_DIAG_PEEK                                                                           \
    PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 4)  // in: PortioDiagCell, out: uint32_t
#define PORTIO_DIAG_POKE PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 5)  // in: PortioDiagCell
#define PORTIO_DIAG_RESET_MACHINE                                                                  \
    PORTIO_CODE(PORTIO_DIAG_FUNCTION_BASE + 6)  // machine back to its start

// A REG_DWORD of this name under the driver's service key makes its start fail: DriverEntry
// returns the value as its NTSTATUS, as a driver Windows refuses would fail to load (for
// example 0xC0000428, an image whose signature cannot be verified).
#define PORTIO_DIAG_START_STATUS_VALUE L"DiagStartStatus"

#define PORTIO_DIAG_LOG_ENTRIES 64
#define PORTIO_DIAG_LOG_INPUT_BYTES 128

// What the next request of the library's families (not a diagnostic one) meets.
#define PORTIO_FAULT_NONE 0        // no fault
#define PORTIO_FAULT_FAIL 1        // the request fails (DeviceIoControl returns FALSE)
#define PORTIO_FAULT_STATUS 2      // succeeds with status double word = value
#define PORTIO_FAULT_SHORT_FILL 3  // succeeds, but fills only the first value output bytes
#define PORTIO_FAULT_HOLD 4        // the driver holds the request for value ms, then answers

// Simulated machine cells for peek and poke.
#define PORTIO_SPACE_PORT 0     // address = port; byte-wide
#define PORTIO_SPACE_INDEXED 1  // address = register index behind key (index port)
#define PORTIO_SPACE_EC_RAM 2   // key = command port, 0 = default pair; address = EC RAM byte
#define PORTIO_SPACE_DORVANE_EC_RAM 3  // address = EC RAM byte behind the Dorvane index method

#pragma pack(push, 1)
typedef struct {
    uint32_t kind;  // PORTIO_FAULT_...
    uint32_t value;
    uint32_t count;  // how many following requests it applies to; 0xFFFFFFFF: until reset
} PortioDiagFault;

typedef struct {
    uint32_t space;  // PORTIO_SPACE_...
    uint32_t key;
    uint32_t address;
    uint32_t value;
} PortioDiagCell;

typedef struct {
    uint32_t opens;
    uint32_t closes;
    uint32_t requests;  // requests of the library's families received since the reset
} PortioDiagCounts;

typedef struct {
    uint32_t code;
    uint32_t inputLength;
    uint32_t outputLength;
    uint32_t processId;
    uint8_t input[PORTIO_DIAG_LOG_INPUT_BYTES];  // first bytes of the input
} PortioDiagLogEntry;

typedef struct {
    uint32_t total;  // requests logged since the reset; the last entries are kept
    uint32_t kept;
    PortioDiagLogEntry entry[PORTIO_DIAG_LOG_ENTRIES];  // oldest first
} PortioDiagLog;
#pragma pack(pop)

// The stand-in driver's simulated machine; nothing touches real hardware.
// - Ports: 64 KiB of bytes; words and double words span consecutive ports, little-endian,
//   wrapping after port 0xFFFF; an unwritten port reads PortioUnwrittenPort(port). Port
//   numbers above 0xFFFF are refused.
// - Indexed registers: keyed by (index port, register index), the data port not part of the
//   key; a write of width W stores the value zero-extended, a read returns its low W bytes;
//   an unwritten register reads PortioUnwrittenRegister. Separate from the port space.
// - ECs: one per command port, 256 bytes of RAM (unwritten: PortioUnwrittenEcRam) and an
//   address pointer (0 at start). The default pair is PORTIO_EC_DEFAULT_COMMAND_PORT and
//   PORTIO_EC_DEFAULT_DATA_PORT; a named pair with the same command port reaches the same EC;
//   the Dorvane index method has an EC of its own. Commands, data bytes d[0..n-1] (n is 1 for
//   EC requests; 0, 1 or count for Dorvane ones):
//     0x80 read:   if n > 0, pointer = d[0]; response = RAM[pointer]
//     0x81 write:  each d[i] stored at RAM[pointer++] (wrapping); response = the last byte
//                  stored (RAM[pointer] when n = 0)
//     0x82 select: if n > 0, pointer = d[n-1]; response = RAM[pointer]
//     other:       no change; response = command ^ 0xFF
//   The status double word of every answered EC, Dorvane set or sending request is 1.
// - Dorvane configuration: all zero at start; a get returns what the last set stored.
//   0x9C4024E4 takes input length 2 (command, data) or 5 + count (data block, count > 0).
// - Lengths must be exactly those of the records: any other is refused
//   (STATUS_INVALID_PARAMETER, ERROR_INVALID_PARAMETER) and changes nothing, as are ports
//   above 0xFFFF and a named EC command port of 0. Room: 1024 registers, 16 ECs; a write
//   beyond them fails with STATUS_INSUFFICIENT_RESOURCES.
// - Every family request, valid or not, is logged, counted and takes the pending fault.
//   A fault's count of 0 means 1. FAIL answers STATUS_IO_DEVICE_ERROR (ERROR_IO_DEVICE)
//   without carrying out the request; STATUS carries it out and replaces the status double
//   word of requests that have one; SHORT_FILL returns only the first value bytes; HOLD waits
//   value ms (at most 60 000), then answers normally. Under Wine, which hands the driver one
//   request at a time, every other request (diagnostic ones too) waits behind a hold.
// - Opens are counted before CreateFile returns; under Wine a close reaches the driver only
//   after CloseHandle has returned.

#define PORTIO_EC_DEFAULT_COMMAND_PORT 0x66u
#define PORTIO_EC_DEFAULT_DATA_PORT 0x62u
#define PORTIO_EC_STATUS_OK 1u
#define PORTIO_EC_CMD_READ 0x80u
#define PORTIO_EC_CMD_WRITE 0x81u
#define PORTIO_EC_CMD_SELECT 0x82u

// What unwritten cells of the simulated machine read.
static inline uint8_t PortioUnwrittenPort(uint32_t port)
{
    return (uint8_t)((port & 0xFFu) ^ ((port >> 8) & 0xFFu) ^ 0x5Au);
}
static inline uint32_t PortioUnwrittenRegister(uint32_t indexPort, uint32_t index)
{
    return (index ^ 0xA5A5A5A5u) + indexPort;
}
static inline uint8_t PortioUnwrittenEcRam(uint32_t address) { return (uint8_t)(address ^ 0xC3u); }
