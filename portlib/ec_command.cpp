// EC commands: a command and a data byte through the driver's default EC port pair or a
// named pair, returning the driver's status double word. No cross-process lock.
#include <windows.h>
#include <stdint.h>
#include "Brannic.h"
#include "driver_requests.h"
#include "ec_command.h"

// The reply is preset to zero, so a reply the driver fills short reads as status 0.
DWORD EcRequest(DWORD code, const uint8_t* record, DWORD size)
{
    uint8_t reply[PORTIO_EC_REPLY_SIZE];

    ZeroBytes(reply, sizeof(reply));
    if (!DriverRequest(code, record, size, reply, sizeof(reply))) return 0;
    return PortioLoadLe(reply, 4);
}

DWORD EcRequestWithResponse(DWORD code, const uint8_t* record, DWORD size, BYTE* response)
{
    uint8_t reply[PORTIO_EC_REPLY_RESPONSE_SIZE];
    DWORD status;

    ZeroBytes(reply, sizeof(reply));
    if (!DriverRequest(code, record, size, reply, sizeof(reply))) return 0;
    status = PortioLoadLe(reply, 4);
    if (status && response) *response = reply[PORTIO_EC_REPLY_RESPONSE];
    return status;
}

// The command record: command and data byte, then reserved bytes.
static void CommandRecord(uint8_t* record, DWORD command, DWORD data)
{
    ZeroBytes(record, PORTIO_EC_COMMAND_SIZE);
    record[0] = (uint8_t)command;
    record[1] = (uint8_t)data;
}

// The same, after the named command and data ports.
static void PortsCommandRecord(uint8_t* record, DWORD commandPort, DWORD dataPort, DWORD command,
                               DWORD data)
{
    ZeroBytes(record, PORTIO_EC_PORTS_COMMAND_SIZE);
    PortioStoreLe(record + PORTIO_EC_PORTS_COMMAND_PORT, commandPort, 4);
    PortioStoreLe(record + PORTIO_EC_PORTS_DATA_PORT, dataPort, 4);
    CommandRecord(record + PORTIO_EC_PORTS_PREFIX, command, data);
}

DWORD WINAPI Brannic_SendECCommand(DWORD command, DWORD data)
{
    uint8_t record[PORTIO_EC_COMMAND_SIZE];

    if (!DriverGuard()) return 0;
    CommandRecord(record, command, data);
    return EcRequest(PORTIO_EC_COMMAND, record, sizeof(record));
}

DWORD WINAPI Brannic_SendECCommandWithResponse(DWORD command, DWORD data, BYTE* response)
{
    uint8_t record[PORTIO_EC_COMMAND_SIZE];

    if (!DriverGuard()) return 0;
    CommandRecord(record, command, data);
    return EcRequestWithResponse(PORTIO_EC_COMMAND_RESPONSE, record, sizeof(record), response);
}

DWORD WINAPI Brannic_SendSpecifiedPortECCommand(DWORD commandPort, DWORD dataPort, DWORD command,
                                                DWORD data)
{
    uint8_t record[PORTIO_EC_PORTS_COMMAND_SIZE];

    if (!DriverGuard()) return 0;
    PortsCommandRecord(record, commandPort, dataPort, command, data);
    return EcRequest(PORTIO_EC_COMMAND_PORTS, record, sizeof(record));
}

DWORD WINAPI Brannic_SendSpecifiedPortECCommandWithResponse(DWORD commandPort, DWORD dataPort,
                                                            DWORD command, DWORD data,
                                                            BYTE* response)
{
    uint8_t record[PORTIO_EC_PORTS_COMMAND_SIZE];

    if (!DriverGuard()) return 0;
    PortsCommandRecord(record, commandPort, dataPort, command, data);
    return EcRequestWithResponse(PORTIO_EC_COMMAND_PORTS_RESPONSE, record, sizeof(record),
                                 response);
}
