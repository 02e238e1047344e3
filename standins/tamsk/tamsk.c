/*
 * Tamsk.sys stand-in: a kernel-mode driver that answers the port I/O library's requests over
 * a simulated machine, logs them, and obeys the diagnostic requests of tamsk_diag.h.
 *
 * Simulated machine (nothing touches real hardware):
 * - Port space: 65536 bytes; a word or double word covers consecutive ports, little-endian,
 *   wrapping after port 0xFFFF. An unwritten port reads portio_unwritten_port(port).
 *   Port numbers above 0xFFFF are refused.
 * - Indexed registers: a table keyed by (index port, register index); the data port is not
 *   part of the key. A write of width W stores the value zero-extended to 32 bits; a read of
 *   width W returns its low W bytes. An unwritten register reads
 *   portio_unwritten_register(index port, index). The table is separate from the port space.
 * - ECs: one EC per command port, each with 256 bytes of RAM starting as
 *   portio_unwritten_ec_ram(address) and an address pointer starting at 0. The default pair
 *   is PORTIO_EC_DEFAULT_COMMAND_PORT/PORTIO_EC_DEFAULT_DATA_PORT; a named pair with the same
 *   command port reaches the same EC. The Dorvane index method has an EC of its own.
 *   Commands (data bytes d[0..n-1]; n is 1 for EC requests, 0, 1 or count for Dorvane):
 *     0x80 read:   if n > 0, pointer = d[0]; response = RAM[pointer]
 *     0x81 write:  each d[i] is stored at RAM[pointer], pointer += 1 (wrapping);
 *                  response = the last byte stored (RAM[pointer] when n = 0)
 *     0x82 select: if n > 0, pointer = d[n-1]; response = RAM[pointer]
 *     others:      nothing changes; response = command ^ 0xFF
 *   Status double word 1 on success.
 * - Dorvane configuration: port type, four I/O addresses, four port devices, four EC
 *   addresses, all 0 at start; a set replies status 1 and a get returns the last set.
 *   0x9C4024E4 carries the 2-byte command+data record (input length 2) or the data block
 *   (input length 5 + count, count at offset 1, count > 0); other lengths are refused.
 * Lengths must be exactly those of the records; anything else fails with
 * STATUS_INVALID_PARAMETER and changes nothing. The register table holds MAX_REGISTERS
 * registers and there are at most MAX_ECS ECs; a write beyond them fails with
 * STATUS_INSUFFICIENT_RESOURCES. Faults and the log: see tamsk_diag.h.
 */
#include <ddk/wdm.h>
#include "tamsk_diag.h"

/* Not declared by the mingw DDK headers. */
NTSYSAPI HANDLE NTAPI PsGetCurrentProcessId(void);

#define TAG 0x6B736D54 /* 'TmsK' */
#define MAX_REGISTERS 1024
#define MAX_ECS 16
#define EC_RAM_SIZE 256
#define MAX_HOLD_MS 60000u /* a mistaken hold must not wedge the driver for long */
#define EC_STATUS_OK PORTIO_EC_STATUS_OK
#define EC_CMD_READ PORTIO_EC_CMD_READ
#define EC_CMD_WRITE PORTIO_EC_CMD_WRITE
#define EC_CMD_SELECT PORTIO_EC_CMD_SELECT
#define DIAG_FUNCTION_FIRST PORTIO_DIAG_FUNCTION_BASE
#define FUNCTION_OF(code) (((code) >> 2) & 0xFFFu)

typedef struct { uint32_t index_port, index, value; } reg_cell;
typedef struct {
    uint32_t command_port; /* 0: free slot */
    uint8_t pointer;
    uint8_t ram[EC_RAM_SIZE];
} ec_state;

/* The simulated machine and the diagnostic state; guarded by g_lock. */
static struct {
    uint8_t port[0x10000];
    uint8_t port_written[0x10000];
    reg_cell reg[MAX_REGISTERS];
    uint32_t reg_count;
    ec_state ec[MAX_ECS];   /* ec[0] is the default pair */
    ec_state dorvane_ec;
    /* Dorvane configuration records as the last set request sent them. */
    uint8_t dv_type[PORTIO_DORVANE_PORT_TYPE_SIZE];
    uint8_t dv_io[PORTIO_DORVANE_ADDRESSES_SIZE];
    uint8_t dv_device[PORTIO_DORVANE_DEVICES_SIZE];
    uint8_t dv_ec[PORTIO_DORVANE_ADDRESSES_SIZE];
} g_machine;

static portio_diag_log g_log;
static portio_diag_counts g_counts;
static portio_diag_fault g_fault;
static KMUTEX g_lock;
static UNICODE_STRING g_device_name, g_dos_name;

static void lock(void) { KeWaitForSingleObject(&g_lock, Executive, KernelMode, FALSE, NULL); }
static void unlock(void) { KeReleaseMutex(&g_lock, FALSE); }

static void ec_init(ec_state *ec, uint32_t command_port)
{
    unsigned i;
    ec->command_port = command_port;
    ec->pointer = 0;
    for (i = 0; i < EC_RAM_SIZE; i++) ec->ram[i] = portio_unwritten_ec_ram(i);
}

static void machine_reset(void)
{
    RtlZeroMemory(&g_machine, sizeof(g_machine));
    ec_init(&g_machine.ec[0], PORTIO_EC_DEFAULT_COMMAND_PORT);
    ec_init(&g_machine.dorvane_ec, 0);
}

/* ---- Port space ---- */

static uint8_t port_get(uint32_t port)
{
    port &= 0xFFFF;
    return g_machine.port_written[port] ? g_machine.port[port] : portio_unwritten_port(port);
}

static void port_set(uint32_t port, uint8_t value)
{
    port &= 0xFFFF;
    g_machine.port[port] = value;
    g_machine.port_written[port] = 1;
}

static uint32_t port_read(uint32_t port, unsigned width)
{
    uint32_t v = 0;
    unsigned i;
    for (i = 0; i < width; i++) v |= (uint32_t)port_get(port + i) << (8 * i);
    return v;
}

static void port_write(uint32_t port, unsigned width, uint32_t v)
{
    unsigned i;
    for (i = 0; i < width; i++) port_set(port + i, (uint8_t)(v >> (8 * i)));
}

/* ---- Indexed registers ---- */

static reg_cell *reg_find(uint32_t index_port, uint32_t index)
{
    uint32_t i;
    for (i = 0; i < g_machine.reg_count; i++)
        if (g_machine.reg[i].index_port == index_port && g_machine.reg[i].index == index)
            return &g_machine.reg[i];
    return NULL;
}

static uint32_t reg_read(uint32_t index_port, uint32_t index)
{
    reg_cell *c = reg_find(index_port, index);
    return c ? c->value : portio_unwritten_register(index_port, index);
}

static BOOLEAN reg_write(uint32_t index_port, uint32_t index, uint32_t value)
{
    reg_cell *c = reg_find(index_port, index);
    if (!c) {
        if (g_machine.reg_count == MAX_REGISTERS) return FALSE;
        c = &g_machine.reg[g_machine.reg_count++];
        c->index_port = index_port;
        c->index = index;
    }
    c->value = value;
    return TRUE;
}

/* ---- ECs ---- */

static ec_state *ec_find(uint32_t command_port, BOOLEAN create)
{
    unsigned i;
    if (command_port == 0) command_port = PORTIO_EC_DEFAULT_COMMAND_PORT;
    for (i = 0; i < MAX_ECS; i++)
        if (g_machine.ec[i].command_port == command_port) return &g_machine.ec[i];
    if (!create) return NULL;
    for (i = 0; i < MAX_ECS; i++)
        if (g_machine.ec[i].command_port == 0) {
            ec_init(&g_machine.ec[i], command_port);
            return &g_machine.ec[i];
        }
    return NULL;
}

static uint8_t ec_execute(ec_state *ec, uint8_t command, const uint8_t *data, uint32_t n)
{
    uint32_t i;
    switch (command) {
    case EC_CMD_READ:
        if (n > 0) ec->pointer = data[0];
        return ec->ram[ec->pointer];
    case EC_CMD_WRITE:
        if (n == 0) return ec->ram[ec->pointer];
        for (i = 0; i < n; i++) ec->ram[ec->pointer++] = data[i];
        return data[n - 1];
    case EC_CMD_SELECT:
        if (n > 0) ec->pointer = data[n - 1];
        return ec->ram[ec->pointer];
    default:
        return (uint8_t)(command ^ 0xFF);
    }
}

/* ---- Requests ---- */

typedef struct {
    uint32_t code;
    const uint8_t *in;   /* private copy of the input */
    uint32_t in_len;
    uint8_t *out;        /* the system buffer */
    uint32_t out_len;
    uint32_t written;    /* output bytes filled */
    BOOLEAN has_status;  /* output starts with a status double word */
} request;

#define CHECK_LENGTHS(r, i, o) \
    do { if ((r)->in_len != (i) || (r)->out_len != (o)) return STATUS_INVALID_PARAMETER; } while (0)

static void put(request *r, const void *data, uint32_t len)
{
    RtlCopyMemory(r->out, data, len);
    r->written = len;
}

static uint32_t reply_size(BOOLEAN with_response)
{
    return with_response ? PORTIO_EC_REPLY_RESPONSE_SIZE : PORTIO_EC_REPLY_SIZE;
}

static void put_ec_reply(request *r, uint8_t response, BOOLEAN with_response)
{
    uint8_t reply[PORTIO_EC_REPLY_RESPONSE_SIZE];
    portio_store_le(reply, EC_STATUS_OK, 4);
    reply[PORTIO_EC_REPLY_RESPONSE] = response;
    put(r, reply, reply_size(with_response));
    r->has_status = TRUE;
}

static unsigned width_of(unsigned index) { return index % 3 == 0 ? 1u : index % 3 == 1 ? 2u : 4u; }


static NTSTATUS do_port(request *r, unsigned index)
{
    unsigned width = width_of(index);
    BOOLEAN is_write = index >= 3;
    uint32_t port;
    CHECK_LENGTHS(r, PORTIO_PORT_RECORD_SIZE(width, is_write), is_write ? 0 : width);
    port = portio_load_le(r->in, 4);
    if (port > 0xFFFF) return STATUS_INVALID_PARAMETER;
    if (is_write) {
        port_write(port, width, portio_load_le(r->in + PORTIO_PORT_VALUE, width));
    } else {
        portio_store_le(r->out, port_read(port, width), width);
        r->written = width;
    }
    return STATUS_SUCCESS;
}

static NTSTATUS do_indexed(request *r, unsigned index)
{
    unsigned width = width_of(index);
    BOOLEAN is_write = (index % 6) >= 3;
    uint32_t element = PORTIO_INDEXED_ELEMENT_SIZE(width, is_write);
    uint32_t index_port, count, i;
    const uint8_t *e;

    if (r->in_len < PORTIO_INDEXED_SINGLE_HEADER) return STATUS_INVALID_PARAMETER;
    index_port = portio_load_le(r->in + PORTIO_INDEXED_INDEX_PORT, 4);
    if (index < 6) {
        CHECK_LENGTHS(r, PORTIO_INDEXED_SINGLE_SIZE(width, is_write), is_write ? 0 : width);
        e = r->in + PORTIO_INDEXED_SINGLE_HEADER;
        if (is_write) return reg_write(index_port, portio_load_le(e, width), portio_load_le(e + width, width))
                             ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
        portio_store_le(r->out, reg_read(index_port, portio_load_le(e, width)), width);
        r->written = width;
        return STATUS_SUCCESS;
    }
    if (r->in_len < PORTIO_INDEXED_LIST_HEADER) return STATUS_INVALID_PARAMETER;
    count = portio_load_le(r->in + PORTIO_INDEXED_LIST_COUNT, 4);
    if (count == 0 || (uint64_t)count * element + PORTIO_INDEXED_LIST_HEADER != r->in_len
        || (uint64_t)r->out_len != (is_write ? 0 : (uint64_t)count * width))
        return STATUS_INVALID_PARAMETER;
    for (i = 0, e = r->in + PORTIO_INDEXED_LIST_HEADER; i < count; i++, e += element) {
        uint32_t reg = portio_load_le(e, width);
        if (is_write) {
            if (!reg_write(index_port, reg, portio_load_le(e + width, width)))
                return STATUS_INSUFFICIENT_RESOURCES;
        } else {
            portio_store_le(r->out + i * width, reg_read(index_port, reg), width);
        }
    }
    r->written = is_write ? 0 : count * width;
    return STATUS_SUCCESS;
}

static NTSTATUS do_ec(request *r, unsigned index)
{
    BOOLEAN with_response = index & 1;
    BOOLEAN named = index >= 2;
    uint32_t command_port = PORTIO_EC_DEFAULT_COMMAND_PORT;
    const uint8_t *cd = r->in;
    ec_state *ec;

    CHECK_LENGTHS(r, named ? PORTIO_EC_PORTS_COMMAND_SIZE : PORTIO_EC_COMMAND_SIZE,
                  reply_size(with_response));
    if (named) {
        command_port = portio_load_le(r->in + PORTIO_EC_PORTS_COMMAND_PORT, 4);
        if (command_port == 0 || command_port > 0xFFFF ||
            portio_load_le(r->in + PORTIO_EC_PORTS_DATA_PORT, 4) > 0xFFFF)
            return STATUS_INVALID_PARAMETER;
        cd = r->in + PORTIO_EC_PORTS_PREFIX;
    }
    ec = ec_find(command_port, TRUE);
    if (!ec) return STATUS_INSUFFICIENT_RESOURCES;
    put_ec_reply(r, ec_execute(ec, cd[0], cd + 1, 1), with_response);
    return STATUS_SUCCESS;
}

static NTSTATUS do_dorvane_config(request *r, void *field, uint32_t size, BOOLEAN set)
{
    if (set) {
        CHECK_LENGTHS(r, size, PORTIO_EC_REPLY_SIZE);
        RtlCopyMemory(field, r->in, size);
        put_ec_reply(r, 0, FALSE);
    } else {
        CHECK_LENGTHS(r, 0, size);
        put(r, field, size);
    }
    return STATUS_SUCCESS;
}

static NTSTATUS do_dorvane_block(request *r, BOOLEAN with_response)
{
    uint32_t count;
    if (r->in_len < PORTIO_DORVANE_BLOCK_HEADER) return STATUS_INVALID_PARAMETER;
    count = portio_load_le(r->in + PORTIO_DORVANE_BLOCK_COUNT, 4);
    if (count == 0 || (uint64_t)count + PORTIO_DORVANE_BLOCK_HEADER != r->in_len) return STATUS_INVALID_PARAMETER;
    CHECK_LENGTHS(r, r->in_len, reply_size(with_response));
    put_ec_reply(r, ec_execute(&g_machine.dorvane_ec, r->in[0], r->in + PORTIO_DORVANE_BLOCK_HEADER, count),
                 with_response);
    return STATUS_SUCCESS;
}

static NTSTATUS do_dorvane(request *r, unsigned index)
{
    ec_state *ec = &g_machine.dorvane_ec;
    switch (index) {
    case 0: return do_dorvane_config(r, g_machine.dv_type, sizeof(g_machine.dv_type), TRUE);
    case 1: return do_dorvane_config(r, g_machine.dv_io, sizeof(g_machine.dv_io), TRUE);
    case 2: return do_dorvane_config(r, g_machine.dv_device, sizeof(g_machine.dv_device), TRUE);
    case 3: return do_dorvane_config(r, g_machine.dv_type, sizeof(g_machine.dv_type), FALSE);
    case 4: return do_dorvane_config(r, g_machine.dv_io, sizeof(g_machine.dv_io), FALSE);
    case 5: return do_dorvane_config(r, g_machine.dv_device, sizeof(g_machine.dv_device), FALSE);
    case 6: return do_dorvane_config(r, g_machine.dv_ec, sizeof(g_machine.dv_ec), FALSE);
    case 7: return do_dorvane_config(r, g_machine.dv_ec, sizeof(g_machine.dv_ec), TRUE);
    case 10: /* command */
    case 11: /* command with response */
        CHECK_LENGTHS(r, PORTIO_DORVANE_COMMAND_SIZE, reply_size(index == 11));
        put_ec_reply(r, ec_execute(ec, r->in[0], NULL, 0), index == 11);
        return STATUS_SUCCESS;
    case 12: /* command and data */
        CHECK_LENGTHS(r, PORTIO_DORVANE_COMMAND_DATA_SIZE, PORTIO_EC_REPLY_SIZE);
        put_ec_reply(r, ec_execute(ec, r->in[0], r->in + 1, 1), FALSE);
        return STATUS_SUCCESS;
    case 13: /* command and data, or data block, with response */
        if (r->in_len == PORTIO_DORVANE_COMMAND_DATA_SIZE) {
            CHECK_LENGTHS(r, PORTIO_DORVANE_COMMAND_DATA_SIZE, PORTIO_EC_REPLY_RESPONSE_SIZE);
            put_ec_reply(r, ec_execute(ec, r->in[0], r->in + 1, 1), TRUE);
            return STATUS_SUCCESS;
        }
        return do_dorvane_block(r, TRUE);
    case 14: /* data block */
        return do_dorvane_block(r, FALSE);
    default:
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

static NTSTATUS dispatch_family(request *r)
{
    uint32_t function = FUNCTION_OF(r->code);
    uint32_t rel;
    /* Only device type 0x9C40 with FILE_ANY_ACCESS and METHOD_BUFFERED. */
    if ((r->code >> 16) != PORTIO_DEVICE_TYPE || (r->code & 0xC003) != 0 || function < PORTIO_FUNCTION_FIRST)
        return STATUS_INVALID_DEVICE_REQUEST;
    rel = function - PORTIO_FUNCTION_FIRST;
    if (rel >= PORTIO_BASE_PORT && rel < PORTIO_BASE_PORT + 6) return do_port(r, rel - PORTIO_BASE_PORT);
    if (rel >= PORTIO_BASE_INDEXED && rel < PORTIO_BASE_INDEXED + 12) return do_indexed(r, rel - PORTIO_BASE_INDEXED);
    if (rel >= PORTIO_BASE_EC && rel < PORTIO_BASE_EC + 4) return do_ec(r, rel - PORTIO_BASE_EC);
    if (rel >= PORTIO_BASE_DORVANE && rel < PORTIO_BASE_DORVANE + 15) return do_dorvane(r, rel - PORTIO_BASE_DORVANE);
    return STATUS_INVALID_DEVICE_REQUEST;
}

static void log_request(const request *r, uint32_t pid)
{
    portio_diag_log_entry *e;
    uint32_t n = r->in_len < PORTIO_DIAG_LOG_INPUT_BYTES ? r->in_len : PORTIO_DIAG_LOG_INPUT_BYTES;
    if (g_log.kept == PORTIO_DIAG_LOG_ENTRIES) {
        RtlMoveMemory(&g_log.entry[0], &g_log.entry[1], sizeof(g_log.entry[0]) * (PORTIO_DIAG_LOG_ENTRIES - 1));
        g_log.kept--;
    }
    e = &g_log.entry[g_log.kept++];
    RtlZeroMemory(e, sizeof(*e));
    e->code = r->code;
    e->input_length = r->in_len;
    e->output_length = r->out_len;
    e->process_id = pid;
    RtlCopyMemory(e->input, r->in, n);
    g_log.total++;
    g_counts.requests++;
}

/* A family request: log it, take the pending fault, hold if asked, then answer. */
static NTSTATUS handle_family(request *r, uint32_t pid)
{
    portio_diag_fault fault;
    NTSTATUS status;

    lock();
    log_request(r, pid);
    fault = g_fault;
    if (g_fault.kind != PORTIO_FAULT_NONE && g_fault.count != 0xFFFFFFFFu && --g_fault.count == 0)
        RtlZeroMemory(&g_fault, sizeof(g_fault));
    unlock();

    if (fault.kind == PORTIO_FAULT_HOLD) {
        LARGE_INTEGER delay;
        uint32_t ms = fault.value < MAX_HOLD_MS ? fault.value : MAX_HOLD_MS;
        delay.QuadPart = -(LONGLONG)ms * 10000; /* relative, 100 ns units */
        KeDelayExecutionThread(KernelMode, FALSE, &delay);
    }
    if (fault.kind == PORTIO_FAULT_FAIL) return STATUS_IO_DEVICE_ERROR;

    lock();
    status = dispatch_family(r);
    unlock();
    if (status != STATUS_SUCCESS) return status;
    if (fault.kind == PORTIO_FAULT_STATUS && r->has_status) portio_store_le(r->out, fault.value, 4);
    if (fault.kind == PORTIO_FAULT_SHORT_FILL && r->written > fault.value) r->written = fault.value;
    return STATUS_SUCCESS;
}

static NTSTATUS diag_cell(const portio_diag_cell *c, BOOLEAN poke, uint32_t *value)
{
    ec_state *ec;
    switch (c->space) {
    case PORTIO_SPACE_PORT:
        if (c->address > 0xFFFF) return STATUS_INVALID_PARAMETER;
        if (poke) port_set(c->address, (uint8_t)c->value);
        else *value = port_get(c->address);
        return STATUS_SUCCESS;
    case PORTIO_SPACE_INDEXED:
        if (poke) return reg_write(c->key, c->address, c->value) ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
        *value = reg_read(c->key, c->address);
        return STATUS_SUCCESS;
    case PORTIO_SPACE_EC_RAM:
    case PORTIO_SPACE_DORVANE_EC_RAM:
        if (c->address >= EC_RAM_SIZE || c->key > 0xFFFF) return STATUS_INVALID_PARAMETER;
        if (c->space == PORTIO_SPACE_DORVANE_EC_RAM) ec = &g_machine.dorvane_ec;
        else ec = ec_find(c->key, poke);
        if (poke) {
            if (!ec) return STATUS_INSUFFICIENT_RESOURCES;
            ec->ram[c->address] = (uint8_t)c->value;
        } else {
            *value = ec ? ec->ram[c->address] : portio_unwritten_ec_ram(c->address);
        }
        return STATUS_SUCCESS;
    default:
        return STATUS_INVALID_PARAMETER;
    }
}

static NTSTATUS handle_diag(request *r)
{
    NTSTATUS status = STATUS_SUCCESS;
    portio_diag_cell cell;
    uint32_t value = 0;

    lock();
    switch (r->code) {
    case PORTIO_DIAG_GET_LOG:
        if (r->in_len != 0 || r->out_len < sizeof(g_log)) { status = STATUS_INVALID_PARAMETER; break; }
        put(r, &g_log, sizeof(g_log));
        break;
    case PORTIO_DIAG_RESET:
        RtlZeroMemory(&g_log, sizeof(g_log));
        RtlZeroMemory(&g_counts, sizeof(g_counts));
        RtlZeroMemory(&g_fault, sizeof(g_fault));
        break;
    case PORTIO_DIAG_GET_COUNTS:
        if (r->in_len != 0 || r->out_len != sizeof(g_counts)) { status = STATUS_INVALID_PARAMETER; break; }
        put(r, &g_counts, sizeof(g_counts));
        break;
    case PORTIO_DIAG_SET_FAULT:
        if (r->in_len != sizeof(g_fault) || r->out_len != 0) { status = STATUS_INVALID_PARAMETER; break; }
        RtlCopyMemory(&g_fault, r->in, sizeof(g_fault));
        if (g_fault.kind > PORTIO_FAULT_HOLD) { RtlZeroMemory(&g_fault, sizeof(g_fault)); status = STATUS_INVALID_PARAMETER; break; }
        if (g_fault.count == 0) g_fault.count = 1;
        if (g_fault.kind == PORTIO_FAULT_NONE) RtlZeroMemory(&g_fault, sizeof(g_fault));
        break;
    case PORTIO_DIAG_PEEK:
    case PORTIO_DIAG_POKE:
        if (r->in_len != sizeof(cell) || r->out_len != (r->code == PORTIO_DIAG_PEEK ? 4u : 0u)) {
            status = STATUS_INVALID_PARAMETER;
            break;
        }
        RtlCopyMemory(&cell, r->in, sizeof(cell));
        status = diag_cell(&cell, r->code == PORTIO_DIAG_POKE, &value);
        if (status == STATUS_SUCCESS && r->code == PORTIO_DIAG_PEEK) put(r, &value, 4);
        break;
    case PORTIO_DIAG_RESET_MACHINE:
        machine_reset();
        break;
    default:
        status = STATUS_INVALID_DEVICE_REQUEST;
    }
    unlock();
    return status;
}

static NTSTATUS finish(IRP *irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = status == STATUS_SUCCESS ? information : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static NTSTATUS NTAPI dispatch_create(DEVICE_OBJECT *device, IRP *irp)
{
    (void)device;
    lock();
    g_counts.opens++;
    unlock();
    return finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI dispatch_close(DEVICE_OBJECT *device, IRP *irp)
{
    (void)device;
    lock();
    g_counts.closes++;
    unlock();
    return finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI dispatch_cleanup(DEVICE_OBJECT *device, IRP *irp)
{
    (void)device;
    return finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI dispatch_ioctl(DEVICE_OBJECT *device, IRP *irp)
{
    IO_STACK_LOCATION *stack = IoGetCurrentIrpStackLocation(irp);
    uint32_t pid = (uint32_t)(ULONG_PTR)PsGetCurrentProcessId();
    request r;
    uint8_t small[32];
    uint8_t *copy = small;
    NTSTATUS status;

    (void)device;
    RtlZeroMemory(&r, sizeof(r));
    r.code = stack->Parameters.DeviceIoControl.IoControlCode;
    r.in_len = stack->Parameters.DeviceIoControl.InputBufferLength;
    r.out_len = stack->Parameters.DeviceIoControl.OutputBufferLength;
    r.out = irp->AssociatedIrp.SystemBuffer;
    /* METHOD_BUFFERED shares one buffer: keep the input apart before any output is written. */
    if (r.in_len > sizeof(small)) {
        copy = ExAllocatePoolWithTag(NonPagedPool, r.in_len, TAG);
        if (!copy) return finish(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    }
    if (r.in_len) RtlCopyMemory(copy, irp->AssociatedIrp.SystemBuffer, r.in_len);
    r.in = copy;

    if (FUNCTION_OF(r.code) >= DIAG_FUNCTION_FIRST && (r.code >> 16) == PORTIO_DEVICE_TYPE)
        status = handle_diag(&r);
    else
        status = handle_family(&r, pid);

    if (copy != small) ExFreePoolWithTag(copy, TAG);
    return finish(irp, status, r.written);
}

static void NTAPI driver_unload(DRIVER_OBJECT *driver)
{
    IoDeleteSymbolicLink(&g_dos_name);
    if (driver->DeviceObject) IoDeleteDevice(driver->DeviceObject);
}

typedef NTSTATUS (NTAPI *create_device_secure_fn)(DRIVER_OBJECT *, ULONG, UNICODE_STRING *, DEVICE_TYPE,
                                                  ULONG, BOOLEAN, const UNICODE_STRING *, const GUID *,
                                                  DEVICE_OBJECT **);

/*
 * The device admits only SYSTEM and administrators when the kernel offers
 * IoCreateDeviceSecure by name (Wine's ntoskrnl does; it accepts but does not enforce the
 * SDDL, and every Wine process runs as an administrator anyway). Windows keeps that routine
 * in a static DDK library that mingw lacks, so there the device falls back to IoCreateDevice
 * with the default device security.
 */
static NTSTATUS create_device(DRIVER_OBJECT *driver, DEVICE_OBJECT **device)
{
    UNICODE_STRING routine, sddl;
    create_device_secure_fn secure;

    RtlInitUnicodeString(&routine, L"IoCreateDeviceSecure");
    RtlInitUnicodeString(&sddl, L"D:P(A;;GA;;;SY)(A;;GA;;;BA)");
    secure = (create_device_secure_fn)MmGetSystemRoutineAddress(&routine);
    if (secure)
        return secure(driver, 0, &g_device_name, PORTIO_DEVICE_TYPE, FILE_DEVICE_SECURE_OPEN, FALSE,
                      &sddl, NULL, device);
    return IoCreateDevice(driver, 0, &g_device_name, PORTIO_DEVICE_TYPE, FILE_DEVICE_SECURE_OPEN, FALSE, device);
}

NTSTATUS NTAPI DriverEntry(DRIVER_OBJECT *driver, UNICODE_STRING *registry_path)
{
    DEVICE_OBJECT *device = NULL;
    NTSTATUS status;

    (void)registry_path;
    KeInitializeMutex(&g_lock, 0);
    machine_reset();
    RtlInitUnicodeString(&g_device_name, PORTIO_DEVICE_NAME_W);
    RtlInitUnicodeString(&g_dos_name, PORTIO_DOS_NAME_W);
    status = create_device(driver, &device);
    if (status != STATUS_SUCCESS) return status;
    status = IoCreateSymbolicLink(&g_dos_name, &g_device_name);
    if (status != STATUS_SUCCESS) {
        IoDeleteDevice(device);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = dispatch_create;
    driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch_cleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = dispatch_close;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch_ioctl;
    driver->DriverUnload = driver_unload;
    return STATUS_SUCCESS;
}
