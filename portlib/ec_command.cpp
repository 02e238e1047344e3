/*
 * EC commands: a command and a data byte through the driver's default EC port pair or a
 * named pair, returning the driver's status double word. No cross-process lock.
 */
#include <windows.h>
#include <stdint.h>
#include "Brannic.h"
#include "driver_requests.h"
#include "ec_command.h"

/* The reply is preset to zero, so a reply the driver fills short reads as status 0. */
DWORD ec_request(DWORD code, const uint8_t *record, DWORD size)
{
    uint8_t reply[PORTIO_EC_REPLY_SIZE];

    zero_bytes(reply, sizeof(reply));
    if (!driver_request(code, record, size, reply, sizeof(reply))) return 0;
    return portio_load_le(reply, 4);
}

DWORD ec_request_with_response(DWORD code, const uint8_t *record, DWORD size, BYTE *response)
{
    uint8_t reply[PORTIO_EC_REPLY_RESPONSE_SIZE];
    DWORD status;

    zero_bytes(reply, sizeof(reply));
    if (!driver_request(code, record, size, reply, sizeof(reply))) return 0;
    status = portio_load_le(reply, 4);
    if (status && response) *response = reply[PORTIO_EC_REPLY_RESPONSE];
    return status;
}

/* The command record: command and data byte, then reserved bytes. */
static void command_record(uint8_t *record, DWORD command, DWORD data)
{
    zero_bytes(record, PORTIO_EC_COMMAND_SIZE);
    record[0] = (uint8_t)command;
    record[1] = (uint8_t)data;
}

/* The same, after the named command and data ports. */
static void ports_command_record(uint8_t *record, DWORD command_port, DWORD data_port,
                                 DWORD command, DWORD data)
{
    zero_bytes(record, PORTIO_EC_PORTS_COMMAND_SIZE);
    portio_store_le(record + PORTIO_EC_PORTS_COMMAND_PORT, command_port, 4);
    portio_store_le(record + PORTIO_EC_PORTS_DATA_PORT, data_port, 4);
    command_record(record + PORTIO_EC_PORTS_PREFIX, command, data);
}

DWORD WINAPI Brannic_SendECCommand(DWORD command, DWORD data)
{
    uint8_t record[PORTIO_EC_COMMAND_SIZE];

    if (!driver_guard()) return 0;
    command_record(record, command, data);
    return ec_request(PORTIO_EC_COMMAND, record, sizeof(record));
}

DWORD WINAPI Brannic_SendECCommandWithResponse(DWORD command, DWORD data, BYTE *response)
{
    uint8_t record[PORTIO_EC_COMMAND_SIZE];

    if (!driver_guard()) return 0;
    command_record(record, command, data);
    return ec_request_with_response(PORTIO_EC_COMMAND_RESPONSE, record, sizeof(record), response);
}

DWORD WINAPI Brannic_SendSpecifiedPortECCommand(DWORD commandPort, DWORD dataPort,
                                                DWORD command, DWORD data)
{
    uint8_t record[PORTIO_EC_PORTS_COMMAND_SIZE];

    if (!driver_guard()) return 0;
    ports_command_record(record, commandPort, dataPort, command, data);
    return ec_request(PORTIO_EC_COMMAND_PORTS, record, sizeof(record));
}

DWORD WINAPI Brannic_SendSpecifiedPortECCommandWithResponse(DWORD commandPort, DWORD dataPort,
                                                            DWORD command, DWORD data,
                                                            BYTE *response)
{
    uint8_t record[PORTIO_EC_PORTS_COMMAND_SIZE];

    if (!driver_guard()) return 0;
    ports_command_record(record, commandPort, dataPort, command, data);
    return ec_request_with_response(PORTIO_EC_COMMAND_PORTS_RESPONSE, record, sizeof(record),
                                    response);
}
