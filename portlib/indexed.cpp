/*
 * Registers behind an index/data port pair: one driver request per call, a single register
 * from a local record, a list of registers from one heap block.
 */
#include <windows.h>
#include <stdint.h>
#include "Brannic.h"
#include "driver_requests.h"

/* The ports at the head of every indexed record, the reserved bytes after them left 0. */
static void StorePorts(uint8_t *record, DWORD indexPort, DWORD dataPort)
{
    PortioStoreLe(record + PORTIO_INDEXED_INDEX_PORT, indexPort, 4);
    PortioStoreLe(record + PORTIO_INDEXED_DATA_PORT, dataPort, 4);
}

/* A single register: the ports, the index and, for a write, the value. Returns its size. */
static DWORD SingleRecord(uint8_t *record, DWORD indexPort, DWORD dataPort, DWORD index,
                           DWORD width)
{
    ZeroBytes(record, PORTIO_INDEXED_SINGLE_MAX);
    StorePorts(record, indexPort, dataPort);
    PortioStoreLe(record + PORTIO_INDEXED_SINGLE_HEADER, index, width);
    return PORTIO_INDEXED_SINGLE_SIZE(width, FALSE);
}

static DWORD SingleWriteRecord(uint8_t *record, DWORD indexPort, DWORD dataPort, DWORD index,
                                 DWORD value, DWORD width)
{
    SingleRecord(record, indexPort, dataPort, index, width);
    PortioStoreLe(record + PORTIO_INDEXED_SINGLE_HEADER + width, value, width);
    return PORTIO_INDEXED_SINGLE_SIZE(width, TRUE);
}

/* The driver reads the register straight into the caller's storage. */
static BOOL ReadSingle(DWORD code, DWORD indexPort, DWORD dataPort, DWORD index, void *value,
                        DWORD width)
{
    uint8_t record[PORTIO_INDEXED_SINGLE_MAX];
    DWORD size;

    if (!value) return FALSE;
    if (!DriverGuard()) return FALSE;
    size = SingleRecord(record, indexPort, dataPort, index, width);
    return DriverRequest(code, record, size, value, width);
}

static BOOL WriteSingle(DWORD code, DWORD indexPort, DWORD dataPort, DWORD index, DWORD value,
                         DWORD width)
{
    uint8_t record[PORTIO_INDEXED_SINGLE_MAX];
    DWORD size;

    if (!DriverGuard()) return FALSE;
    size = SingleWriteRecord(record, indexPort, dataPort, index, value, width);
    return DriverRequest(code, record, size, NULL, 0);
}

/*
 * A list of registers in one heap block: the ports and the count, then an element per
 * register with its index and, for writes, its value. Null when the size does not fit 32 bits
 * or the heap has no room; *size gets the record's size.
 */
static uint8_t *ListRecord(DWORD indexPort, DWORD dataPort, DWORD count, const void *indices,
                            const void *values, DWORD width, DWORD *size)
{
    BOOL write = values != NULL;
    DWORD elementSize = PORTIO_INDEXED_ELEMENT_SIZE(width, write);
    uint64_t total = PORTIO_INDEXED_LIST_HEADER + (uint64_t)count * elementSize;
    uint8_t *block, *element;

    if (!SizeFits32(total)) return NULL;
    block = (uint8_t *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (SIZE_T)total);
    if (!block) return NULL;
    StorePorts(block, indexPort, dataPort);
    PortioStoreLe(block + PORTIO_INDEXED_LIST_COUNT, count, 4);
    element = block + PORTIO_INDEXED_LIST_HEADER;
    for (DWORD i = 0; i < count; i++, element += elementSize) {
        PortioStoreLe(element, LoadElement(indices, i, width), width);
        if (write) PortioStoreLe(element + width, LoadElement(values, i, width), width);
    }
    *size = (DWORD)total;
    return block;
}

/* Sends a list record and frees it; FALSE without a request when it could not be built. */
static BOOL SendList(DWORD code, uint8_t *record, DWORD size, void *output, DWORD outputLength)
{
    BOOL result;

    if (!record) return FALSE;
    result = DriverRequest(code, record, size, output, outputLength);
    HeapFree(GetProcessHeap(), 0, record);
    return result;
}

/* The driver reads the registers straight into the caller's array. */
static BOOL ReadList(DWORD code, DWORD indexPort, DWORD dataPort, DWORD count,
                      const void *indices, void *values, DWORD width)
{
    uint8_t *record;
    DWORD size = 0;

    if (count == 0 || !indices || !values) return FALSE;
    if (!DriverGuard()) return FALSE;
    record = ListRecord(indexPort, dataPort, count, indices, NULL, width, &size);
    return SendList(code, record, size, values, count * width);
}

static BOOL WriteList(DWORD code, DWORD indexPort, DWORD dataPort, DWORD count,
                       const void *indices, const void *values, DWORD width)
{
    uint8_t *record;
    DWORD size = 0;

    if (count == 0 || !indices || !values) return FALSE;
    if (!DriverGuard()) return FALSE;
    record = ListRecord(indexPort, dataPort, count, indices, values, width, &size);
    return SendList(code, record, size, NULL, 0);
}

BOOL WINAPI Brannic_ReadIndexedByte(DWORD indexPort, DWORD dataPort, DWORD index, BYTE *value)
{
    return ReadSingle(PORTIO_READ_INDEXED_BYTE, indexPort, dataPort, index, value, 1);
}

BOOL WINAPI Brannic_ReadIndexedWord(DWORD indexPort, DWORD dataPort, DWORD index, WORD *value)
{
    return ReadSingle(PORTIO_READ_INDEXED_WORD, indexPort, dataPort, index, value, 2);
}

BOOL WINAPI Brannic_ReadIndexedDWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD *value)
{
    return ReadSingle(PORTIO_READ_INDEXED_DWORD, indexPort, dataPort, index, value, 4);
}

BOOL WINAPI Brannic_WriteIndexedByte(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value)
{
    return WriteSingle(PORTIO_WRITE_INDEXED_BYTE, indexPort, dataPort, index, value, 1);
}

BOOL WINAPI Brannic_WriteIndexedWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value)
{
    return WriteSingle(PORTIO_WRITE_INDEXED_WORD, indexPort, dataPort, index, value, 2);
}

BOOL WINAPI Brannic_WriteIndexedDWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value)
{
    return WriteSingle(PORTIO_WRITE_INDEXED_DWORD, indexPort, dataPort, index, value, 4);
}

BOOL WINAPI Brannic_ReadIndexedByteArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                         const BYTE *indices, BYTE *values)
{
    return ReadList(PORTIO_READ_INDEXED_BYTE_ARRAY, indexPort, dataPort, count,
                         indices, values, 1);
}

BOOL WINAPI Brannic_ReadIndexedWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                         const WORD *indices, WORD *values)
{
    return ReadList(PORTIO_READ_INDEXED_WORD_ARRAY, indexPort, dataPort, count,
                         indices, values, 2);
}

BOOL WINAPI Brannic_ReadIndexedDWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const DWORD *indices, DWORD *values)
{
    return ReadList(PORTIO_READ_INDEXED_DWORD_ARRAY, indexPort, dataPort, count,
                         indices, values, 4);
}

BOOL WINAPI Brannic_WriteIndexedByteArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const BYTE *indices, const BYTE *values)
{
    return WriteList(PORTIO_WRITE_INDEXED_BYTE_ARRAY, indexPort, dataPort, count,
                         indices, values, 1);
}

BOOL WINAPI Brannic_WriteIndexedWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const WORD *indices, const WORD *values)
{
    return WriteList(PORTIO_WRITE_INDEXED_WORD_ARRAY, indexPort, dataPort, count,
                         indices, values, 2);
}

BOOL WINAPI Brannic_WriteIndexedDWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                           const DWORD *indices, const DWORD *values)
{
    return WriteList(PORTIO_WRITE_INDEXED_DWORD_ARRAY, indexPort, dataPort, count,
                         indices, values, 4);
}
