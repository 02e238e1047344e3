// notebookctl: scripts the simulated notebook from outside the agent, and shows what the agent
// did with it. The simulation is chosen by the environment variable NOTEBOOK_SIM.
#include "notebook_sim.h"
#include <stdlib.h>
#include <string>

static NotebookState* s_sim;

// Bound on the wait for the agent to read the volume and finish with it (an emulated machine
// under load can take seconds).
const DWORD kAgentAnswerMs = 15000;

static void Usage()
{
    puts("usage: notebookctl COMMAND [ARGS]\n"
         "  wait-window [ms]        wait until the agent's window exists\n"
         "  close [ms]              ask the agent to close and wait until its window is gone\n"
         "  volume PERCENT          set the endpoint volume and report the change\n"
         "  mixer MAX MIN VALUE...  set the mixer range and channels and report the change\n"
         "  device-changed | device-removed   report a device event\n"
         "  ec idle | stale N [REFILL] | output-stuck | input-stuck | sticky-after-data |\n"
         "     input-busy N         the EC from now on (what the last setting left goes);\n"
         "                          REFILL bytes come once the N stale ones were read;\n"
         "                          input-busy: input full for N status reads after each byte\n"
         "  fail none | init | load | volume | read N | write N\n"
         "                          make a call fail: Fennick_Init, Fennick_LoadDriver,\n"
         "                          Pernet_GetVolumeLevel, or the Nth port read or write from now\n"
         "  status | trace          show the EC's LED level, counters and violations, or the\n"
         "                          port trace (a failed access ends in !)\n"
         "  sweep STEP...           for each step (a volume, or wait:MS), set the volume, let\n"
         "                          the agent handle it and print one line of what the EC got,\n"
         "                          or why it got nothing");
}

// Why the agent cannot reach the EC, or nullptr when its key controller is ready.
static const char* KeyControllerTrouble()
{
    if (s_sim->driverLoadedPid) return nullptr;
    if (s_sim->initCalls == 0) return "Fennick_Init was not called";
    if (!s_sim->initDonePid) return "Fennick_Init failed";
    if (s_sim->driverUnloadedPid) return "its driver was unloaded";
    if (s_sim->loadDriverCalls == 0) return "Fennick_LoadDriver was not called";
    return "Fennick_LoadDriver failed";
}

static void PrintStatus()
{
    printf("LED level: ");
    if (s_sim->ledLevelKnown)
        printf("%u\n", s_sim->ledLevel);
    else
        printf("never set\n");
    printf("LED commands: %u, command bytes: %u, closing bytes: %u, port accesses: %ld\n",
           s_sim->ledCommands, s_sim->commandBytes, s_sim->closingBytes, s_sim->traceCount);
    const char* trouble = KeyControllerTrouble();
    printf("Fennick: init %u (\"%s\"), load %u, unload %u; %s%s\n", s_sim->initCalls,
           s_sim->initPath, s_sim->loadDriverCalls, s_sim->unloadDriverCalls,
           trouble ? "not ready: " : "ready", trouble ? trouble : "");
    printf("Pernet: volume %d%%, reads %ld; Oskal: reads %ld\n", s_sim->volume,
           s_sim->getVolumeCalls, s_sim->maxMinCalls);
    printf("violations: %u%s%s\n", s_sim->violations, s_sim->violations ? ", the first: " : "",
           s_sim->violations ? s_sim->firstViolation : "");
    printf("calls:");
    for (uint32_t i = 0; i < s_sim->callCount && i < kCallLogCapacity; i++)
        printf(" %s;", SimCallName(s_sim->calls[i]));
    printf("\n");
}

static void PrintTrace()
{
    LONG count = s_sim->traceCount;
    LONG first = count > (LONG)kTraceCapacity ? count - (LONG)kTraceCapacity : 0;
    for (LONG i = first; i < count; i++) {
        const PortAccess& a = s_sim->trace[(uint32_t)i % kTraceCapacity];
        printf("%s 0x%02X %s 0x%02X\n", a.write ? "write" : "read ", a.port, a.write ? "<-" : "->",
               a.value);
    }
}

static const PortAccess& TraceAt(LONG i) { return s_sim->trace[(uint32_t)i % kTraceCapacity]; }

// Why the port accesses from `first` on did not deliver a whole LED command with its closing
// byte; "" when they did. The EC's last answer tells which buffer it kept full.
static std::string EcTrouble(LONG first, bool commandTaken)
{
    LONG end = s_sim->traceCount;
    bool closed = end > first && TraceAt(end - 1).write && TraceAt(end - 1).value == 0xFF;
    if (end > first && closed && !TraceAt(end - 1).failed) return "";
    char text[96];
    if (end > first && TraceAt(end - 1).write && TraceAt(end - 1).failed) {
        const PortAccess& a = TraceAt(end - 1);
        snprintf(text, sizeof text, "writing %02X to port 0x%02X failed", a.value, a.port);
        return text;
    }
    BYTE status = 0;
    for (LONG i = end - 1; i >= first; i--) {
        if (!TraceAt(i).write && TraceAt(i).port == 0x6C) {
            status = TraceAt(i).value;
            break;
        }
    }
    const char* why = status & kEcOutputFull  ? "the EC's output buffer did not empty"
                      : status & kEcInputFull ? "the EC's input buffer stayed full"
                                              : "the agent stopped";
    if (commandTaken)
        snprintf(text, sizeof text, "no closing byte: %s", why);
    else
        snprintf(text, sizeof text, "%s", why);
    return text;
}

// One step of the sweep: returns false when the agent did not react.
static bool SweepStep(HWND window, int percent)
{
    LONG reads = s_sim->getVolumeCalls;
    LONG traceStart = s_sim->traceCount;
    uint32_t commands = s_sim->ledCommands;
    SimSetVolume(s_sim, percent);
    SimRequestVolumeNotes(s_sim, 1);
    if (!SimWaitUntil([&] { return s_sim->getVolumeCalls != reads; }, kAgentAnswerMs)) {
        printf("volume %3d %%   the agent did not read the volume within %lu ms\n", percent,
               (unsigned long)kAgentAnswerMs);
        return false;
    }
    SimSyncWithWindow(window, kAgentAnswerMs);  // until the handler that read it has returned

    char bar[8];
    for (int i = 0; i < 7; i++)
        bar[i] = s_sim->ledLevelKnown && (uint32_t)i <= s_sim->ledLevel ? '#' : '.';
    bar[7] = '\0';
    printf("volume %3d %%   LED [%s] %c   EC:", percent, bar,
           s_sim->ledLevelKnown ? (char)('0' + s_sim->ledLevel) : '-');
    int written = 0;
    for (LONG i = traceStart; i < s_sim->traceCount; i++) {
        const PortAccess& a = TraceAt(i);
        if (a.write) {
            printf(" %02X%s", a.value, a.failed ? "!" : "");
            written++;
        }
    }
    bool commandTaken = s_sim->ledCommands != commands;
    if (s_sim->traceCount == traceStart) {
        // The agent did not touch the EC: it could not, it read no volume, or it held the
        // level back.
        const char* trouble = KeyControllerTrouble();
        if (trouble)
            printf(" nothing sent: the key controller is not ready (%s)", trouble);
        else if (s_sim->failGetVolume)
            printf(" nothing sent: the agent could not read the volume");
        else
            printf(" nothing sent (same level within 500 ms)");
    } else {
        std::string trouble = EcTrouble(traceStart, commandTaken);
        if (!trouble.empty())
            printf("%s%s", written ? "   " : " ",
                   (!written       ? "nothing sent: " + trouble
                    : commandTaken ? "(" + trouble + ")"
                                   : "command incomplete: " + trouble)
                       .c_str());
    }
    printf("\n");
    fflush(stdout);
    return true;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        Usage();
        return 2;
    }
    HANDLE mapping;
    s_sim = SimOpen(&mapping);
    if (!s_sim) {
        fprintf(stderr, "notebookctl: cannot map the simulation\n");
        return 1;
    }
    const char* cmd = argv[1];
    if (!strcmp(cmd, "wait-window") || !strcmp(cmd, "close")) {
        DWORD ms = argc > 2 ? (DWORD)atoi(argv[2]) : 10000;
        bool closing = !strcmp(cmd, "close");
        if (closing) {
            HWND w = SimAgentWindow();
            if (w) PostMessageA(w, WM_USER + 1, 0, 0);
        }
        bool done = SimWaitUntil([&] { return (SimAgentWindow() == nullptr) == closing; }, ms);
        // Found during its creation, the window answers a sent message once the agent runs.
        if (done && !closing) SimSyncWithWindow(SimAgentWindow(), ms);
        if (!done) {
            fprintf(stderr, "notebookctl: the agent's window %s within %lu ms\n",
                    closing ? "is still there" : "did not appear", (unsigned long)ms);
            return 1;
        }
    } else if (!strcmp(cmd, "volume") && argc == 3) {
        SimSetVolume(s_sim, atoi(argv[2]));
        SimRequestVolumeNotes(s_sim, 1);
    } else if (!strcmp(cmd, "mixer") && argc >= 4) {
        SimLock(s_sim);
        s_sim->mixerMax = strtoul(argv[2], nullptr, 0);
        s_sim->mixerMin = strtoul(argv[3], nullptr, 0);
        s_sim->channelCount = 0;
        for (int i = 4; i < argc && s_sim->channelCount < kMaxChannels; i++)
            s_sim->channels[s_sim->channelCount++] = strtoul(argv[i], nullptr, 0);
        SimUnlock(s_sim);
        SimRequestMixerNotes(s_sim, 1);
    } else if (!strcmp(cmd, "device-changed")) {
        SimRequestDeviceEvents(s_sim, 1, 0);
    } else if (!strcmp(cmd, "device-removed")) {
        SimRequestDeviceEvents(s_sim, 0, 1);
    } else if (!strcmp(cmd, "ec") && argc >= 3) {
        const char* b = argv[2];
        uint32_t n = argc > 3 ? (uint32_t)atoi(argv[3]) : 0;
        if (!strcmp(b, "output-stuck"))
            SimSetEcBehaviour(s_sim, kEcOutputNeverClears);
        else if (!strcmp(b, "input-stuck"))
            SimSetEcBehaviour(s_sim, kEcInputNeverClears);
        else if (!strcmp(b, "sticky-after-data"))
            SimSetEcBehaviour(s_sim, kEcInputSticksAfterData2);
        else if (!strcmp(b, "stale"))
            SimSetEcBehaviour(s_sim, kEcIdle, n, argc > 4 ? (uint32_t)atoi(argv[4]) : 0);
        else if (!strcmp(b, "input-busy"))
            SimSetEcBehaviour(s_sim, kEcIdle, 0, 0, n);
        else if (!strcmp(b, "idle"))
            SimSetEcBehaviour(s_sim, kEcIdle);
        else {
            Usage();
            return 2;
        }
    } else if (!strcmp(cmd, "fail") && argc >= 3) {
        const char* what = argv[2];
        uint32_t n = argc > 3 ? (uint32_t)atoi(argv[3]) : 0;
        static const char* const kWhats[] = {"none", "init", "load", "volume", "read", "write"};
        bool known = false;
        for (const char* w : kWhats) known = known || !strcmp(what, w);
        if (!known) {
            Usage();
            return 2;
        }
        SimLock(s_sim);
        s_sim->failInit = !strcmp(what, "init");
        s_sim->failLoadDriver = !strcmp(what, "load");
        s_sim->failGetVolume = !strcmp(what, "volume");
        // Numbered from now: the agent's next read or write is number 1.
        s_sim->failReadAt = !strcmp(what, "read") && n ? s_sim->portReads + n : 0;
        s_sim->failWriteAt = !strcmp(what, "write") && n ? s_sim->portWrites + n : 0;
        SimUnlock(s_sim);
    } else if (!strcmp(cmd, "status")) {
        PrintStatus();
    } else if (!strcmp(cmd, "trace")) {
        PrintTrace();
    } else if (!strcmp(cmd, "sweep")) {
        HWND window = SimAgentWindow();
        if (!window) {
            fprintf(stderr, "notebookctl: no agent window\n");
            return 1;
        }
        for (int i = 2; i < argc; i++) {
            if (!strncmp(argv[i], "wait:", 5)) {
                printf("               ... %d ms later:\n", atoi(argv[i] + 5));
                fflush(stdout);
                Sleep((DWORD)atoi(argv[i] + 5));
                continue;
            }
            if (!SweepStep(window, atoi(argv[i]))) return 1;
        }
    } else {
        Usage();
        return 2;
    }
    return 0;
}
