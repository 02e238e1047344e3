// Tamsk.sys stand-in: a kernel-mode driver that answers the port I/O library's requests over
// a simulated machine, logs them, and obeys the diagnostic requests. tamsk_diag.h describes
// the machine, the faults and the log; nothing here touches real hardware.
#include <ddk/wdm.h>
#include "tamsk_diag.h"

// Not declared by the mingw DDK headers.
NTSYSAPI HANDLE NTAPI PsGetCurrentProcessId(void);

#define TAG 0x6B736D54  // 'TmsK'
#define MAX_REGISTERS 1024
#define MAX_ECS 16
#define EC_RAM_SIZE 256
#define MAX_HOLD_MS 60000u  // a mistaken hold must not wedge the driver for long

typedef struct {
    uint32_t indexPort, index, value;
} RegCell;
typedef struct {
    uint32_t commandPort;  // 0: free slot
    uint8_t pointer;
    uint8_t ram[EC_RAM_SIZE];
} EcState;

// The simulated machine and the diagnostic state; guarded by s_lock.
static struct {
    uint8_t port[0x10000];
    uint8_t portWritten[0x10000];
    RegCell reg[MAX_REGISTERS];
    uint32_t regCount;
    EcState ec[MAX_ECS];  // ec[0] is the default pair
    EcState dorvaneEc;
    // Dorvane configuration records as the last set request sent them.
    uint8_t dvType[PORTIO_DORVANE_PORT_TYPE_SIZE];
    uint8_t dvIo[PORTIO_DORVANE_ADDRESSES_SIZE];
    uint8_t dvDevice[PORTIO_DORVANE_DEVICES_SIZE];
    uint8_t dvEc[PORTIO_DORVANE_ADDRESSES_SIZE];
} s_machine;

static PortioDiagLog s_log;
static PortioDiagCounts s_counts;
static PortioDiagFault s_fault;
static KMUTEX s_lock;
static UNICODE_STRING s_deviceName, s_dosName;

static void Lock(void) { KeWaitForSingleObject(&s_lock, Executive, KernelMode, FALSE, NULL); }
static void Unlock(void) { KeReleaseMutex(&s_lock, FALSE); }

static void EcInit(EcState* ec, uint32_t commandPort)
{
    unsigned i;
    ec->commandPort = commandPort;
    ec->pointer = 0;
    for (i = 0; i < EC_RAM_SIZE; i++) ec->ram[i] = PortioUnwrittenEcRam(i);
}

static void MachineReset(void)
{
    RtlZeroMemory(&s_machine, sizeof(s_machine));
    EcInit(&s_machine.ec[0], PORTIO_EC_DEFAULT_COMMAND_PORT);
    EcInit(&s_machine.dorvaneEc, 0);
}

// ---- Port space ----

static uint8_t PortGet(uint32_t port)
{
    port &= 0xFFFF;
    return s_machine.portWritten[port] ? s_machine.port[port] : PortioUnwrittenPort(port);
}

static void PortSet(uint32_t port, uint8_t value)
{
    port &= 0xFFFF;
    s_machine.port[port] = value;
    s_machine.portWritten[port] = 1;
}

static uint32_t PortRead(uint32_t port, unsigned width)
{
    uint32_t v = 0;
    unsigned i;
    for (i = 0; i < width; i++) v |= (uint32_t)PortGet(port + i) << (8 * i);
    return v;
}

static void PortWrite(uint32_t port, unsigned width, uint32_t v)
{
    unsigned i;
    for (i = 0; i < width; i++) PortSet(port + i, (uint8_t)(v >> (8 * i)));
}

// ---- Indexed registers ----

static RegCell* RegFind(uint32_t indexPort, uint32_t index)
{
    uint32_t i;
    for (i = 0; i < s_machine.regCount; i++)
        if (s_machine.reg[i].indexPort == indexPort && s_machine.reg[i].index == index)
            return &s_machine.reg[i];
    return NULL;
}

static uint32_t RegRead(uint32_t indexPort, uint32_t index)
{
    RegCell* c = RegFind(indexPort, index);
    return c ? c->value : PortioUnwrittenRegister(indexPort, index);
}

static BOOLEAN RegWrite(uint32_t indexPort, uint32_t index, uint32_t value)
{
    RegCell* c = RegFind(indexPort, index);
    if (!c) {
        if (s_machine.regCount == MAX_REGISTERS) return FALSE;
        c = &s_machine.reg[s_machine.regCount++];
        c->indexPort = indexPort;
        c->index = index;
    }
    c->value = value;
    return TRUE;
}

// ---- ECs ----

static EcState* EcFind(uint32_t commandPort, BOOLEAN create)
{
    unsigned i;
    if (commandPort == 0) commandPort = PORTIO_EC_DEFAULT_COMMAND_PORT;
    for (i = 0; i < MAX_ECS; i++)
        if (s_machine.ec[i].commandPort == commandPort) return &s_machine.ec[i];
    if (!create) return NULL;
    for (i = 0; i < MAX_ECS; i++)
        if (s_machine.ec[i].commandPort == 0) {
            EcInit(&s_machine.ec[i], commandPort);
            return &s_machine.ec[i];
        }
    return NULL;
}

static uint8_t EcExecute(EcState* ec, uint8_t command, const uint8_t* data, uint32_t n)
{
    uint32_t i;
    switch (command) {
    case PORTIO_EC_CMD_READ:
        if (n > 0) ec->pointer = data[0];
        return ec->ram[ec->pointer];
    case PORTIO_EC_CMD_WRITE:
        if (n == 0) return ec->ram[ec->pointer];
        for (i = 0; i < n; i++) ec->ram[ec->pointer++] = data[i];
        return data[n - 1];
    case PORTIO_EC_CMD_SELECT:
        if (n > 0) ec->pointer = data[n - 1];
        return ec->ram[ec->pointer];
    default: return (uint8_t)(command ^ 0xFF);
    }
}

// ---- Requests ----

typedef struct {
    uint32_t code;
    const uint8_t* in;  // private copy of the input
    uint32_t inLen;
    uint8_t* out;  // the system buffer
    uint32_t outLen;
    uint32_t written;   // output bytes filled
    BOOLEAN hasStatus;  // output starts with a status double word
} Request;

#define CHECK_LENGTHS(r, i, o)                                                                     \
    do {                                                                                           \
        if ((r)->inLen != (i) || (r)->outLen != (o)) return STATUS_INVALID_PARAMETER;              \
    } while (0)

static void Put(Request* r, const void* data, uint32_t len)
{
    RtlCopyMemory(r->out, data, len);
    r->written = len;
}

static uint32_t ReplySize(BOOLEAN withResponse)
{
    return withResponse ? PORTIO_EC_REPLY_RESPONSE_SIZE : PORTIO_EC_REPLY_SIZE;
}

static void PutEcReply(Request* r, uint8_t response, BOOLEAN withResponse)
{
    uint8_t reply[PORTIO_EC_REPLY_RESPONSE_SIZE];
    PortioStoreLe(reply, PORTIO_EC_STATUS_OK, 4);
    reply[PORTIO_EC_REPLY_RESPONSE] = response;
    Put(r, reply, ReplySize(withResponse));
    r->hasStatus = TRUE;
}

static NTSTATUS DoPort(Request* r, unsigned width, BOOLEAN isWrite)
{
    uint32_t port;
    CHECK_LENGTHS(r, PORTIO_PORT_RECORD_SIZE(width, isWrite), isWrite ? 0 : width);
    port = PortioLoadLe(r->in, 4);
    if (port > 0xFFFF) return STATUS_INVALID_PARAMETER;
    if (isWrite) {
        PortWrite(port, width, PortioLoadLe(r->in + PORTIO_PORT_VALUE, width));
    } else {
        PortioStoreLe(r->out, PortRead(port, width), width);
        r->written = width;
    }
    return STATUS_SUCCESS;
}

static NTSTATUS DoIndexedSingle(Request* r, unsigned width, BOOLEAN isWrite)
{
    const uint8_t* element = r->in + PORTIO_INDEXED_SINGLE_HEADER;
    uint32_t indexPort;
    CHECK_LENGTHS(r, PORTIO_INDEXED_SINGLE_SIZE(width, isWrite), isWrite ? 0 : width);
    indexPort = PortioLoadLe(r->in + PORTIO_INDEXED_INDEX_PORT, 4);
    if (isWrite)
        return RegWrite(indexPort, PortioLoadLe(element, width),
                        PortioLoadLe(element + width, width))
                   ? STATUS_SUCCESS
                   : STATUS_INSUFFICIENT_RESOURCES;
    PortioStoreLe(r->out, RegRead(indexPort, PortioLoadLe(element, width)), width);
    r->written = width;
    return STATUS_SUCCESS;
}

static NTSTATUS DoIndexedList(Request* r, unsigned width, BOOLEAN isWrite)
{
    uint32_t elementSize = PORTIO_INDEXED_ELEMENT_SIZE(width, isWrite);
    uint32_t indexPort, count, i;
    const uint8_t* element;

    if (r->inLen < PORTIO_INDEXED_LIST_HEADER) return STATUS_INVALID_PARAMETER;
    indexPort = PortioLoadLe(r->in + PORTIO_INDEXED_INDEX_PORT, 4);
    count = PortioLoadLe(r->in + PORTIO_INDEXED_LIST_COUNT, 4);
    if (count == 0 || (uint64_t)count * elementSize + PORTIO_INDEXED_LIST_HEADER != r->inLen ||
        (uint64_t)r->outLen != (isWrite ? 0 : (uint64_t)count * width))
        return STATUS_INVALID_PARAMETER;
    element = r->in + PORTIO_INDEXED_LIST_HEADER;
    for (i = 0; i < count; i++, element += elementSize) {
        uint32_t index = PortioLoadLe(element, width);
        if (!isWrite) {
            PortioStoreLe(r->out + i * width, RegRead(indexPort, index), width);
        } else if (!RegWrite(indexPort, index, PortioLoadLe(element + width, width))) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
    }
    r->written = isWrite ? 0 : count * width;
    return STATUS_SUCCESS;
}

// An EC command on the default pair, or on the pair the record names.
static NTSTATUS DoEc(Request* r, BOOLEAN named, BOOLEAN withResponse)
{
    uint32_t commandPort = PORTIO_EC_DEFAULT_COMMAND_PORT;
    const uint8_t* command = r->in;
    EcState* ec;

    CHECK_LENGTHS(r, named ? PORTIO_EC_PORTS_COMMAND_SIZE : PORTIO_EC_COMMAND_SIZE,
                  ReplySize(withResponse));
    if (named) {
        commandPort = PortioLoadLe(r->in + PORTIO_EC_PORTS_COMMAND_PORT, 4);
        if (commandPort == 0 || commandPort > 0xFFFF ||
            PortioLoadLe(r->in + PORTIO_EC_PORTS_DATA_PORT, 4) > 0xFFFF)
            return STATUS_INVALID_PARAMETER;
        command = r->in + PORTIO_EC_PORTS_PREFIX;
    }
    ec = EcFind(commandPort, TRUE);
    if (!ec) return STATUS_INSUFFICIENT_RESOURCES;
    PutEcReply(r, EcExecute(ec, command[0], command + 1, 1), withResponse);
    return STATUS_SUCCESS;
}

// A set stores the record and replies with status 1; a get returns what the last set stored.
static NTSTATUS DoDorvaneSet(Request* r, void* field, uint32_t size)
{
    CHECK_LENGTHS(r, size, PORTIO_EC_REPLY_SIZE);
    RtlCopyMemory(field, r->in, size);
    PutEcReply(r, 0, FALSE);
    return STATUS_SUCCESS;
}

static NTSTATUS DoDorvaneGet(Request* r, const void* field, uint32_t size)
{
    CHECK_LENGTHS(r, 0, size);
    Put(r, field, size);
    return STATUS_SUCCESS;
}

// A command with `data` bytes (0 or 1) on the Dorvane index method's EC.
static NTSTATUS DoDorvaneCommand(Request* r, uint32_t data, BOOLEAN withResponse)
{
    CHECK_LENGTHS(r, data ? PORTIO_DORVANE_COMMAND_DATA_SIZE : PORTIO_DORVANE_COMMAND_SIZE,
                  ReplySize(withResponse));
    PutEcReply(r, EcExecute(&s_machine.dorvaneEc, r->in[0], r->in + 1, data), withResponse);
    return STATUS_SUCCESS;
}

static NTSTATUS DoDorvaneBlock(Request* r, BOOLEAN withResponse)
{
    uint32_t count;
    if (r->inLen < PORTIO_DORVANE_BLOCK_HEADER) return STATUS_INVALID_PARAMETER;
    count = PortioLoadLe(r->in + PORTIO_DORVANE_BLOCK_COUNT, 4);
    if (count == 0 || (uint64_t)count + PORTIO_DORVANE_BLOCK_HEADER != r->inLen)
        return STATUS_INVALID_PARAMETER;
    CHECK_LENGTHS(r, r->inLen, ReplySize(withResponse));
    PutEcReply(
        r, EcExecute(&s_machine.dorvaneEc, r->in[0], r->in + PORTIO_DORVANE_BLOCK_HEADER, count),
        withResponse);
    return STATUS_SUCCESS;
}

// One request of the library's families, by its code.
static NTSTATUS DispatchFamily(Request* r)
{
    switch (r->code) {
    case PORTIO_INPUT_BYTE: return DoPort(r, 1, FALSE);
    case PORTIO_INPUT_WORD: return DoPort(r, 2, FALSE);
    case PORTIO_INPUT_DWORD: return DoPort(r, 4, FALSE);
    case PORTIO_OUTPUT_BYTE: return DoPort(r, 1, TRUE);
    case PORTIO_OUTPUT_WORD: return DoPort(r, 2, TRUE);
    case PORTIO_OUTPUT_DWORD: return DoPort(r, 4, TRUE);

    case PORTIO_READ_INDEXED_BYTE: return DoIndexedSingle(r, 1, FALSE);
    case PORTIO_READ_INDEXED_WORD: return DoIndexedSingle(r, 2, FALSE);
    case PORTIO_READ_INDEXED_DWORD: return DoIndexedSingle(r, 4, FALSE);
    case PORTIO_WRITE_INDEXED_BYTE: return DoIndexedSingle(r, 1, TRUE);
    case PORTIO_WRITE_INDEXED_WORD: return DoIndexedSingle(r, 2, TRUE);
    case PORTIO_WRITE_INDEXED_DWORD: return DoIndexedSingle(r, 4, TRUE);
    case PORTIO_READ_INDEXED_BYTE_ARRAY: return DoIndexedList(r, 1, FALSE);
    case PORTIO_READ_INDEXED_WORD_ARRAY: return DoIndexedList(r, 2, FALSE);
    case PORTIO_READ_INDEXED_DWORD_ARRAY: return DoIndexedList(r, 4, FALSE);
    case PORTIO_WRITE_INDEXED_BYTE_ARRAY: return DoIndexedList(r, 1, TRUE);
    case PORTIO_WRITE_INDEXED_WORD_ARRAY: return DoIndexedList(r, 2, TRUE);
    case PORTIO_WRITE_INDEXED_DWORD_ARRAY: return DoIndexedList(r, 4, TRUE);

    case PORTIO_EC_COMMAND: return DoEc(r, FALSE, FALSE);
    case PORTIO_EC_COMMAND_RESPONSE: return DoEc(r, FALSE, TRUE);
    case PORTIO_EC_COMMAND_PORTS: return DoEc(r, TRUE, FALSE);
    case PORTIO_EC_COMMAND_PORTS_RESPONSE: return DoEc(r, TRUE, TRUE);

    case PORTIO_DORVANE_SET_PORT_TYPE:
        return DoDorvaneSet(r, s_machine.dvType, sizeof(s_machine.dvType));
    case PORTIO_DORVANE_SET_IO_ADDRESS:
        return DoDorvaneSet(r, s_machine.dvIo, sizeof(s_machine.dvIo));
    case PORTIO_DORVANE_SET_PORT_DEVICE:
        return DoDorvaneSet(r, s_machine.dvDevice, sizeof(s_machine.dvDevice));
    case PORTIO_DORVANE_SET_EC_ADDRESS:
        return DoDorvaneSet(r, s_machine.dvEc, sizeof(s_machine.dvEc));
    case PORTIO_DORVANE_GET_PORT_TYPE:
        return DoDorvaneGet(r, s_machine.dvType, sizeof(s_machine.dvType));
    case PORTIO_DORVANE_GET_IO_ADDRESS:
        return DoDorvaneGet(r, s_machine.dvIo, sizeof(s_machine.dvIo));
    case PORTIO_DORVANE_GET_PORT_DEVICE:
        return DoDorvaneGet(r, s_machine.dvDevice, sizeof(s_machine.dvDevice));
    case PORTIO_DORVANE_GET_EC_ADDRESS:
        return DoDorvaneGet(r, s_machine.dvEc, sizeof(s_machine.dvEc));
    case PORTIO_DORVANE_COMMAND: return DoDorvaneCommand(r, 0, FALSE);
    case PORTIO_DORVANE_COMMAND_RESPONSE: return DoDorvaneCommand(r, 0, TRUE);
    case PORTIO_DORVANE_DATA: return DoDorvaneCommand(r, 1, FALSE);
    case PORTIO_DORVANE_DATA_RESPONSE:
        // Command and data, or a data block, told apart by the input's length.
        if (r->inLen == PORTIO_DORVANE_COMMAND_DATA_SIZE) return DoDorvaneCommand(r, 1, TRUE);
        return DoDorvaneBlock(r, TRUE);
    case PORTIO_DORVANE_DATA_ARRAY: return DoDorvaneBlock(r, FALSE);
    }
    return STATUS_INVALID_DEVICE_REQUEST;
}

static void LogRequest(const Request* r, uint32_t pid)
{
    PortioDiagLogEntry* e;
    uint32_t n = r->inLen < PORTIO_DIAG_LOG_INPUT_BYTES ? r->inLen : PORTIO_DIAG_LOG_INPUT_BYTES;
    if (s_log.kept == PORTIO_DIAG_LOG_ENTRIES) {
        RtlMoveMemory(&s_log.entry[0], &s_log.entry[1],
                      sizeof(s_log.entry[0]) * (PORTIO_DIAG_LOG_ENTRIES - 1));
        s_log.kept--;
    }
    e = &s_log.entry[s_log.kept++];
    RtlZeroMemory(e, sizeof(*e));
    e->code = r->code;
    e->inputLength = r->inLen;
    e->outputLength = r->outLen;
    e->processId = pid;
    RtlCopyMemory(e->input, r->in, n);
    s_log.total++;
    s_counts.requests++;
}

// A family request: log it, take the pending fault, hold if asked, then answer.
static NTSTATUS HandleFamily(Request* r, uint32_t pid)
{
    PortioDiagFault fault;
    NTSTATUS status;

    Lock();
    LogRequest(r, pid);
    fault = s_fault;
    if (s_fault.kind != PORTIO_FAULT_NONE && s_fault.count != 0xFFFFFFFFu && --s_fault.count == 0)
        RtlZeroMemory(&s_fault, sizeof(s_fault));
    Unlock();

    if (fault.kind == PORTIO_FAULT_HOLD) {
        LARGE_INTEGER delay;
        uint32_t ms = fault.value < MAX_HOLD_MS ? fault.value : MAX_HOLD_MS;
        delay.QuadPart = -(LONGLONG)ms * 10000;  // relative, 100 ns units
        KeDelayExecutionThread(KernelMode, FALSE, &delay);
    }
    if (fault.kind == PORTIO_FAULT_FAIL) return STATUS_IO_DEVICE_ERROR;

    Lock();
    status = DispatchFamily(r);
    Unlock();
    if (status != STATUS_SUCCESS) return status;
    if (fault.kind == PORTIO_FAULT_STATUS && r->hasStatus) PortioStoreLe(r->out, fault.value, 4);
    if (fault.kind == PORTIO_FAULT_SHORT_FILL && r->written > fault.value) r->written = fault.value;
    return STATUS_SUCCESS;
}

static NTSTATUS DiagCell(const PortioDiagCell* c, BOOLEAN poke, uint32_t* value)
{
    EcState* ec;
    switch (c->space) {
    case PORTIO_SPACE_PORT:
        if (c->address > 0xFFFF) return STATUS_INVALID_PARAMETER;
        if (poke)
            PortSet(c->address, (uint8_t)c->value);
        else
            *value = PortGet(c->address);
        return STATUS_SUCCESS;
    case PORTIO_SPACE_INDEXED:
        if (poke)
            return RegWrite(c->key, c->address, c->value) ? STATUS_SUCCESS
                                                          : STATUS_INSUFFICIENT_RESOURCES;
        *value = RegRead(c->key, c->address);
        return STATUS_SUCCESS;
    case PORTIO_SPACE_EC_RAM:
    case PORTIO_SPACE_DORVANE_EC_RAM:
        if (c->address >= EC_RAM_SIZE || c->key > 0xFFFF) return STATUS_INVALID_PARAMETER;
        if (c->space == PORTIO_SPACE_DORVANE_EC_RAM)
            ec = &s_machine.dorvaneEc;
        else
            ec = EcFind(c->key, poke);
        if (poke) {
            if (!ec) return STATUS_INSUFFICIENT_RESOURCES;
            ec->ram[c->address] = (uint8_t)c->value;
        } else {
            *value = ec ? ec->ram[c->address] : PortioUnwrittenEcRam(c->address);
        }
        return STATUS_SUCCESS;
    default: return STATUS_INVALID_PARAMETER;
    }
}

// Diagnostic requests have functions from PORTIO_DIAG_FUNCTION_BASE on, past every family's.
static BOOLEAN IsDiagnosticCode(uint32_t code)
{
    return (code >> 16) == PORTIO_DEVICE_TYPE &&
           ((code >> 2) & 0xFFFu) >= PORTIO_DIAG_FUNCTION_BASE;
}

static NTSTATUS HandleDiag(Request* r)
{
    NTSTATUS status = STATUS_SUCCESS;
    PortioDiagCell cell;
    uint32_t value = 0;

    Lock();
    switch (r->code) {
    case PORTIO_DIAG_GET_LOG:
        if (r->inLen != 0 || r->outLen < sizeof(s_log)) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        Put(r, &s_log, sizeof(s_log));
        break;
    case PORTIO_DIAG_RESET:
        RtlZeroMemory(&s_log, sizeof(s_log));
        RtlZeroMemory(&s_counts, sizeof(s_counts));
        RtlZeroMemory(&s_fault, sizeof(s_fault));
        break;
    case PORTIO_DIAG_GET_COUNTS:
        if (r->inLen != 0 || r->outLen != sizeof(s_counts)) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        Put(r, &s_counts, sizeof(s_counts));
        break;
    case PORTIO_DIAG_SET_FAULT:
        if (r->inLen != sizeof(s_fault) || r->outLen != 0) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        RtlCopyMemory(&s_fault, r->in, sizeof(s_fault));
        if (s_fault.kind > PORTIO_FAULT_HOLD) {
            RtlZeroMemory(&s_fault, sizeof(s_fault));
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        if (s_fault.count == 0) s_fault.count = 1;
        if (s_fault.kind == PORTIO_FAULT_NONE) RtlZeroMemory(&s_fault, sizeof(s_fault));
        break;
    case PORTIO_DIAG_PEEK:
    case PORTIO_DIAG_POKE:
        if (r->inLen != sizeof(cell) || r->outLen != (r->code == PORTIO_DIAG_PEEK ? 4u : 0u)) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        RtlCopyMemory(&cell, r->in, sizeof(cell));
        status = DiagCell(&cell, r->code == PORTIO_DIAG_POKE, &value);
        if (status == STATUS_SUCCESS && r->code == PORTIO_DIAG_PEEK) Put(r, &value, 4);
        break;
    case PORTIO_DIAG_RESET_MACHINE: MachineReset(); break;
    default: status = STATUS_INVALID_DEVICE_REQUEST;
    }
    Unlock();
    return status;
}

static NTSTATUS Finish(IRP* irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = status == STATUS_SUCCESS ? information : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI DispatchCreate(DEVICE_OBJECT* device, IRP* irp)
{
    (void)device;
    Lock();
    s_counts.opens++;
    Unlock();
    return Finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(DEVICE_OBJECT* device, IRP* irp)
{
    (void)device;
    Lock();
    s_counts.closes++;
    Unlock();
    return Finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchCleanup(DEVICE_OBJECT* device, IRP* irp)
{
    (void)device;
    return Finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchIoctl(DEVICE_OBJECT* device, IRP* irp)
{
    IO_STACK_LOCATION* stack = IoGetCurrentIrpStackLocation(irp);
    uint32_t pid = (uint32_t)(ULONG_PTR)PsGetCurrentProcessId();
    Request r;
    uint8_t small[32];
    uint8_t* copy = small;
    NTSTATUS status;

    (void)device;
    RtlZeroMemory(&r, sizeof(r));
    r.code = stack->Parameters.DeviceIoControl.IoControlCode;
    r.inLen = stack->Parameters.DeviceIoControl.InputBufferLength;
    r.outLen = stack->Parameters.DeviceIoControl.OutputBufferLength;
    r.out = irp->AssociatedIrp.SystemBuffer;
    // METHOD_BUFFERED shares one buffer: keep the input apart before any output is written.
    if (r.inLen > sizeof(small)) {
        copy = ExAllocatePoolWithTag(NonPagedPool, r.inLen, TAG);
        if (!copy) return Finish(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    }
    if (r.inLen) RtlCopyMemory(copy, irp->AssociatedIrp.SystemBuffer, r.inLen);
    r.in = copy;

    if (IsDiagnosticCode(r.code))
        status = HandleDiag(&r);
    else
        status = HandleFamily(&r, pid);

    if (copy != small) ExFreePoolWithTag(copy, TAG);
    return Finish(irp, status, r.written);
}

static void NTAPI DriverUnload(DRIVER_OBJECT* driver)
{
    IoDeleteSymbolicLink(&s_dosName);
    if (driver->DeviceObject) IoDeleteDevice(driver->DeviceObject);
}

typedef NTSTATUS(NTAPI* CreateDeviceSecureFn)(DRIVER_OBJECT*, ULONG, UNICODE_STRING*, DEVICE_TYPE,
                                              ULONG, BOOLEAN, const UNICODE_STRING*, const GUID*,
                                              DEVICE_OBJECT**);

// The device admits only SYSTEM and administrators when the kernel offers
// IoCreateDeviceSecure by name (Wine's ntoskrnl does; it accepts but does not enforce the
// SDDL, and every Wine process runs as an administrator anyway). Windows keeps that routine
// in a static DDK library that mingw lacks, so there the device falls back to IoCreateDevice
// with the default device security.
static NTSTATUS CreateDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT** device)
{
    UNICODE_STRING routine, sddl;
    CreateDeviceSecureFn secure;

    RtlInitUnicodeString(&routine, L"IoCreateDeviceSecure");
    RtlInitUnicodeString(&sddl, L"D:P(A;;GA;;;SY)(A;;GA;;;BA)");
    secure = (CreateDeviceSecureFn)MmGetSystemRoutineAddress(&routine);
    if (secure)
        return secure(driver, 0, &s_deviceName, PORTIO_DEVICE_TYPE, FILE_DEVICE_SECURE_OPEN, FALSE,
                      &sddl, NULL, device);
    return IoCreateDevice(driver, 0, &s_deviceName, PORTIO_DEVICE_TYPE, FILE_DEVICE_SECURE_OPEN,
                          FALSE, device);
}

// The start status the service key asks for (PORTIO_DIAG_START_STATUS_VALUE); success when
// it names none.
static NTSTATUS ChosenStartStatus(UNICODE_STRING* registryPath)
{
    OBJECT_ATTRIBUTES attributes;
    UNICODE_STRING name;
    HANDLE key;
    struct {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR room[sizeof(ULONG)];
    } value;
    ULONG length = 0;
    NTSTATUS chosen = STATUS_SUCCESS;

    InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    if (ZwOpenKey(&key, KEY_QUERY_VALUE, &attributes) != STATUS_SUCCESS) return STATUS_SUCCESS;
    RtlInitUnicodeString(&name, PORTIO_DIAG_START_STATUS_VALUE);
    if (ZwQueryValueKey(key, &name, KeyValuePartialInformation, &value, sizeof(value), &length) ==
            STATUS_SUCCESS &&
        value.info.Type == REG_DWORD && value.info.DataLength == sizeof(ULONG))
        RtlCopyMemory(&chosen, value.info.Data, sizeof(ULONG));
    ZwClose(key);
    return chosen;
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT* driver, UNICODE_STRING* registryPath)
{
    DEVICE_OBJECT* device = NULL;
    NTSTATUS status = ChosenStartStatus(registryPath);

    if (status != STATUS_SUCCESS) return status;
    KeInitializeMutex(&s_lock, 0);
    MachineReset();
    RtlInitUnicodeString(&s_deviceName, PORTIO_DEVICE_NAME_W);
    RtlInitUnicodeString(&s_dosName, PORTIO_DOS_NAME_W);
    status = CreateDevice(driver, &device);
    if (status != STATUS_SUCCESS) return status;
    status = IoCreateSymbolicLink(&s_dosName, &s_deviceName);
    if (status != STATUS_SUCCESS) {
        IoDeleteDevice(device);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchIoctl;
    driver->DriverUnload = DriverUnload;
    return STATUS_SUCCESS;
}
