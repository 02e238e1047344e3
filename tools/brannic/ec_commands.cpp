// Commands over the EC: EC commands on the default or a named port pair, and the Dorvane
// index method's configuration and sends. Results that carry the driver's status print it
// as "status", the response byte as "response".
#include <string.h>

#include "Brannic.h"
#include "cli.h"

static void PrintReply(DWORD status, bool with_response, BYTE response)
{
    PrintNamed("status", status, 4);
    if (with_response) PrintNamed("response", response, 1);
}

static int EcCommand(int, int argc, char** argv)
{
    char* ports[2];
    bool with_response = TakeFlag(&argc, argv, "--response");
    int named = TakeOption(&argc, argv, "--ports", 2, ports);
    DWORD command_port = 0, data_port = 0, command, data;
    if (named < 0 || !CheckCount(argc, argv, 2, 2)) return EXIT_BAD_INPUT;
    if (named && (!TakeNumber(ports[0], "CP", 0xFFFF, &command_port) ||
                  !TakeNumber(ports[1], "DP", 0xFFFF, &data_port)))
        return EXIT_BAD_INPUT;
    if (!TakeNumber(argv[0], "CMD", 0xFF, &command) || !TakeNumber(argv[1], "DATA", 0xFF, &data))
        return EXIT_BAD_INPUT;
    if (!OpenLibrary()) return EXIT_CALL_FAILED;

    BYTE response = 0;
    DWORD status;
    const char* call;
    if (named && with_response) {
        call = "Brannic_SendSpecifiedPortECCommandWithResponse";
        status = Brannic_SendSpecifiedPortECCommandWithResponse(command_port, data_port, command,
                                                                data, &response);
    } else if (named) {
        call = "Brannic_SendSpecifiedPortECCommand";
        status = Brannic_SendSpecifiedPortECCommand(command_port, data_port, command, data);
    } else if (with_response) {
        call = "Brannic_SendECCommandWithResponse";
        status = Brannic_SendECCommandWithResponse(command, data, &response);
    } else {
        call = "Brannic_SendECCommand";
        status = Brannic_SendECCommand(command, data);
    }
    if (!status) return CallFailed(call);
    PrintReply(status, with_response, response);
    return EXIT_DONE;
}

// ---- Dorvane index method: configuration ----

enum { PORT_TYPE, IO_ADDRESS, PORT_DEVICE, EC_ADDRESS };

struct DorvaneSetting {
    const char* name;
    int width;  // of each value: the get exports' element types
    int values;
};

static const DorvaneSetting kSettings[] = {
    {"port-type", 1, 1}, {"io-address", 2, 4}, {"port-device", 1, 4}, {"ec-address", 2, 4}};

static int FindSetting(const char* name)
{
    for (int i = 0; i < 4; i++)
        if (strcmp(kSettings[i].name, name) == 0) return i;
    return -1;
}

static int DorvaneGet(int, int argc, char** argv)
{
    if (!CheckCount(argc, argv, 1, 1)) return EXIT_BAD_INPUT;
    int setting = FindSetting(argv[0]);
    if (setting < 0) return BadInput("unknown setting \"%s\"", argv[0]);
    if (!OpenLibrary()) return EXIT_CALL_FAILED;

    BYTE bytes[4] = {0, 0, 0, 0};
    WORD words[4] = {0, 0, 0, 0};
    BOOL ok;
    const char* call;
    if (setting == PORT_TYPE) {
        call = "Brannic_GetDorvaneIndexMethodEcPortType";
        ok = Brannic_GetDorvaneIndexMethodEcPortType(&bytes[0]);
    } else if (setting == PORT_DEVICE) {
        call = "Brannic_GetDorvaneIndexMethodEcPortDevice";
        ok = Brannic_GetDorvaneIndexMethodEcPortDevice(&bytes[0], &bytes[1], &bytes[2], &bytes[3]);
    } else if (setting == IO_ADDRESS) {
        call = "Brannic_GetDorvaneIndexMethodIoAddress";
        ok = Brannic_GetDorvaneIndexMethodIoAddress(&words[0], &words[1], &words[2], &words[3]);
    } else {
        call = "Brannic_GetDorvaneIndexMethodEcAddress";
        ok = Brannic_GetDorvaneIndexMethodEcAddress(&words[0], &words[1], &words[2], &words[3]);
    }
    if (!ok) return CallFailed(call);
    for (int i = 0; i < kSettings[setting].values; i++)
        PrintValue(kSettings[setting].width == 1 ? bytes[i] : words[i], kSettings[setting].width);
    return EXIT_DONE;
}

static int DorvaneSet(int, int argc, char** argv)
{
    if (!CheckCount(argc, argv, 1, 5)) return EXIT_BAD_INPUT;
    int setting = FindSetting(argv[0]);
    if (setting < 0) return BadInput("unknown setting \"%s\"", argv[0]);
    const DorvaneSetting& s = kSettings[setting];
    DWORD v[4] = {0, 0, 0, 0};
    if (!CheckCount(argc, argv, 1 + s.values, 1 + s.values)) return EXIT_BAD_INPUT;
    for (int i = 0; i < s.values; i++)
        if (!TakeNumber(argv[1 + i], "VALUE", MaxOfWidth(s.width), &v[i])) return EXIT_BAD_INPUT;
    if (!OpenLibrary()) return EXIT_CALL_FAILED;

    if (setting == PORT_TYPE && !Brannic_SetDorvaneIndexMethodEcPortType(v[0]))
        return CallFailed("Brannic_SetDorvaneIndexMethodEcPortType");
    if (setting == IO_ADDRESS && !Brannic_SetDorvaneIndexMethodIoAddress(v[0], v[1], v[2], v[3]))
        return CallFailed("Brannic_SetDorvaneIndexMethodIoAddress");
    if (setting == PORT_DEVICE && !Brannic_SetDorvaneIndexMethodEcPortDevice(v[0], v[1], v[2], v[3]))
        return CallFailed("Brannic_SetDorvaneIndexMethodEcPortDevice");
    if (setting == EC_ADDRESS && !Brannic_SetDorvaneIndexMethodEcAddress(v[0], v[1], v[2], v[3]))
        return CallFailed("Brannic_SetDorvaneIndexMethodEcAddress");
    return EXIT_DONE;
}

// ---- Dorvane index method: sends, under the cross-process EC lock ----

// No data: the command alone; one byte: command and data; more, or --block: a data block.
static int DorvaneSend(int, int argc, char** argv)
{
    static BYTE data[MAX_LIST];
    bool with_response = TakeFlag(&argc, argv, "--response");
    bool block = TakeFlag(&argc, argv, "--block");
    DWORD command, value;
    if (!CheckCount(argc, argv, 1, 1 + MAX_LIST) || !TakeNumber(argv[0], "CMD", 0xFF, &command))
        return EXIT_BAD_INPUT;
    DWORD count = argc - 1;
    if (block && count == 0) return BadInput("--block needs at least one DATA byte");
    for (DWORD i = 0; i < count; i++) {
        if (!TakeNumber(argv[1 + i], "DATA", 0xFF, &value)) return EXIT_BAD_INPUT;
        data[i] = (BYTE)value;
    }
    if (!OpenLibrary()) return EXIT_CALL_FAILED;

    BYTE response = 0;
    DWORD status;
    const char* call;
    if (count == 0) {
        call = with_response ? "Brannic_SendDorvaneIndexMethodEcCommandWithResponse"
                             : "Brannic_SendDorvaneIndexMethodEcCommand";
        status = with_response ? Brannic_SendDorvaneIndexMethodEcCommandWithResponse(command, &response)
                               : Brannic_SendDorvaneIndexMethodEcCommand(command);
    } else if (count == 1 && !block) {
        call = with_response ? "Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse"
                             : "Brannic_SendDorvaneIndexMethodEcCommandData";
        status = with_response
                     ? Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse(command, data[0], &response)
                     : Brannic_SendDorvaneIndexMethodEcCommandData(command, data[0]);
    } else {
        call = with_response ? "Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse"
                             : "Brannic_SendDorvaneIndexMethodEcCommandDataArray";
        status = with_response
                     ? Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse(command, count, data,
                                                                                    &response)
                     : Brannic_SendDorvaneIndexMethodEcCommandDataArray(command, count, data);
    }
    if (!status) return CallFailed(call);
    // Without a response the sends return 1, not the driver's status: nothing to show.
    if (with_response) PrintReply(status, true, response);
    return EXIT_DONE;
}

const Command kEcCommands[] = {
    {"ec", "[--ports CP DP] [--response] CMD DATA", "EC command, default or named ports", 0,
     EcCommand},
    {"dorvane-get", "SETTING", "read a Dorvane index-method setting", 0, DorvaneGet},
    {"dorvane-set", "SETTING VALUE...", "set a Dorvane index-method setting", 0, DorvaneSet},
    {"dorvane-send", "[--response] [--block] CMD [DATA...]",
     "Dorvane EC command, under the lock", 0, DorvaneSend},
};
const int kEcCommandCount = sizeof(kEcCommands) / sizeof(kEcCommands[0]);
