/*
 * The Dorvane index method: configuration requests, and EC commands serialised across
 * processes by the EC lock, a named semaphore.
 */
#include <windows.h>
#include <stdint.h>
#include "Brannic.h"
#include "driver_requests.h"
#include "ec_command.h"

#define EC_LOCK_WAIT_MS 600
#define EC_LOCK_PAUSE_MS 200
#define EC_LOCK_WAITS 3

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
    lock->semaphore = CreateSemaphoreA(NULL, 1, 1, PORTIO_EC_LOCK_NAME);
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

/* ---- Configuration: no lock ---- */

/* Set requests: the record in, a 4-byte EC reply out; TRUE only for a nonzero status. */
static BOOL configuration_set(DWORD code, const uint8_t *record, DWORD size)
{
    return ec_request(code, record, size) ? TRUE : FALSE;
}

/* Get requests: no input, the preset-to-zero record out. */
static BOOL configuration_get(DWORD code, uint8_t *record, DWORD size)
{
    zero_bytes(record, size);
    return driver_request(code, NULL, 0, record, size);
}

/* Four values of width bytes each, in parameter order. */
static void four_values_record(uint8_t *record, DWORD v1, DWORD v2, DWORD v3, DWORD v4,
                               DWORD width)
{
    zero_bytes(record, 4 * width);
    portio_store_le(record, v1, width);
    portio_store_le(record + width, v2, width);
    portio_store_le(record + 2 * width, v3, width);
    portio_store_le(record + 3 * width, v4, width);
}

static BOOL four_set(DWORD code, DWORD v1, DWORD v2, DWORD v3, DWORD v4, DWORD width)
{
    uint8_t record[PORTIO_DORVANE_ADDRESSES_SIZE];

    if (!driver_guard()) return FALSE;
    four_values_record(record, v1, v2, v3, v4, width);
    return configuration_set(code, record, 4 * width);
}

/* Gets of four values of width bytes each; stored only when the request succeeded. */
static BOOL four_get(DWORD code, void *v1, void *v2, void *v3, void *v4, DWORD width)
{
    uint8_t record[PORTIO_DORVANE_ADDRESSES_SIZE];
    void *out[4] = {v1, v2, v3, v4};
    BOOL result;

    if (!driver_guard()) return FALSE;
    if (!v1 || !v2 || !v3 || !v4) return FALSE;
    result = configuration_get(code, record, 4 * width);
    if (!result) return FALSE;
    for (DWORD i = 0; i < 4; i++) store_value(out[i], portio_load_le(record + i * width, width), width);
    return result;
}

/* ---- Sending: under the EC lock ---- */

/* Sends a record under the EC lock; 0 without a request when the lock is not obtained. */
static DWORD send_locked(DWORD code, const uint8_t *record, DWORD size)
{
    struct ec_lock lock;
    DWORD status;

    if (!ec_lock_acquire(&lock)) return 0;
    status = ec_request(code, record, size);
    ec_lock_release(&lock);
    return status;
}

static DWORD send_locked_with_response(DWORD code, const uint8_t *record, DWORD size,
                                       BYTE *response)
{
    struct ec_lock lock;
    DWORD status;

    if (!ec_lock_acquire(&lock)) return 0;
    status = ec_request_with_response(code, record, size, response);
    ec_lock_release(&lock);
    return status;
}

/*
 * The data-block record in one heap block: command, count, the count data bytes. Allocated
 * before the lock is taken and freed whatever the request's result; null when 5 + count does
 * not fit 32 bits or the heap has no room.
 */
static uint8_t *block_record(DWORD command, DWORD count, const BYTE *data)
{
    uint64_t size = PORTIO_DORVANE_BLOCK_HEADER + (uint64_t)count;
    uint8_t *block;

    if (!size_fits_32(size)) return NULL;
    block = (uint8_t *)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)size);
    if (!block) return NULL;
    zero_bytes(block, (size_t)size);
    block[0] = (uint8_t)command;
    portio_store_le(block + PORTIO_DORVANE_BLOCK_COUNT, count, 4);
    copy_bytes(block + PORTIO_DORVANE_BLOCK_HEADER, data, count);
    return block;
}

static void block_free(uint8_t *block) { HeapFree(GetProcessHeap(), 0, block); }

/* ---- Exports ---- */

BOOL WINAPI Brannic_SetDorvaneIndexMethodEcPortType(DWORD portType)
{
    uint8_t record[PORTIO_DORVANE_PORT_TYPE_SIZE] = {(uint8_t)portType};

    if (!driver_guard()) return FALSE;
    return configuration_set(PORTIO_DORVANE_SET_PORT_TYPE, record, sizeof(record));
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
    uint8_t record[PORTIO_DORVANE_PORT_TYPE_SIZE];

    if (!driver_guard()) return FALSE;
    if (!portType) return FALSE;
    if (!configuration_get(PORTIO_DORVANE_GET_PORT_TYPE, record, sizeof(record))) return FALSE;
    *portType = record[0];
    return TRUE;
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
    uint8_t record[PORTIO_DORVANE_COMMAND_SIZE] = {(uint8_t)command};

    if (!driver_guard()) return FALSE;
    return send_locked(PORTIO_DORVANE_COMMAND, record, sizeof(record)) ? TRUE : FALSE;
}

DWORD WINAPI Brannic_SendDorvaneIndexMethodEcCommandWithResponse(DWORD command, BYTE *response)
{
    uint8_t record[PORTIO_DORVANE_COMMAND_SIZE] = {(uint8_t)command};

    if (!driver_guard()) return 0;
    return send_locked_with_response(PORTIO_DORVANE_COMMAND_RESPONSE, record, sizeof(record),
                                     response);
}

BOOL WINAPI Brannic_SendDorvaneIndexMethodEcCommandData(DWORD command, DWORD data)
{
    uint8_t record[PORTIO_DORVANE_COMMAND_DATA_SIZE] = {(uint8_t)command, (uint8_t)data};

    if (!driver_guard()) return FALSE;
    return send_locked(PORTIO_DORVANE_DATA, record, sizeof(record)) ? TRUE : FALSE;
}

DWORD WINAPI Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse(DWORD command, DWORD data,
                                                                     BYTE *response)
{
    uint8_t record[PORTIO_DORVANE_COMMAND_DATA_SIZE] = {(uint8_t)command, (uint8_t)data};

    if (!driver_guard()) return 0;
    if (!response) return 0;
    return send_locked_with_response(PORTIO_DORVANE_DATA_RESPONSE, record, sizeof(record),
                                     response);
}

BOOL WINAPI Brannic_SendDorvaneIndexMethodEcCommandDataArray(DWORD command, DWORD count,
                                                             const BYTE *data)
{
    uint8_t *block;
    DWORD status;

    if (!driver_guard()) return FALSE;
    if (count == 0 || !data) return FALSE;
    block = block_record(command, count, data);
    if (!block) return FALSE;
    status = send_locked(PORTIO_DORVANE_DATA_ARRAY, block, PORTIO_DORVANE_BLOCK_HEADER + count);
    block_free(block);
    return status ? TRUE : FALSE;
}

/* This request shares its code with the data request with response; its length tells it apart. */
DWORD WINAPI Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse(DWORD command,
                                                                          DWORD count,
                                                                          const BYTE *data,
                                                                          BYTE *response)
{
    uint8_t *block;
    DWORD status;

    if (!driver_guard()) return 0;
    if (count == 0 || !data || !response) return 0;
    block = block_record(command, count, data);
    if (!block) return 0;
    status = send_locked_with_response(PORTIO_DORVANE_DATA_RESPONSE, block,
                                       PORTIO_DORVANE_BLOCK_HEADER + count, response);
    block_free(block);
    return status;
}
