/*
 * The Dorvane index method: configuration requests, and EC commands serialised across
 * processes by the EC lock, a named semaphore.
 */
#include <windows.h>
#include <stdint.h>
#include "Brannic.h"
#include "driver_requests.h"
#include "ec_command.h"

#define EC_LOCK_NAME "Dorvane Utility Semaphore Object"
#define EC_LOCK_WAIT_MS 600
#define EC_LOCK_PAUSE_MS 200
#define EC_LOCK_WAITS 3
#define BLOCK_HEADER_SIZE 5

static_assert(sizeof(portio_dorvane_block_header) == BLOCK_HEADER_SIZE, "block header");

/*
 * One lock per call, in the call's own storage: threads of one host cannot overwrite each
 * other's handle or flag, and no handle outlives the call, so a process that dies holding
 * the semaphore takes the object with it once the others' calls have ended.
 */
struct ec_lock {
    HANDLE semaphore;
    BOOL held;
};

static BOOL ec_lock_acquire(struct ec_lock *lock)
{
    lock->held = FALSE;
    lock->semaphore = CreateSemaphoreA(NULL, 1, 1, EC_LOCK_NAME);
    if (!lock->semaphore) return FALSE;
    for (int wait = 0; wait < EC_LOCK_WAITS; wait++) {
        if (wait > 0) Sleep(EC_LOCK_PAUSE_MS);
        if (WaitForSingleObject(lock->semaphore, EC_LOCK_WAIT_MS) == WAIT_OBJECT_0) {
            lock->held = TRUE;
            return TRUE;
        }
    }
    CloseHandle(lock->semaphore);
    lock->semaphore = NULL;
    return FALSE;
}

static void ec_lock_release(struct ec_lock *lock)
{
    if (lock->held && ReleaseSemaphore(lock->semaphore, 1, NULL)) lock->held = FALSE;
    CloseHandle(lock->semaphore);
    lock->semaphore = NULL;
}

/* Set requests: the record in, a 4-byte EC reply out; 1 only for a nonzero status. */
static BOOL configuration_set(DWORD code, const void *record, DWORD size)
{
    return ec_reply_request(code, record, size, NULL, FALSE) ? 1 : 0;
}

/* Get requests: no input, the preset-to-zero record out; values copied only on success. */
static BOOL configuration_get(DWORD code, void *record, DWORD size)
{
    zero_bytes(record, size);
    return driver_request(code, NULL, 0, record, size);
}

static BOOL four_set(DWORD code, DWORD v1, DWORD v2, DWORD v3, DWORD v4, DWORD width)
{
    uint8_t record[8];

    if (!driver_guard()) return 0;
    zero_bytes(record, sizeof(record));
    store_le(record, v1, width);
    store_le(record + width, v2, width);
    store_le(record + 2 * width, v3, width);
    store_le(record + 3 * width, v4, width);
    return configuration_set(code, record, 4 * width);
}

/* Gets of four values of width bytes each; copied out only when the request succeeded. */
static BOOL four_get(DWORD code, void *v1, void *v2, void *v3, void *v4, DWORD width)
{
    uint8_t record[8];
    void *out[4] = {v1, v2, v3, v4};
    BOOL result;

    if (!driver_guard()) return 0;
    if (!v1 || !v2 || !v3 || !v4) return 0;
    result = configuration_get(code, record, 4 * width);
    if (!result) return 0;
    for (DWORD i = 0; i < 4; i++) copy_bytes(out[i], record + i * width, width);
    return result;
}

/*
 * Sending requests. Arguments are checked and any data block allocated before the lock;
 * the block is freed and the lock released whatever the request's result.
 */
static DWORD dorvane_send(DWORD code, DWORD command, const uint8_t *data, DWORD data_length,
                          BOOL block, BYTE *response, BOOL with_response)
{
    uint64_t size = block ? BLOCK_HEADER_SIZE + (uint64_t)data_length : 1 + data_length;
    uint8_t small[2], *record = small;
    struct ec_lock lock;
    DWORD status;

    if (block) {
        if (!size_fits_32(size)) return 0;
        record = (uint8_t *)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)size);
        if (!record) return 0;
    }
    if (!ec_lock_acquire(&lock)) {
        if (block) HeapFree(GetProcessHeap(), 0, record);
        return 0;
    }

    zero_bytes(record, (size_t)size);
    record[0] = (uint8_t)command;
    if (block) {
        store_le(record + 1, data_length, 4);
        copy_bytes(record + BLOCK_HEADER_SIZE, data, data_length);
    } else if (data_length) {
        record[1] = data[0];
    }
    status = ec_reply_request(code, record, (DWORD)size, response, with_response);

    if (block) HeapFree(GetProcessHeap(), 0, record);
    ec_lock_release(&lock);
    return status;
}

BOOL WINAPI Brannic_SetDorvaneIndexMethodEcPortType(DWORD portType)
{
    portio_dorvane_port_type record;

    if (!driver_guard()) return 0;
    zero_bytes(&record, sizeof(record));
    record.port_type = (uint8_t)portType;
    return configuration_set(PORTIO_DORVANE_SET_PORT_TYPE, &record, sizeof(record));
}

BOOL WINAPI Brannic_SetDorvaneIndexMethodIoAddress(DWORD address1, DWORD address2,
                                                   DWORD address3, DWORD address4)
{
    return four_set(PORTIO_DORVANE_SET_IO_ADDRESS, address1, address2, address3, address4, 2);
}

BOOL WINAPI Brannic_SetDorvaneIndexMethodEcPortDevice(DWORD device1, DWORD device2,
                                                      DWORD device3, DWORD device4)
{
    return four_set(PORTIO_DORVANE_SET_PORT_DEVICE, device1, device2, device3, device4, 1);
}

BOOL WINAPI Brannic_GetDorvaneIndexMethodEcPortType(BYTE *portType)
{
    portio_dorvane_port_type record;
    BOOL result;

    if (!driver_guard()) return 0;
    if (!portType) return 0;
    result = configuration_get(PORTIO_DORVANE_GET_PORT_TYPE, &record, sizeof(record));
    if (!result) return 0;
    *portType = record.port_type;
    return result;
}

BOOL WINAPI Brannic_GetDorvaneIndexMethodIoAddress(WORD *address1, WORD *address2,
                                                   WORD *address3, WORD *address4)
{
    return four_get(PORTIO_DORVANE_GET_IO_ADDRESS, address1, address2, address3, address4, 2);
}

BOOL WINAPI Brannic_GetDorvaneIndexMethodEcPortDevice(BYTE *device1, BYTE *device2,
                                                      BYTE *device3, BYTE *device4)
{
    return four_get(PORTIO_DORVANE_GET_PORT_DEVICE, device1, device2, device3, device4, 1);
}

BOOL WINAPI Brannic_GetDorvaneIndexMethodEcAddress(WORD *address1, WORD *address2,
                                                   WORD *address3, WORD *address4)
{
    return four_get(PORTIO_DORVANE_GET_EC_ADDRESS, address1, address2, address3, address4, 2);
}

BOOL WINAPI Brannic_SetDorvaneIndexMethodEcAddress(DWORD address1, DWORD address2,
                                                   DWORD address3, DWORD address4)
{
    return four_set(PORTIO_DORVANE_SET_EC_ADDRESS, address1, address2, address3, address4, 2);
}

BOOL WINAPI Brannic_SendDorvaneIndexMethodEcCommand(DWORD command)
{
    if (!driver_guard()) return 0;
    return dorvane_send(PORTIO_DORVANE_COMMAND, command, NULL, 0, FALSE, NULL, FALSE) ? 1 : 0;
}

DWORD WINAPI Brannic_SendDorvaneIndexMethodEcCommandWithResponse(DWORD command, BYTE *response)
{
    if (!driver_guard()) return 0;
    return dorvane_send(PORTIO_DORVANE_COMMAND_RESPONSE, command, NULL, 0, FALSE, response, TRUE);
}

BOOL WINAPI Brannic_SendDorvaneIndexMethodEcCommandData(DWORD command, DWORD data)
{
    uint8_t byte = (uint8_t)data;

    if (!driver_guard()) return 0;
    return dorvane_send(PORTIO_DORVANE_DATA, command, &byte, 1, FALSE, NULL, FALSE) ? 1 : 0;
}

DWORD WINAPI Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse(DWORD command, DWORD data,
                                                                     BYTE *response)
{
    uint8_t byte = (uint8_t)data;

    if (!driver_guard()) return 0;
    if (!response) return 0;
    return dorvane_send(PORTIO_DORVANE_DATA_RESPONSE, command, &byte, 1, FALSE, response, TRUE);
}

BOOL WINAPI Brannic_SendDorvaneIndexMethodEcCommandDataArray(DWORD command, DWORD count,
                                                             const BYTE *data)
{
    if (!driver_guard()) return 0;
    if (count == 0 || !data) return 0;
    return dorvane_send(PORTIO_DORVANE_DATA_ARRAY, command, data, count, TRUE, NULL, FALSE) ? 1 : 0;
}

DWORD WINAPI Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse(DWORD command,
                                                                          DWORD count,
                                                                          const BYTE *data,
                                                                          BYTE *response)
{
    if (!driver_guard()) return 0;
    if (count == 0 || !data || !response) return 0;
    /* This request shares its code with the data request with response. */
    return dorvane_send(PORTIO_DORVANE_DATA_RESPONSE, command, data, count, TRUE, response, TRUE);
}
