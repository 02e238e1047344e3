// Fennick.dll stand-in: the key-controller access library over a simulated embedded controller.
// Port 0x6C reads the EC status (bit 0 output full, bit 1 input full) and takes commands; port
// 0x68 gives the EC's output bytes and takes data bytes. Every access lands in the trace.
#include "standin.h"

static void Trace(NotebookState *s, bool write, DWORD port, BYTE value)
{
    LONG i = s->traceCount;
    PortAccess &a = s->trace[(uint32_t)i % kTraceCapacity];
    a.write = write;
    a.port = (uint8_t)port;
    a.value = value;
    a.timeUs = SimNowUs();
    InterlockedExchange(&s->traceCount, i + 1);
}

static BYTE Status(const NotebookState *s)
{
    BYTE status = 0;
    if (s->staleOutputBytes > 0 || s->ecBehaviour == EcOutputNeverClears)
        status |= 0x01;
    if (s->ecBehaviour == EcInputNeverClears || s->inputStuck)
        status |= 0x02;
    return status;
}

extern "C" {

int WINAPI Fennick_Init(const char *configPath)
{
    NotebookState *s = Sim();
    if (s) {
        SimLock(s);
        lstrcpynA(s->initPath, configPath ? configPath : "(null)", sizeof s->initPath);
        SimUnlock(s);
    }
    return CountedCall(CallFennickInit, &NotebookState::initCalls, &NotebookState::failInit);
}

int WINAPI Fennick_LoadDriver(void)
{
    return CountedCall(CallFennickLoadDriver, &NotebookState::loadDriverCalls,
                       &NotebookState::failLoadDriver);
}

int WINAPI Fennick_UnLoadDriver(void)
{
    return CountedCall(CallFennickUnLoadDriver, &NotebookState::unloadDriverCalls);
}

int WINAPI Fennick_InputByteValue(DWORD port, BYTE *value)
{
    NotebookState *s = Sim();
    if (!s || !value)
        return 0;
    SimLock(s);
    BYTE v = 0xFF;
    if (port == 0x6C) {
        v = Status(s);
    } else if (port == 0x68) {
        if (s->staleOutputBytes > 0) {
            v = (BYTE)(0xA0 + s->staleOutputBytes);
            s->staleOutputBytes--;
        } else {
            v = 0x00;
        }
    }
    Trace(s, false, port, v);
    SimUnlock(s);
    *value = v;
    return 1;
}

int WINAPI Fennick_OutputByteValue(DWORD port, DWORD value, BYTE *scratch)
{
    NotebookState *s = Sim();
    if (!s)
        return 0;
    (void)scratch;
    BYTE v = (BYTE)value;
    SimLock(s);
    Trace(s, true, port, v);
    if (port == 0x6C) {
        if (v == 0xFF) {
            s->closingBytes++;
            s->lastClosingUs = SimNowUs();
            s->ecExpect = 0;
        } else {
            s->commandBytes++;
            s->ecCommand = v;
            s->ecExpect = 1;
        }
    } else if (port == 0x68) {
        if (s->ecExpect == 1) {
            s->ecData1 = v;
            s->ecExpect = 2;
        } else if (s->ecExpect == 2) {
            s->ecExpect = 3;
            if (s->ecCommand == 0x45 && s->ecData1 == 0x8B) {
                s->ledLevel = v;
                s->ledLevelKnown = 1;
                s->ledCommands++;
            }
            if (s->ecBehaviour == EcInputSticksAfterData2)
                s->inputStuck = 1;
        }
    }
    SimUnlock(s);
    return 1;
}

} // extern "C"
