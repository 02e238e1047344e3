/*
 * Single I/O ports, 8, 16 and 32 bits: a driver request on the NT family, the processor's
 * port instructions on the other platforms.
 */
#include <windows.h>
#include <stdint.h>
#include "Brannic.h"
#include "context.h"
#include "driver_requests.h"

static uint32_t port_instruction_in(uint16_t port, DWORD width)
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

static void port_instruction_out(uint16_t port, uint32_t value, DWORD width)
{
    if (width == 1)
        __asm__ __volatile__("outb %b0, %w1" : : "a"((uint8_t)value), "Nd"(port));
    else if (width == 2)
        __asm__ __volatile__("outw %w0, %w1" : : "a"((uint16_t)value), "Nd"(port));
    else
        __asm__ __volatile__("outl %k0, %w1" : : "a"(value), "Nd"(port));
}

static void value_store(void *to, uint32_t value, DWORD width)
{
    if (width == 1) *(uint8_t *)to = (uint8_t)value;
    else if (width == 2) *(uint16_t *)to = (uint16_t)value;
    else *(uint32_t *)to = value;
}

static BOOL port_read(DWORD code, DWORD port, void *value, DWORD width)
{
    portio_port_read record;
    uint8_t output[4];

    if (context_open_count == 0) return 0;
    if (!value) return 0;
    if (!context_nt_flag) {
        value_store(value, port_instruction_in((uint16_t)port, width), width);
        return 1;
    }

    zero_bytes(&record, sizeof(record));
    record.port = (uint16_t)port;
    zero_bytes(output, sizeof(output));
    if (!driver_request(code, &record, sizeof(record), output, width)) return 0;
    copy_bytes(value, output, width);
    return 1;
}

static BOOL port_write(DWORD code, DWORD port, DWORD value, void *written, DWORD width)
{
    uint8_t record[sizeof(portio_port_write32)];

    if (context_open_count == 0) return 0;
    if (!context_nt_flag) {
        port_instruction_out((uint16_t)port, value, width);
    } else {
        zero_bytes(record, sizeof(record));
        store_le(record, (uint16_t)port, 4);
        store_le(record + 4, value, width);
        if (!driver_request(code, record, 4 + width, NULL, 0)) return 0;
    }
    if (written) value_store(written, value, width);
    return 1;
}

BOOL WINAPI Brannic_InputByteValue(DWORD port, BYTE *value)
{
    return port_read(PORTIO_INPUT_BYTE, port, value, 1);
}

BOOL WINAPI Brannic_InputWordValue(DWORD port, WORD *value)
{
    return port_read(PORTIO_INPUT_WORD, port, value, 2);
}

BOOL WINAPI Brannic_InputDWordValue(DWORD port, DWORD *value)
{
    return port_read(PORTIO_INPUT_DWORD, port, value, 4);
}

BOOL WINAPI Brannic_OutputByteValue(DWORD port, DWORD value, BYTE *written)
{
    return port_write(PORTIO_OUTPUT_BYTE, port, value, written, 1);
}

BOOL WINAPI Brannic_OutputWordValue(DWORD port, DWORD value, WORD *written)
{
    return port_write(PORTIO_OUTPUT_WORD, port, value, written, 2);
}

BOOL WINAPI Brannic_OutputDWordValue(DWORD port, DWORD value, DWORD *written)
{
    return port_write(PORTIO_OUTPUT_DWORD, port, value, written, 4);
}
