// Commands over single I/O ports and the registers behind index/data port pairs. One
// register goes out as a single request, several as one list request.
#include "Brannic.h"
#include "arguments.h"
#include "cli.h"
#include "library.h"

static int ReadPort(int width, int argc, char** argv)
{
    DWORD port;
    if (!CheckCount(argc, argv, 1, 1) || !TakeNumber(argv[0], "PORT", kMaxPort, &port))
        return kExitBadInput;
    if (!OpenLibrary()) return kExitCallFailed;
    DWORD value = 0;
    if (width == 1) {
        BYTE byte;
        if (!Brannic_InputByteValue(port, &byte)) return CallFailed("Brannic_InputByteValue");
        value = byte;
    } else if (width == 2) {
        WORD word;
        if (!Brannic_InputWordValue(port, &word)) return CallFailed("Brannic_InputWordValue");
        value = word;
    } else if (!Brannic_InputDWordValue(port, &value)) {
        return CallFailed("Brannic_InputDWordValue");
    }
    PrintValue(value, width);
    return kExitDone;
}

static int WritePort(int width, int argc, char** argv)
{
    DWORD port, value;
    if (!CheckCount(argc, argv, 2, 2) || !TakeNumber(argv[0], "PORT", kMaxPort, &port) ||
        !TakeNumber(argv[1], "VALUE", MaxOfWidth(width), &value))
        return kExitBadInput;
    if (!OpenLibrary()) return kExitCallFailed;
    if (width == 1 && !Brannic_OutputByteValue(port, value, nullptr))
        return CallFailed("Brannic_OutputByteValue");
    if (width == 2 && !Brannic_OutputWordValue(port, value, nullptr))
        return CallFailed("Brannic_OutputWordValue");
    if (width == 4 && !Brannic_OutputDWordValue(port, value, nullptr))
        return CallFailed("Brannic_OutputDWordValue");
    return kExitDone;
}

static bool TakePortPair(char** argv, DWORD* indexPort, DWORD* dataPort)
{
    return TakeNumber(argv[0], "INDEXPORT", kMaxPort, indexPort) &&
           TakeNumber(argv[1], "DATAPORT", kMaxPort, dataPort);
}

// Registers of one width in the element type the list exports take.
static BOOL ReadRegisters(int width, DWORD indexPort, DWORD dataPort, DWORD count,
                          const DWORD* indices, DWORD* values, const char** call)
{
    static BYTE s_bytes[2][kMaxListValues];
    static WORD s_words[2][kMaxListValues];
    BOOL ok;
    if (width == 4) {
        *call = count == 1 ? "Brannic_ReadIndexedDWord" : "Brannic_ReadIndexedDWordArray";
        return count == 1
                   ? Brannic_ReadIndexedDWord(indexPort, dataPort, indices[0], values)
                   : Brannic_ReadIndexedDWordArray(indexPort, dataPort, count, indices, values);
    }
    if (width == 2) {
        for (DWORD i = 0; i < count; i++) s_words[0][i] = (WORD)indices[i];
        *call = count == 1 ? "Brannic_ReadIndexedWord" : "Brannic_ReadIndexedWordArray";
        ok = count == 1
                 ? Brannic_ReadIndexedWord(indexPort, dataPort, indices[0], s_words[1])
                 : Brannic_ReadIndexedWordArray(indexPort, dataPort, count, s_words[0], s_words[1]);
        for (DWORD i = 0; i < count; i++) values[i] = s_words[1][i];
        return ok;
    }
    for (DWORD i = 0; i < count; i++) s_bytes[0][i] = (BYTE)indices[i];
    *call = count == 1 ? "Brannic_ReadIndexedByte" : "Brannic_ReadIndexedByteArray";
    ok = count == 1
             ? Brannic_ReadIndexedByte(indexPort, dataPort, indices[0], s_bytes[1])
             : Brannic_ReadIndexedByteArray(indexPort, dataPort, count, s_bytes[0], s_bytes[1]);
    for (DWORD i = 0; i < count; i++) values[i] = s_bytes[1][i];
    return ok;
}

static BOOL WriteRegisters(int width, DWORD indexPort, DWORD dataPort, DWORD count,
                           const DWORD* indices, const DWORD* values, const char** call)
{
    static BYTE s_bytes[2][kMaxListValues];
    static WORD s_words[2][kMaxListValues];
    if (width == 4) {
        *call = count == 1 ? "Brannic_WriteIndexedDWord" : "Brannic_WriteIndexedDWordArray";
        return count == 1
                   ? Brannic_WriteIndexedDWord(indexPort, dataPort, indices[0], values[0])
                   : Brannic_WriteIndexedDWordArray(indexPort, dataPort, count, indices, values);
    }
    if (width == 2) {
        for (DWORD i = 0; i < count; i++) {
            s_words[0][i] = (WORD)indices[i];
            s_words[1][i] = (WORD)values[i];
        }
        *call = count == 1 ? "Brannic_WriteIndexedWord" : "Brannic_WriteIndexedWordArray";
        return count == 1 ? Brannic_WriteIndexedWord(indexPort, dataPort, indices[0], values[0])
                          : Brannic_WriteIndexedWordArray(indexPort, dataPort, count, s_words[0],
                                                          s_words[1]);
    }
    for (DWORD i = 0; i < count; i++) {
        s_bytes[0][i] = (BYTE)indices[i];
        s_bytes[1][i] = (BYTE)values[i];
    }
    *call = count == 1 ? "Brannic_WriteIndexedByte" : "Brannic_WriteIndexedByteArray";
    return count == 1
               ? Brannic_WriteIndexedByte(indexPort, dataPort, indices[0], values[0])
               : Brannic_WriteIndexedByteArray(indexPort, dataPort, count, s_bytes[0], s_bytes[1]);
}

static int ReadRegisterCommand(int width, int argc, char** argv)
{
    static DWORD s_indices[kMaxListValues], s_values[kMaxListValues];
    DWORD indexPort, dataPort;
    if (!CheckCount(argc, argv, 3, 2 + kMaxListValues) ||
        !TakePortPair(argv, &indexPort, &dataPort))
        return kExitBadInput;
    DWORD count = argc - 2;
    for (DWORD i = 0; i < count; i++)
        if (!TakeNumber(argv[2 + i], "INDEX", MaxOfWidth(width), &s_indices[i]))
            return kExitBadInput;
    if (!OpenLibrary()) return kExitCallFailed;
    const char* call;
    if (!ReadRegisters(width, indexPort, dataPort, count, s_indices, s_values, &call))
        return CallFailed(call);
    for (DWORD i = 0; i < count; i++) PrintValue(s_values[i], width);
    return kExitDone;
}

static int WriteRegisterCommand(int width, int argc, char** argv)
{
    static DWORD s_indices[kMaxListValues], s_values[kMaxListValues];
    DWORD indexPort, dataPort;
    if (!CheckCount(argc, argv, 3, 2 + kMaxListValues) ||
        !TakePortPair(argv, &indexPort, &dataPort))
        return kExitBadInput;
    DWORD count = argc - 2;
    for (DWORD i = 0; i < count; i++)
        if (!TakePair(argv[2 + i], "INDEX=VALUE", MaxOfWidth(width), &s_indices[i], &s_values[i]))
            return kExitBadInput;
    if (!OpenLibrary()) return kExitCallFailed;
    const char* call;
    if (!WriteRegisters(width, indexPort, dataPort, count, s_indices, s_values, &call))
        return CallFailed(call);
    return kExitDone;
}

const Command kPortCommands[] = {
    {"in8", "PORT", "read a byte from an I/O port", 1, ReadPort},
    {"in16", "PORT", "read a word from an I/O port", 2, ReadPort},
    {"in32", "PORT", "read a double word from an I/O port", 4, ReadPort},
    {"out8", "PORT VALUE", "write a byte to an I/O port", 1, WritePort},
    {"out16", "PORT VALUE", "write a word to an I/O port", 2, WritePort},
    {"out32", "PORT VALUE", "write a double word to an I/O port", 4, WritePort},
    {"reg-read8", "INDEXPORT DATAPORT INDEX...", "read 8-bit index/data registers", 1,
     ReadRegisterCommand},
    {"reg-read16", "INDEXPORT DATAPORT INDEX...", "read 16-bit registers", 2, ReadRegisterCommand},
    {"reg-read32", "INDEXPORT DATAPORT INDEX...", "read 32-bit registers", 4, ReadRegisterCommand},
    {"reg-write8", "INDEXPORT DATAPORT INDEX=VALUE...", "write 8-bit registers", 1,
     WriteRegisterCommand},
    {"reg-write16", "INDEXPORT DATAPORT INDEX=VALUE...", "write 16-bit registers", 2,
     WriteRegisterCommand},
    {"reg-write32", "INDEXPORT DATAPORT INDEX=VALUE...", "write 32-bit registers", 4,
     WriteRegisterCommand},
};
const int kPortCommandCount = sizeof(kPortCommands) / sizeof(kPortCommands[0]);
