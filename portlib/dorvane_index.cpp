// The Dorvane index method: configuration requests, and EC commands serialised across
// processes by the EC lock, a named semaphore.
#include <windows.h>
#include <stdint.h>
#include "Brannic.h"
#include "driver_requests.h"
#include "ec_command.h"

// The EC lock is waited for at most three times, 600 ms each, 200 ms apart.
const DWORD kEcLockWaitMs = 600;
const DWORD kEcLockPauseMs = 200;
const int kEcLockWaits = 3;

// One lock per call, in the call's own storage: threads of one host cannot overwrite each
// other's handle or flag, and no handle outlives the call, so a process that dies holding
// the semaphore takes the object with it once the others' calls have ended.
struct EcLock {
    HANDLE semaphore;
    bool held;
};

static bool EcLockAcquire(EcLock* lock)
{
    lock->held = false;
    lock->semaphore = CreateSemaphoreA(nullptr, 1, 1, PORTIO_EC_LOCK_NAME);
    if (!lock->semaphore) return false;
    for (int wait = 0; wait < kEcLockWaits; wait++) {
        if (wait > 0) Sleep(kEcLockPauseMs);
        if (WaitForSingleObject(lock->semaphore, kEcLockWaitMs) == WAIT_OBJECT_0) {
            lock->held = true;
            return true;
        }
    }
    CloseHandle(lock->semaphore);
    lock->semaphore = nullptr;
    return false;
}

static void EcLockRelease(EcLock* lock)
{
    if (lock->held && ReleaseSemaphore(lock->semaphore, 1, nullptr)) lock->held = false;
    CloseHandle(lock->semaphore);
    lock->semaphore = nullptr;
}

// ---- Configuration: no lock ----

// Set requests: the record in, a 4-byte EC reply out; TRUE only for a nonzero status.
static BOOL ConfigurationSet(DWORD code, const uint8_t* record, DWORD size)
{
    return EcRequest(code, record, size) ? TRUE : FALSE;
}

// Get requests: no input, the preset-to-zero record out.
static BOOL ConfigurationGet(DWORD code, uint8_t* record, DWORD size)
{
    ZeroBytes(record, size);
    return DriverRequest(code, nullptr, 0, record, size);
}

// Four values of width bytes each, in parameter order.
static void FourValueRecord(uint8_t* record, DWORD v1, DWORD v2, DWORD v3, DWORD v4, DWORD width)
{
    ZeroBytes(record, 4 * width);
    PortioStoreLe(record, v1, width);
    PortioStoreLe(record + width, v2, width);
    PortioStoreLe(record + 2 * width, v3, width);
    PortioStoreLe(record + 3 * width, v4, width);
}

// A set request of four values of width bytes each (addresses or devices).
static BOOL SetFourValues(DWORD code, DWORD v1, DWORD v2, DWORD v3, DWORD v4, DWORD width)
{
    uint8_t record[PORTIO_DORVANE_ADDRESSES_SIZE];

    if (!DriverGuard()) return FALSE;
    FourValueRecord(record, v1, v2, v3, v4, width);
    return ConfigurationSet(code, record, 4 * width);
}

// A get request of four values of width bytes each; stored only when the request succeeded.
static BOOL GetFourValues(DWORD code, void* v1, void* v2, void* v3, void* v4, DWORD width)
{
    uint8_t record[PORTIO_DORVANE_ADDRESSES_SIZE];
    void* out[4] = {v1, v2, v3, v4};
    BOOL result;

    if (!DriverGuard()) return FALSE;
    if (!v1 || !v2 || !v3 || !v4) return FALSE;
    result = ConfigurationGet(code, record, 4 * width);
    if (!result) return FALSE;
    for (DWORD i = 0; i < 4; i++)
        StoreToCaller(out[i], PortioLoadLe(record + i * width, width), width);
    return result;
}

// ---- Sending: under the EC lock ----

// Sends a record under the EC lock; 0 without a request when the lock is not obtained.
static DWORD SendLocked(DWORD code, const uint8_t* record, DWORD size)
{
    EcLock lock;
    DWORD status;

    if (!EcLockAcquire(&lock)) return 0;
    status = EcRequest(code, record, size);
    EcLockRelease(&lock);
    return status;
}

static DWORD SendLockedWithResponse(DWORD code, const uint8_t* record, DWORD size, BYTE* response)
{
    EcLock lock;
    DWORD status;

    if (!EcLockAcquire(&lock)) return 0;
    status = EcRequestWithResponse(code, record, size, response);
    EcLockRelease(&lock);
    return status;
}

// The data-block record in one heap block: command, count, the count data bytes. Allocated
// before the lock is taken and freed whatever the request's result; null when 5 + count does
// not fit 32 bits or the heap has no room.
static uint8_t* BlockRecord(DWORD command, DWORD count, const BYTE* data)
{
    uint8_t* block = AllocateRecord(PORTIO_DORVANE_BLOCK_HEADER + (uint64_t)count);
    if (!block) return nullptr;
    block[0] = (uint8_t)command;
    PortioStoreLe(block + PORTIO_DORVANE_BLOCK_COUNT, count, 4);
    CopyBytes(block + PORTIO_DORVANE_BLOCK_HEADER, data, count);
    return block;
}

// ---- Exports ----

BOOL WINAPI Brannic_SetDorvaneIndexMethodEcPortType(DWORD portType)
{
    uint8_t record[PORTIO_DORVANE_PORT_TYPE_SIZE] = {(uint8_t)portType};

    if (!DriverGuard()) return FALSE;
    return ConfigurationSet(PORTIO_DORVANE_SET_PORT_TYPE, record, sizeof(record));
}

BOOL WINAPI Brannic_SetDorvaneIndexMethodIoAddress(DWORD address1, DWORD address2, DWORD address3,
                                                   DWORD address4)
{
    return SetFourValues(PORTIO_DORVANE_SET_IO_ADDRESS, address1, address2, address3, address4, 2);
}

BOOL WINAPI Brannic_SetDorvaneIndexMethodEcPortDevice(DWORD device1, DWORD device2, DWORD device3,
                                                      DWORD device4)
{
    return SetFourValues(PORTIO_DORVANE_SET_PORT_DEVICE, device1, device2, device3, device4, 1);
}

BOOL WINAPI Brannic_GetDorvaneIndexMethodEcPortType(BYTE* portType)
{
    uint8_t record[PORTIO_DORVANE_PORT_TYPE_SIZE];

    if (!DriverGuard()) return FALSE;
    if (!portType) return FALSE;
    if (!ConfigurationGet(PORTIO_DORVANE_GET_PORT_TYPE, record, sizeof(record))) return FALSE;
    *portType = record[0];
    return TRUE;
}

BOOL WINAPI Brannic_GetDorvaneIndexMethodIoAddress(WORD* address1, WORD* address2, WORD* address3,
                                                   WORD* address4)
{
    return GetFourValues(PORTIO_DORVANE_GET_IO_ADDRESS, address1, address2, address3, address4, 2);
}

BOOL WINAPI Brannic_GetDorvaneIndexMethodEcPortDevice(BYTE* device1, BYTE* device2, BYTE* device3,
                                                      BYTE* device4)
{
    return GetFourValues(PORTIO_DORVANE_GET_PORT_DEVICE, device1, device2, device3, device4, 1);
}

BOOL WINAPI Brannic_GetDorvaneIndexMethodEcAddress(WORD* address1, WORD* address2, WORD* address3,
                                                   WORD* address4)
{
    return GetFourValues(PORTIO_DORVANE_GET_EC_ADDRESS, address1, address2, address3, address4, 2);
}

BOOL WINAPI Brannic_SetDorvaneIndexMethodEcAddress(DWORD address1, DWORD address2, DWORD address3,
                                                   DWORD address4)
{
    return SetFourValues(PORTIO_DORVANE_SET_EC_ADDRESS, address1, address2, address3, address4, 2);
}

BOOL WINAPI Brannic_SendDorvaneIndexMethodEcCommand(DWORD command)
{
    uint8_t record[PORTIO_DORVANE_COMMAND_SIZE] = {(uint8_t)command};

    if (!DriverGuard()) return FALSE;
    return SendLocked(PORTIO_DORVANE_COMMAND, record, sizeof(record)) ? TRUE : FALSE;
}

DWORD WINAPI Brannic_SendDorvaneIndexMethodEcCommandWithResponse(DWORD command, BYTE* response)
{
    uint8_t record[PORTIO_DORVANE_COMMAND_SIZE] = {(uint8_t)command};

    if (!DriverGuard()) return 0;
    return SendLockedWithResponse(PORTIO_DORVANE_COMMAND_RESPONSE, record, sizeof(record),
                                  response);
}

BOOL WINAPI Brannic_SendDorvaneIndexMethodEcCommandData(DWORD command, DWORD data)
{
    uint8_t record[PORTIO_DORVANE_COMMAND_DATA_SIZE] = {(uint8_t)command, (uint8_t)data};

    if (!DriverGuard()) return FALSE;
    return SendLocked(PORTIO_DORVANE_DATA, record, sizeof(record)) ? TRUE : FALSE;
}

DWORD WINAPI Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse(DWORD command, DWORD data,
                                                                     BYTE* response)
{
    uint8_t record[PORTIO_DORVANE_COMMAND_DATA_SIZE] = {(uint8_t)command, (uint8_t)data};

    if (!DriverGuard()) return 0;
    if (!response) return 0;
    return SendLockedWithResponse(PORTIO_DORVANE_DATA_RESPONSE, record, sizeof(record), response);
}

BOOL WINAPI Brannic_SendDorvaneIndexMethodEcCommandDataArray(DWORD command, DWORD count,
                                                             const BYTE* data)
{
    uint8_t* block;
    DWORD status;

    if (!DriverGuard()) return FALSE;
    if (count == 0 || !data) return FALSE;
    block = BlockRecord(command, count, data);
    if (!block) return FALSE;
    status = SendLocked(PORTIO_DORVANE_DATA_ARRAY, block, PORTIO_DORVANE_BLOCK_HEADER + count);
    FreeRecord(block);
    return status ? TRUE : FALSE;
}

// This request shares its code with the data request with response; its length tells it apart.
DWORD WINAPI Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse(DWORD command,
                                                                          DWORD count,
                                                                          const BYTE* data,
                                                                          BYTE* response)
{
    uint8_t* block;
    DWORD status;

    if (!DriverGuard()) return 0;
    if (count == 0 || !data || !response) return 0;
    block = BlockRecord(command, count, data);
    if (!block) return 0;
    status = SendLockedWithResponse(PORTIO_DORVANE_DATA_RESPONSE, block,
                                    PORTIO_DORVANE_BLOCK_HEADER + count, response);
    FreeRecord(block);
    return status;
}
