// Registers behind an index/data port pair: one driver request per call, a single register
// from a local record, a list of registers from one heap record.
#include <windows.h>
#include <stdint.h>
#include "Brannic.h"
#include "driver_requests.h"

// The registers a call addresses: its port pair, and the width of its indices and values.
struct RegisterTarget {
    DWORD indexPort, dataPort, width;
};

enum class Access {
    kRead,
    kWrite
};

// The ports at the head of every indexed record, the reserved bytes after them left 0.
static void StorePorts(uint8_t* record, const RegisterTarget& target)
{
    PortioStoreLe(record + PORTIO_INDEXED_INDEX_PORT, target.indexPort, 4);
    PortioStoreLe(record + PORTIO_INDEXED_DATA_PORT, target.dataPort, 4);
}

// A single register: the ports, the index and, for a write, the value. Returns its size.
static DWORD SingleRecord(uint8_t* record, const RegisterTarget& target, DWORD index, Access access,
                          DWORD value)
{
    ZeroBytes(record, PORTIO_INDEXED_SINGLE_MAX);
    StorePorts(record, target);
    PortioStoreLe(record + PORTIO_INDEXED_SINGLE_HEADER, index, target.width);
    if (access == Access::kRead) return PORTIO_INDEXED_SINGLE_SIZE(target.width, false);
    PortioStoreLe(record + PORTIO_INDEXED_SINGLE_HEADER + target.width, value, target.width);
    return PORTIO_INDEXED_SINGLE_SIZE(target.width, true);
}

// The driver reads the register straight into the caller's storage.
static BOOL ReadSingle(DWORD code, const RegisterTarget& target, DWORD index, void* value)
{
    uint8_t record[PORTIO_INDEXED_SINGLE_MAX];
    if (!value) return FALSE;
    if (!DriverGuard()) return FALSE;
    DWORD size = SingleRecord(record, target, index, Access::kRead, 0);
    return DriverRequest(code, record, size, value, target.width);
}

static BOOL WriteSingle(DWORD code, const RegisterTarget& target, DWORD index, DWORD value)
{
    uint8_t record[PORTIO_INDEXED_SINGLE_MAX];
    if (!DriverGuard()) return FALSE;
    DWORD size = SingleRecord(record, target, index, Access::kWrite, value);
    return DriverRequest(code, record, size, nullptr, 0);
}

// A list of registers in one heap record: the ports and the count, then an element per
// register with its index and, for writes, its value (values is read only for writes). Null
// when the size does not fit 32 bits or the heap has no room; *size gets the record's size.
static uint8_t* ListRecord(const RegisterTarget& target, Access access, DWORD count,
                           const void* indices, const void* values, DWORD* size)
{
    bool write = access == Access::kWrite;
    DWORD elementSize = PORTIO_INDEXED_ELEMENT_SIZE(target.width, write);
    uint64_t total = PORTIO_INDEXED_LIST_HEADER + (uint64_t)count * elementSize;
    uint8_t* record = AllocateRecord(total);
    if (!record) return nullptr;
    StorePorts(record, target);
    PortioStoreLe(record + PORTIO_INDEXED_LIST_COUNT, count, 4);
    uint8_t* element = record + PORTIO_INDEXED_LIST_HEADER;
    for (DWORD i = 0; i < count; i++, element += elementSize) {
        PortioStoreLe(element, LoadFromCaller(indices, i, target.width), target.width);
        if (write)
            PortioStoreLe(element + target.width, LoadFromCaller(values, i, target.width),
                          target.width);
    }
    *size = (DWORD)total;
    return record;
}

// Sends a list record and frees it; FALSE without a request when it could not be built.
static BOOL SendList(DWORD code, uint8_t* record, DWORD size, void* output, DWORD outputLength)
{
    if (!record) return FALSE;
    BOOL result = DriverRequest(code, record, size, output, outputLength);
    FreeRecord(record);
    return result;
}

// The driver reads the registers straight into the caller's array.
static BOOL ReadList(DWORD code, const RegisterTarget& target, DWORD count, const void* indices,
                     void* values)
{
    DWORD size = 0;
    if (count == 0 || !indices || !values) return FALSE;
    if (!DriverGuard()) return FALSE;
    uint8_t* record = ListRecord(target, Access::kRead, count, indices, nullptr, &size);
    return SendList(code, record, size, values, count * target.width);
}

static BOOL WriteList(DWORD code, const RegisterTarget& target, DWORD count, const void* indices,
                      const void* values)
{
    DWORD size = 0;
    if (count == 0 || !indices || !values) return FALSE;
    if (!DriverGuard()) return FALSE;
    uint8_t* record = ListRecord(target, Access::kWrite, count, indices, values, &size);
    return SendList(code, record, size, nullptr, 0);
}

BOOL WINAPI Brannic_ReadIndexedByte(DWORD indexPort, DWORD dataPort, DWORD index, BYTE* value)
{
    return ReadSingle(PORTIO_READ_INDEXED_BYTE, {indexPort, dataPort, 1}, index, value);
}

BOOL WINAPI Brannic_ReadIndexedWord(DWORD indexPort, DWORD dataPort, DWORD index, WORD* value)
{
    return ReadSingle(PORTIO_READ_INDEXED_WORD, {indexPort, dataPort, 2}, index, value);
}

BOOL WINAPI Brannic_ReadIndexedDWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD* value)
{
    return ReadSingle(PORTIO_READ_INDEXED_DWORD, {indexPort, dataPort, 4}, index, value);
}

BOOL WINAPI Brannic_WriteIndexedByte(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value)
{
    return WriteSingle(PORTIO_WRITE_INDEXED_BYTE, {indexPort, dataPort, 1}, index, value);
}

BOOL WINAPI Brannic_WriteIndexedWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value)
{
    return WriteSingle(PORTIO_WRITE_INDEXED_WORD, {indexPort, dataPort, 2}, index, value);
}

BOOL WINAPI Brannic_WriteIndexedDWord(DWORD indexPort, DWORD dataPort, DWORD index, DWORD value)
{
    return WriteSingle(PORTIO_WRITE_INDEXED_DWORD, {indexPort, dataPort, 4}, index, value);
}

BOOL WINAPI Brannic_ReadIndexedByteArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                         const BYTE* indices, BYTE* values)
{
    return ReadList(PORTIO_READ_INDEXED_BYTE_ARRAY, {indexPort, dataPort, 1}, count, indices,
                    values);
}

BOOL WINAPI Brannic_ReadIndexedWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                         const WORD* indices, WORD* values)
{
    return ReadList(PORTIO_READ_INDEXED_WORD_ARRAY, {indexPort, dataPort, 2}, count, indices,
                    values);
}

BOOL WINAPI Brannic_ReadIndexedDWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const DWORD* indices, DWORD* values)
{
    return ReadList(PORTIO_READ_INDEXED_DWORD_ARRAY, {indexPort, dataPort, 4}, count, indices,
                    values);
}

BOOL WINAPI Brannic_WriteIndexedByteArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const BYTE* indices, const BYTE* values)
{
    return WriteList(PORTIO_WRITE_INDEXED_BYTE_ARRAY, {indexPort, dataPort, 1}, count, indices,
                     values);
}

BOOL WINAPI Brannic_WriteIndexedWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                          const WORD* indices, const WORD* values)
{
    return WriteList(PORTIO_WRITE_INDEXED_WORD_ARRAY, {indexPort, dataPort, 2}, count, indices,
                     values);
}

BOOL WINAPI Brannic_WriteIndexedDWordArray(DWORD indexPort, DWORD dataPort, DWORD count,
                                           const DWORD* indices, const DWORD* values)
{
    return WriteList(PORTIO_WRITE_INDEXED_DWORD_ARRAY, {indexPort, dataPort, 4}, count, indices,
                     values);
}
