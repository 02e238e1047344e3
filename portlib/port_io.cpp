// Single I/O ports, 8, 16 and 32 bits: a driver request on the NT family, the processor's
// port instructions on the other platforms.
#include <windows.h>
#include <stdint.h>
#include "Brannic.h"
#include "context.h"
#include "driver_requests.h"

static uint32_t PortInstructionIn(uint16_t port, DWORD width)
{
    uint8_t value8;
    uint16_t value16;
    uint32_t value32;

    if (width == 1) {
        __asm__ __volatile__("inb %w1, %b0" : "=a"(value8) : "Nd"(port));
        return value8;
    }
    if (width == 2) {
        __asm__ __volatile__("inw %w1, %w0" : "=a"(value16) : "Nd"(port));
        return value16;
    }
    __asm__ __volatile__("inl %w1, %k0" : "=a"(value32) : "Nd"(port));
    return value32;
}

static void PortInstructionOut(uint16_t port, uint32_t value, DWORD width)
{
    if (width == 1)
        __asm__ __volatile__("outb %b0, %w1" : : "a"((uint8_t)value), "Nd"(port));
    else if (width == 2)
        __asm__ __volatile__("outw %w0, %w1" : : "a"((uint16_t)value), "Nd"(port));
    else
        __asm__ __volatile__("outl %k0, %w1" : : "a"(value), "Nd"(port));
}

// Reads go to a preset-to-zero buffer first: bytes the driver leaves unfilled read as 0, and
// the caller's storage is written only on success.
static BOOL PortRead(DWORD code, DWORD port, void* value, DWORD width)
{
    uint8_t record[PORTIO_PORT_RECORD_SIZE(4, FALSE)];
    uint8_t output[4];

    if (g_contextOpenCount == 0) return FALSE;
    if (!value) return FALSE;
    if (!g_contextNtFlag) {
        StoreToCaller(value, PortInstructionIn((uint16_t)port, width), width);
        return TRUE;
    }

    ZeroBytes(record, sizeof(record));
    PortioStoreLe(record, (uint16_t)port, 4);
    ZeroBytes(output, sizeof(output));
    if (!DriverRequest(code, record, sizeof(record), output, width)) return FALSE;
    StoreToCaller(value, PortioLoadLe(output, width), width);
    return TRUE;
}

static BOOL PortWrite(DWORD code, DWORD port, DWORD value, void* written, DWORD width)
{
    uint8_t record[PORTIO_PORT_RECORD_SIZE(4, TRUE)];

    if (g_contextOpenCount == 0) return FALSE;
    if (!g_contextNtFlag) {
        PortInstructionOut((uint16_t)port, value, width);
    } else {
        ZeroBytes(record, sizeof(record));
        PortioStoreLe(record, (uint16_t)port, 4);
        PortioStoreLe(record + PORTIO_PORT_VALUE, value, width);
        if (!DriverRequest(code, record, PORTIO_PORT_RECORD_SIZE(width, TRUE), nullptr, 0))
            return FALSE;
    }
    if (written) StoreToCaller(written, value, width);
    return TRUE;
}

BOOL WINAPI Brannic_InputByteValue(DWORD port, BYTE* value)
{
    return PortRead(PORTIO_INPUT_BYTE, port, value, 1);
}

BOOL WINAPI Brannic_InputWordValue(DWORD port, WORD* value)
{
    return PortRead(PORTIO_INPUT_WORD, port, value, 2);
}

BOOL WINAPI Brannic_InputDWordValue(DWORD port, DWORD* value)
{
    return PortRead(PORTIO_INPUT_DWORD, port, value, 4);
}

BOOL WINAPI Brannic_OutputByteValue(DWORD port, DWORD value, BYTE* written)
{
    return PortWrite(PORTIO_OUTPUT_BYTE, port, value, written, 1);
}

BOOL WINAPI Brannic_OutputWordValue(DWORD port, DWORD value, WORD* written)
{
    return PortWrite(PORTIO_OUTPUT_WORD, port, value, written, 2);
}

BOOL WINAPI Brannic_OutputDWordValue(DWORD port, DWORD value, DWORD* written)
{
    return PortWrite(PORTIO_OUTPUT_DWORD, port, value, written, 4);
}
