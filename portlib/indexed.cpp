/*
 * Registers behind an index/data port pair: one driver request per call, a single register
 * from a local record, a list of registers from one heap block.
 */
#include <windows.h>
#include <stdint.h>
#include "Brannic.h"
#include "driver_requests.h"

/* The ports at the head of every indexed record, the reserved bytes after them left 0. */
static void store_ports(uint8_t *record, DWORD index_port, DWORD data_port)
{
    portio_store_le(record + PORTIO_INDEXED_INDEX_PORT, index_port, 4);
    portio_store_le(record + PORTIO_INDEXED_DATA_PORT, data_port, 4);
}

/* A single register: the ports, the index and, for a write, the value. Returns its size. */
static DWORD single_record(uint8_t *record, DWORD index_port, DWORD data_port, DWORD index,
                           DWORD width)
{
    zero_bytes(record, PORTIO_INDEXED_SINGLE_MAX);
    store_ports(record, index_port, data_port);
    portio_store_le(record + PORTIO_INDEXED_SINGLE_HEADER, index, width);
    return PORTIO_INDEXED_SINGLE_SIZE(width, FALSE);
}

static DWORD single_write_record(uint8_t *record, DWORD index_port, DWORD data_port, DWORD index,
                                 DWORD value, DWORD width)
{
    single_record(record, index_port, data_port, index, width);
    portio_store_le(record + PORTIO_INDEXED_SINGLE_HEADER + width, value, width);
    return PORTIO_INDEXED_SINGLE_SIZE(width, TRUE);
}

/* The driver reads the register straight into the caller's storage. */
static BOOL read_single(DWORD code, DWORD index_port, DWORD data_port, DWORD index, void *value,
                        DWORD width)
{
    uint8_t record[PORTIO_INDEXED_SINGLE_MAX];
    DWORD size;

    if (!value) return FALSE;
    if (!driver_guard()) return FALSE;
    size = single_record(record, index_port, data_port, index, width);
    return driver_request(code, record, size, value, width);
}

static BOOL write_single(DWORD code, DWORD index_port, DWORD data_port, DWORD index, DWORD value,
                         DWORD width)
{
    uint8_t record[PORTIO_INDEXED_SINGLE_MAX];
    DWORD size;

    if (!driver_guard()) return FALSE;
    size = single_write_record(record, index_port, data_port, index, value, width);
    return driver_request(code, record, size, NULL, 0);
}

/*
 * A list of registers in one heap block: the ports and the count, then an element per
 * register with its index and, for writes, its value. Null when the size does not fit 32 bits
 * or the heap has no room; *size gets the record's size.
 */
static uint8_t *list_record(DWORD index_port, DWORD data_port, DWORD count, const void *indices,
                            const void *values, DWORD width, DWORD *size)
{
    BOOL write = values != NULL;
    DWORD element_size = PORTIO_INDEXED_ELEMENT_SIZE(width, write);
    uint64_t total = PORTIO_INDEXED_LIST_HEADER + (uint64_t)count * element_size;
    uint8_t *block, *element;

    if (!size_fits_32(total)) return NULL;
    block = (uint8_t *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)total);
    if (!block) return NULL;
    store_ports(block, index_port, data_port);
    portio_store_le(block + PORTIO_INDEXED_LIST_COUNT, count, 4);
    element = block + PORTIO_INDEXED_LIST_HEADER;
    for (DWORD i = 0; i < count; i++, element += element_size) {
        portio_store_le(element, load_element(indices, i, width), width);
        if (write) portio_store_le(element + width, load_element(values, i, width), width);
    }
    *size = (DWORD)total;
    return block;
}

/* Sends a list record and frees it; FALSE without a request when it could not be built. */
static BOOL send_list(DWORD code, uint8_t *record, DWORD size, void *output, DWORD output_length)
{
    BOOL result;

    if (!record) return FALSE;
    result = driver_request(code, record, size, output, output_length);
    HeapFree(GetProcessHeap(), 0, record);
    return result;
}

/* The driver reads the registers straight into the caller's array. */
static BOOL read_list(DWORD code, DWORD index_port, DWORD data_port, DWORD count,
                      const void *indices, void *values, DWORD width)
{
    uint8_t *record;
    DWORD size = 0;

    if (count == 0 || !indices || !values) return FALSE;
    if (!driver_guard()) return FALSE;
    record = list_record(index_port, data_port, count, indices, NULL, width, &size);
    return send_list(code, record, size, values, count * width);
}

static BOOL write_list(DWORD code, DWORD index_port, DWORD data_port, DWORD count,
                       const void *indices, const void *values, DWORD width)
{
    uint8_t *record;
    DWORD size = 0;

    if (count == 0 || !indices || !values) return FALSE;
    if (!driver_guard()) return FALSE;
    record = list_record(index_port, data_port, count, indices, values, width, &size);
    return send_list(code, record, size, NULL, 0);
}

BOOL WINAPI Brannic_ReadIndexedByte(DWORD indexPort, DWORD dataPort, DWORD index, BYTE *value)
{
    return read_single(PORTIO_READ_INDEXED_BYTE, indexPort, dataPort, index, value, 1);
}

BOOL WINAPI Brannic_ReadIndexedWord(DWORD indexPort, DWORD dataPort, DWORD index, WORD *value)
{
    return read_single(PORTIO_READ_INDEXED_WORD, indexPort, dataPort, index, value, 2);
}

BOOL WINAPI Brannic_ReadIndexedDWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD *value)
{
    return read_single(PORTIO_READ_INDEXED_DWORD, indexPort, dataPort, index, value, 4);
}

BOOL WINAPI Brannic_WriteIndexedByte(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value)
{
    return write_single(PORTIO_WRITE_INDEXED_BYTE, indexPort, dataPort, index, value, 1);
}

BOOL WINAPI Brannic_WriteIndexedWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value)
{
    return write_single(PORTIO_WRITE_INDEXED_WORD, indexPort, dataPort, index, value, 2);
}

BOOL WINAPI Brannic_WriteIndexedDWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value)
{
    return write_single(PORTIO_WRITE_INDEXED_DWORD, indexPort, dataPort, index, value, 4);
}

BOOL WINAPI Brannic_ReadIndexedByteArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                         const BYTE *indices, BYTE *values)
{
    return read_list(PORTIO_READ_INDEXED_BYTE_ARRAY, indexPort, dataPort, count,
                         indices, values, 1);
}

BOOL WINAPI Brannic_ReadIndexedWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                         const WORD *indices, WORD *values)
{
    return read_list(PORTIO_READ_INDEXED_WORD_ARRAY, indexPort, dataPort, count,
                         indices, values, 2);
}

BOOL WINAPI Brannic_ReadIndexedDWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const DWORD *indices, DWORD *values)
{
    return read_list(PORTIO_READ_INDEXED_DWORD_ARRAY, indexPort, dataPort, count,
                         indices, values, 4);
}

BOOL WINAPI Brannic_WriteIndexedByteArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const BYTE *indices, const BYTE *values)
{
    return write_list(PORTIO_WRITE_INDEXED_BYTE_ARRAY, indexPort, dataPort, count,
                         indices, values, 1);
}

BOOL WINAPI Brannic_WriteIndexedWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const WORD *indices, const WORD *values)
{
    return write_list(PORTIO_WRITE_INDEXED_WORD_ARRAY, indexPort, dataPort, count,
                         indices, values, 2);
}

BOOL WINAPI Brannic_WriteIndexedDWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                           const DWORD *indices, const DWORD *values)
{
    return write_list(PORTIO_WRITE_INDEXED_DWORD_ARRAY, indexPort, dataPort, count,
                         indices, values, 4);
}
