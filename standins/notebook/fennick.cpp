// Fennick.dll stand-in: the key-controller access library over a simulated embedded controller.
// Port 0x6C reads the EC status (bit 0 output full, bit 1 input full) and takes commands; port
// 0x68 gives the EC's output bytes and takes data bytes. Every access lands in the trace.
//
// As strict as the real components: a process gets port access only once Fennick_Init and then
// Fennick_LoadDriver succeeded in it, and loses it with Fennick_UnLoadDriver; other accesses
// fail and are recorded as violations. The EC takes a byte only while its input buffer is
// empty: a byte written while it is full is lost, and recorded as a violation. Single reads and
// writes can be scripted to fail.
#include "standin.h"

static uint32_t ThisProcess() { return GetCurrentProcessId(); }

static void Trace(NotebookState* s, bool write, DWORD port, BYTE value, bool failed, BYTE scratchIn)
{
    LONG i = s->traceCount;
    PortAccess& a = s->trace[(uint32_t)i % kTraceCapacity];
    a.write = write;
    a.port = (uint8_t)port;
    a.value = value;
    a.failed = failed;
    a.scratchIn = scratchIn;
    a.timeUs = SimNowUs();
    InterlockedExchange(&s->traceCount, i + 1);
}

// Why the calling process may not touch the ports now, or nullptr when it may. Lock held.
static const char* AccessRefusal(const NotebookState* s)
{
    if (s->driverLoadedPid == ThisProcess()) return nullptr;
    if (s->driverUnloadedPid == ThisProcess()) return "after Fennick_UnLoadDriver";
    return "before Fennick_Init and Fennick_LoadDriver succeeded";
}

static void AccessViolation(NotebookState* s, const char* what, DWORD port, BYTE value,
                            const char* why)
{
    char text[160];
    snprintf(text, sizeof text, "%s 0x%02X, port 0x%02lX, %s", what, value, (unsigned long)port,
             why);
    SimViolation(s, text);
}

static bool InputFull(const NotebookState* s)
{
    return s->ecBehaviour == kEcInputNeverClears || s->inputStuck || s->inputBusyLeft > 0;
}

// A status or data read as the EC answers it. Lock held.
static BYTE Read(NotebookState* s, DWORD port)
{
    if (port == 0x6C) {
        BYTE status = 0;
        if (s->staleOutputBytes > 0 || s->ecBehaviour == kEcOutputNeverClears)
            status |= kEcOutputFull;
        if (InputFull(s)) status |= kEcInputFull;
        if (s->inputBusyLeft > 0) s->inputBusyLeft--;
        return status;
    }
    if (port != 0x68) return 0xFF;
    if (s->staleOutputBytes == 0) return 0x00;
    BYTE v = (BYTE)(0xA0 + s->staleOutputBytes);
    if (--s->staleOutputBytes == 0) {
        s->staleOutputBytes = s->refillOutputBytes;  // once
        s->refillOutputBytes = 0;
    }
    return v;
}

// The EC takes a byte. Lock held.
static void Take(NotebookState* s, DWORD port, BYTE v)
{
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
            if (s->ecBehaviour == kEcInputSticksAfterData2) s->inputStuck = 1;
        }
    } else {
        return;
    }
    s->inputBusyLeft = s->inputBusyReads;
}

extern "C" {

int WINAPI Fennick_Init(const char* configPath)
{
    NotebookState* s = Sim();
    if (s) {
        SimLock(s);
        lstrcpynA(s->initPath, configPath ? configPath : "(null)", sizeof s->initPath);
        SimUnlock(s);
    }
    if (!CountedCall(kCallFennickInit, &NotebookState::initCalls, &NotebookState::failInit))
        return 0;
    s->initDonePid = ThisProcess();
    return 1;
}

int WINAPI Fennick_LoadDriver(void)
{
    if (!CountedCall(kCallFennickLoadDriver, &NotebookState::loadDriverCalls,
                     &NotebookState::failLoadDriver))
        return 0;
    if (s_sim->initDonePid != ThisProcess()) {
        SimViolation(s_sim, "Fennick_LoadDriver before Fennick_Init succeeded");
        return 0;
    }
    s_sim->driverLoadedPid = ThisProcess();
    return 1;
}

int WINAPI Fennick_UnLoadDriver(void)
{
    if (!CountedCall(kCallFennickUnLoadDriver, &NotebookState::unloadDriverCalls)) return 0;
    if (s_sim->driverLoadedPid != ThisProcess()) {
        SimViolation(s_sim, "Fennick_UnLoadDriver with no driver loaded");
        return 0;
    }
    s_sim->driverLoadedPid = 0;
    s_sim->driverUnloadedPid = ThisProcess();
    return 1;
}

int WINAPI Fennick_InputByteValue(DWORD port, BYTE* value)
{
    NotebookState* s = Sim();
    if (!s || !value) return 0;
    ReenterIfScripted(kReenterInPortRead);
    SimLock(s);
    const char* refusal = AccessRefusal(s);
    uint32_t number = ++s->portReads;
    bool fail = refusal || number == s->failReadAt;
    BYTE v = fail ? *value : Read(s, port);  // a failed read leaves the caller's byte alone
    Trace(s, false, port, v, fail, 0);
    SimUnlock(s);
    if (refusal) AccessViolation(s, "read giving", port, v, refusal);
    if (fail) return 0;
    *value = v;
    return 1;
}

int WINAPI Fennick_OutputByteValue(DWORD port, DWORD value, BYTE* scratch)
{
    NotebookState* s = Sim();
    if (!s) return 0;
    ReenterIfScripted(kReenterInPortWrite);
    BYTE v = (BYTE)value;
    SimLock(s);
    const char* refusal = AccessRefusal(s);
    uint32_t number = ++s->portWrites;
    bool fail = refusal || number == s->failWriteAt;
    bool lost = !fail && InputFull(s);
    Trace(s, true, port, v, fail, scratch ? *scratch : 0);
    if (!fail && !lost) Take(s, port, v);
    SimUnlock(s);
    if (refusal) AccessViolation(s, "write of", port, v, refusal);
    if (lost) AccessViolation(s, "write of", port, v, "lost: the EC's input buffer was full");
    if (!scratch) SimViolation(s, "Fennick_OutputByteValue without a scratch byte");
    if (fail) return 0;
    if (scratch) *scratch = v;  // the library may use the caller's byte as it likes
    return 1;
}

}  // extern "C"
