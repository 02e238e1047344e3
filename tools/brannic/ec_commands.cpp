// Commands over the EC: EC commands on the default or a named port pair, and the Dorvane
// index method's configuration and sends. Results that carry the driver's status print it
// as "status", the response byte as "response".
#include <string.h>

#include "Brannic.h"
#include "arguments.h"
#include "cli.h"
#include "library.h"

static void PrintReply(DWORD status, bool withResponse, BYTE response)
{
    PrintNamed("status", status, 4);
    if (withResponse) PrintNamed("response", response, 1);
}

static int EcCommand(int, int argc, char** argv)
{
    char* ports[2];
    bool withResponse = TakeFlag(&argc, argv, "--response");
    int named = TakeOption(&argc, argv, "--ports", 2, ports);
    DWORD commandPort = 0, dataPort = 0, command, data;
    if (named < 0 || !CheckCount(argc, argv, 2, 2)) return kExitBadInput;
    if (named && (!TakeNumber(ports[0], "CP", kMaxPort, &commandPort) ||
                  !TakeNumber(ports[1], "DP", kMaxPort, &dataPort)))
        return kExitBadInput;
    if (!TakeNumber(argv[0], "CMD", 0xFF, &command) || !TakeNumber(argv[1], "DATA", 0xFF, &data))
        return kExitBadInput;
    if (!OpenLibrary()) return kExitCallFailed;

    BYTE response = 0;
    DWORD status;
    const char* call;
    if (named && withResponse) {
        call = "Brannic_SendSpecifiedPortECCommandWithResponse";
        status = Brannic_SendSpecifiedPortECCommandWithResponse(commandPort, dataPort, command,
                                                                data, &response);
    } else if (named) {
        call = "Brannic_SendSpecifiedPortECCommand";
        status = Brannic_SendSpecifiedPortECCommand(commandPort, dataPort, command, data);
    } else if (withResponse) {
        call = "Brannic_SendECCommandWithResponse";
        status = Brannic_SendECCommandWithResponse(command, data, &response);
    } else {
        call = "Brannic_SendECCommand";
        status = Brannic_SendECCommand(command, data);
    }
    if (!status) return CallFailed(call);
    PrintReply(status, withResponse, response);
    return kExitDone;
}

// ---- Dorvane index method: configuration ----

enum {
    kPortType,
    kIoAddress,
    kPortDevice,
    kEcAddress
};

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
    if (!CheckCount(argc, argv, 1, 1)) return kExitBadInput;
    int setting = FindSetting(argv[0]);
    if (setting < 0) return BadInput("unknown setting \"%s\"", argv[0]);
    if (!OpenLibrary()) return kExitCallFailed;

    BYTE bytes[4] = {0, 0, 0, 0};
    WORD words[4] = {0, 0, 0, 0};
    BOOL ok;
    const char* call;
    if (setting == kPortType) {
        call = "Brannic_GetDorvaneIndexMethodEcPortType";
        ok = Brannic_GetDorvaneIndexMethodEcPortType(&bytes[0]);
    } else if (setting == kPortDevice) {
        call = "Brannic_GetDorvaneIndexMethodEcPortDevice";
        ok = Brannic_GetDorvaneIndexMethodEcPortDevice(&bytes[0], &bytes[1], &bytes[2], &bytes[3]);
    } else if (setting == kIoAddress) {
        call = "Brannic_GetDorvaneIndexMethodIoAddress";
        ok = Brannic_GetDorvaneIndexMethodIoAddress(&words[0], &words[1], &words[2], &words[3]);
    } else {
        call = "Brannic_GetDorvaneIndexMethodEcAddress";
        ok = Brannic_GetDorvaneIndexMethodEcAddress(&words[0], &words[1], &words[2], &words[3]);
    }
    if (!ok) return CallFailed(call);
    for (int i = 0; i < kSettings[setting].values; i++)
        PrintValue(kSettings[setting].width == 1 ? bytes[i] : words[i], kSettings[setting].width);
    return kExitDone;
}

static int DorvaneSet(int, int argc, char** argv)
{
    if (!CheckCount(argc, argv, 1, 5)) return kExitBadInput;
    int setting = FindSetting(argv[0]);
    if (setting < 0) return BadInput("unknown setting \"%s\"", argv[0]);
    const DorvaneSetting& s = kSettings[setting];
    DWORD v[4] = {0, 0, 0, 0};
    if (!CheckCount(argc, argv, 1 + s.values, 1 + s.values)) return kExitBadInput;
    for (int i = 0; i < s.values; i++)
        if (!TakeNumber(argv[1 + i], "VALUE", MaxOfWidth(s.width), &v[i])) return kExitBadInput;
    if (!OpenLibrary()) return kExitCallFailed;

    if (setting == kPortType && !Brannic_SetDorvaneIndexMethodEcPortType(v[0]))
        return CallFailed("Brannic_SetDorvaneIndexMethodEcPortType");
    if (setting == kIoAddress && !Brannic_SetDorvaneIndexMethodIoAddress(v[0], v[1], v[2], v[3]))
        return CallFailed("Brannic_SetDorvaneIndexMethodIoAddress");
    if (setting == kPortDevice &&
        !Brannic_SetDorvaneIndexMethodEcPortDevice(v[0], v[1], v[2], v[3]))
        return CallFailed("Brannic_SetDorvaneIndexMethodEcPortDevice");
    if (setting == kEcAddress && !Brannic_SetDorvaneIndexMethodEcAddress(v[0], v[1], v[2], v[3]))
        return CallFailed("Brannic_SetDorvaneIndexMethodEcAddress");
    return kExitDone;
}

// ---- Dorvane index method: sends, under the cross-process EC lock ----

// No data: the command alone; one byte: command and data; more, or --block: a data block.
static int DorvaneSend(int, int argc, char** argv)
{
    static BYTE s_data[kMaxListValues];
    bool withResponse = TakeFlag(&argc, argv, "--response");
    bool block = TakeFlag(&argc, argv, "--block");
    DWORD command, value;
    if (!CheckCount(argc, argv, 1, 1 + kMaxListValues) ||
        !TakeNumber(argv[0], "CMD", 0xFF, &command))
        return kExitBadInput;
    DWORD count = argc - 1;
    if (block && count == 0) return BadInput("--block needs at least one DATA byte");
    for (DWORD i = 0; i < count; i++) {
        if (!TakeNumber(argv[1 + i], "DATA", 0xFF, &value)) return kExitBadInput;
        s_data[i] = (BYTE)value;
    }
    if (!OpenLibrary()) return kExitCallFailed;

    BYTE response = 0;
    DWORD status;
    const char* call;
    if (count == 0) {
        call = withResponse ? "Brannic_SendDorvaneIndexMethodEcCommandWithResponse"
                            : "Brannic_SendDorvaneIndexMethodEcCommand";
        status = withResponse
                     ? Brannic_SendDorvaneIndexMethodEcCommandWithResponse(command, &response)
                     : Brannic_SendDorvaneIndexMethodEcCommand(command);
    } else if (count == 1 && !block) {
        call = withResponse ? "Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse"
                            : "Brannic_SendDorvaneIndexMethodEcCommandData";
        status = withResponse ? Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse(
                                    command, s_data[0], &response)
                              : Brannic_SendDorvaneIndexMethodEcCommandData(command, s_data[0]);
    } else {
        call = withResponse ? "Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse"
                            : "Brannic_SendDorvaneIndexMethodEcCommandDataArray";
        status = withResponse
                     ? Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse(
                           command, count, s_data, &response)
                     : Brannic_SendDorvaneIndexMethodEcCommandDataArray(command, count, s_data);
    }
    if (!status) return CallFailed(call);
    // Without a response the sends return 1, not the driver's status: nothing to show.
    if (withResponse) PrintReply(status, true, response);
    return kExitDone;
}

const Command kEcCommands[] = {
    {"ec", "[--ports CP DP] [--response] CMD DATA", "EC command, default or named ports", 0,
     EcCommand},
    {"dorvane-get", "SETTING", "read a Dorvane index-method setting", 0, DorvaneGet},
    {"dorvane-set", "SETTING VALUE...", "set a Dorvane index-method setting", 0, DorvaneSet},
    {"dorvane-send", "[--response] [--block] CMD [DATA...]", "Dorvane EC command, under the lock",
     0, DorvaneSend},
};
const int kEcCommandCount = sizeof(kEcCommands) / sizeof(kEcCommands[0]);
