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
DWORD ec_reply_request(DWORD code, const void *record, DWORD size, BYTE *response,
                       BOOL with_response)
{
    portio_ec_reply_response reply;

    zero_bytes(&reply, sizeof(reply));
    if (!driver_request(code, record, size, &reply,
                        with_response ? sizeof(portio_ec_reply_response) : sizeof(portio_ec_reply)))
        return 0;
    if (with_response && response && reply.status) *response = reply.response;
    return reply.status;
}

static DWORD ec_command_default(DWORD code, DWORD command, DWORD data, BYTE *response,
                                BOOL with_response)
{
    portio_ec_command record;

    if (!driver_guard()) return 0;
    zero_bytes(&record, sizeof(record));
    record.command = (uint8_t)command;
    record.data = (uint8_t)data;
    return ec_reply_request(code, &record, sizeof(record), response, with_response);
}

static DWORD ec_command_ports(DWORD code, DWORD command_port, DWORD data_port, DWORD command,
                              DWORD data, BYTE *response, BOOL with_response)
{
    portio_ec_command_ports record;

    if (!driver_guard()) return 0;
    zero_bytes(&record, sizeof(record));
    record.command_port = command_port;
    record.data_port = data_port;
    record.command = (uint8_t)command;
    record.data = (uint8_t)data;
    return ec_reply_request(code, &record, sizeof(record), response, with_response);
}

DWORD WINAPI Brannic_SendECCommand(DWORD command, DWORD data)
{
    return ec_command_default(PORTIO_EC_COMMAND, command, data, NULL, FALSE);
}

DWORD WINAPI Brannic_SendECCommandWithResponse(DWORD command, DWORD data, BYTE *response)
{
    return ec_command_default(PORTIO_EC_COMMAND_RESPONSE, command, data, response, TRUE);
}

DWORD WINAPI Brannic_SendSpecifiedPortECCommand(DWORD commandPort, DWORD dataPort,
                                                DWORD command, DWORD data)
{
    return ec_command_ports(PORTIO_EC_COMMAND_PORTS, commandPort, dataPort, command, data,
                            NULL, FALSE);
}

DWORD WINAPI Brannic_SendSpecifiedPortECCommandWithResponse(DWORD commandPort, DWORD dataPort,
                                                            DWORD command, DWORD data,
                                                            BYTE *response)
{
    return ec_command_ports(PORTIO_EC_COMMAND_PORTS_RESPONSE, commandPort, dataPort, command,
                            data, response, TRUE);
}
