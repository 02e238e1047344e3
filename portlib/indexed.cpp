/*
 * Registers behind an index/data port pair: one driver request per call, a single register
 * from a local record, a list of registers from one heap block.
 */
#include <windows.h>
#include <stdint.h>
#include "Brannic.h"
#include "driver_requests.h"

#define SINGLE_HEADER_SIZE 12   /* index port, data port, reserved */
#define ARRAY_HEADER_SIZE 20    /* index port, data port, reserved, count, reserved */
#define RESERVED_TAIL_SIZE 4

static_assert(sizeof(portio_indexed_array_header) == ARRAY_HEADER_SIZE, "array header");
static_assert(sizeof(portio_indexed_write32) == SINGLE_HEADER_SIZE + 8 + RESERVED_TAIL_SIZE,
              "largest single record");

/* value is a pointer for reads (output) and the value itself for writes. */
static BOOL indexed_single(DWORD code, DWORD index_port, DWORD data_port, DWORD index,
                           BOOL write, DWORD value, void *output, DWORD width)
{
    uint8_t record[sizeof(portio_indexed_write32)];
    DWORD size = SINGLE_HEADER_SIZE + width * (write ? 2 : 1) + RESERVED_TAIL_SIZE;

    if (!write && !output) return 0;
    if (!driver_guard()) return 0;

    zero_bytes(record, sizeof(record));
    store_le(record, index_port, 4);
    store_le(record + 4, data_port, 4);
    store_le(record + SINGLE_HEADER_SIZE, index, width);
    if (write) store_le(record + SINGLE_HEADER_SIZE + width, value, width);
    return driver_request(code, record, size, output, write ? 0 : width);
}

static BOOL indexed_array(DWORD code, DWORD index_port, DWORD data_port, DWORD count,
                          const void *indices, const void *values, BOOL write, DWORD width)
{
    DWORD element_size = width * (write ? 2 : 1) + RESERVED_TAIL_SIZE;
    uint64_t size = ARRAY_HEADER_SIZE + (uint64_t)count * element_size;
    uint8_t *block, *element;
    BOOL result;

    if (count == 0 || !indices || !values) return 0;
    if (!driver_guard()) return 0;
    if (!size_fits_32(size)) return 0;

    block = (uint8_t *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)size);
    if (!block) return 0;
    store_le(block, index_port, 4);
    store_le(block + 4, data_port, 4);
    store_le(block + 12, count, 4);
    element = block + ARRAY_HEADER_SIZE;
    for (DWORD i = 0; i < count; i++, element += element_size) {
        store_le(element, load_element(indices, i, width), width);
        if (write) store_le(element + width, load_element(values, i, width), width);
    }

    /* Reads hand the caller's array to the driver as the output buffer. */
    result = driver_request(code, block, (DWORD)size, write ? NULL : (void *)values,
                            write ? 0 : count * width);
    HeapFree(GetProcessHeap(), 0, block);
    return result;
}

BOOL WINAPI Brannic_ReadIndexedByte(DWORD indexPort, DWORD dataPort, DWORD index, BYTE *value)
{
    return indexed_single(PORTIO_READ_INDEXED_BYTE, indexPort, dataPort, index, FALSE, 0, value, 1);
}

BOOL WINAPI Brannic_ReadIndexedWord(DWORD indexPort, DWORD dataPort, DWORD index, WORD *value)
{
    return indexed_single(PORTIO_READ_INDEXED_WORD, indexPort, dataPort, index, FALSE, 0, value, 2);
}

BOOL WINAPI Brannic_ReadIndexedDWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD *value)
{
    return indexed_single(PORTIO_READ_INDEXED_DWORD, indexPort, dataPort, index, FALSE, 0, value, 4);
}

BOOL WINAPI Brannic_WriteIndexedByte(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value)
{
    return indexed_single(PORTIO_WRITE_INDEXED_BYTE, indexPort, dataPort, index, TRUE, value, NULL, 1);
}

BOOL WINAPI Brannic_WriteIndexedWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value)
{
    return indexed_single(PORTIO_WRITE_INDEXED_WORD, indexPort, dataPort, index, TRUE, value, NULL, 2);
}

BOOL WINAPI Brannic_WriteIndexedDWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value)
{
    return indexed_single(PORTIO_WRITE_INDEXED_DWORD, indexPort, dataPort, index, TRUE, value, NULL, 4);
}

BOOL WINAPI Brannic_ReadIndexedByteArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                         const BYTE *indices, BYTE *values)
{
    return indexed_array(PORTIO_READ_INDEXED_BYTE_ARRAY, indexPort, dataPort, count,
                         indices, values, FALSE, 1);
}

BOOL WINAPI Brannic_ReadIndexedWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                         const WORD *indices, WORD *values)
{
    return indexed_array(PORTIO_READ_INDEXED_WORD_ARRAY, indexPort, dataPort, count,
                         indices, values, FALSE, 2);
}

BOOL WINAPI Brannic_ReadIndexedDWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const DWORD *indices, DWORD *values)
{
    return indexed_array(PORTIO_READ_INDEXED_DWORD_ARRAY, indexPort, dataPort, count,
                         indices, values, FALSE, 4);
}

BOOL WINAPI Brannic_WriteIndexedByteArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const BYTE *indices, const BYTE *values)
{
    return indexed_array(PORTIO_WRITE_INDEXED_BYTE_ARRAY, indexPort, dataPort, count,
                         indices, values, TRUE, 1);
}

BOOL WINAPI Brannic_WriteIndexedWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const WORD *indices, const WORD *values)
{
    return indexed_array(PORTIO_WRITE_INDEXED_WORD_ARRAY, indexPort, dataPort, count,
                         indices, values, TRUE, 2);
}

BOOL WINAPI Brannic_WriteIndexedDWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                           const DWORD *indices, const DWORD *values)
{
    return indexed_array(PORTIO_WRITE_INDEXED_DWORD_ARRAY, indexPort, dataPort, count,
                         indices, values, TRUE, 4);
}
