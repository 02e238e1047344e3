// notebookctl: scripts the simulated notebook from outside the agent, and shows what the agent
// did with it. The simulation is chosen by the environment variable NOTEBOOK_SIM.
#include "notebook_sim.h"
#include <stdlib.h>

static NotebookState *s;

static void Usage()
{
    puts("usage: notebookctl COMMAND [ARGS]\n"
         "  wait-window [ms]        wait until the agent's window exists\n"
         "  close [ms]              ask the agent to close and wait until its window is gone\n"
         "  volume PERCENT          set the endpoint volume and report the change\n"
         "  mixer MAX MIN VALUE...  set the mixer range and channels and report the change\n"
         "  device-changed | device-removed   report a device event\n"
         "  ec idle | stale N | output-stuck | input-stuck | sticky-after-data\n"
         "  fail none | init | load\n"
         "  status | trace          show the EC's LED level and counters, or the port trace\n"
         "  sweep STEP...           for each step (a volume, or wait:MS), set the volume, let\n"
         "                          the agent handle it and print one line of what the EC got");
}

static void PrintStatus()
{
    printf("LED level: ");
    if (s->ledLevelKnown)
        printf("%u\n", s->ledLevel);
    else
        printf("never set\n");
    printf("LED commands: %u, command bytes: %u, closing bytes: %u, port accesses: %ld\n",
           s->ledCommands, s->commandBytes, s->closingBytes, s->traceCount);
    printf("Fennick: init %u (\"%s\"), load %u, unload %u\n", s->initCalls, s->initPath,
           s->loadDriverCalls, s->unloadDriverCalls);
    printf("Pernet: volume %d%%, reads %ld; Oskal: reads %ld\n", s->volume, s->getVolumeCalls,
           s->maxMinCalls);
    printf("calls:");
    for (uint32_t i = 0; i < s->callCount && i < kCallLogCapacity; i++)
        printf(" %s;", SimCallName(s->calls[i]));
    printf("\n");
}

static void PrintTrace()
{
    LONG count = s->traceCount;
    LONG first = count > (LONG)kTraceCapacity ? count - (LONG)kTraceCapacity : 0;
    for (LONG i = first; i < count; i++) {
        const PortAccess &a = s->trace[(uint32_t)i % kTraceCapacity];
        printf("%s 0x%02X %s 0x%02X\n", a.write ? "write" : "read ", a.port, a.write ? "<-" : "->",
               a.value);
    }
}

// One step of the sweep: returns false when the agent did not react.
static bool SweepStep(HWND window, int percent)
{
    LONG reads = s->getVolumeCalls;
    LONG traceStart = s->traceCount;
    SimSetVolume(s, percent);
    SimRequestVolumeNotes(s, 1);
    if (!SimWaitUntil([&] { return s->getVolumeCalls != reads; }, 5000)) {
        printf("volume %3d %%   the agent did not read the volume within 5 s\n", percent);
        return false;
    }
    SimSyncWithWindow(window, 5000);   // until the handler that read the volume has returned

    char bar[8];
    for (int i = 0; i < 7; i++)
        bar[i] = s->ledLevelKnown && (uint32_t)i <= s->ledLevel ? '#' : '.';
    bar[7] = '\0';
    printf("volume %3d %%   LED [%s] %c   EC:", percent, bar,
           s->ledLevelKnown ? (char)('0' + s->ledLevel) : '-');
    int written = 0;
    for (LONG i = traceStart; i < s->traceCount; i++) {
        const PortAccess &a = s->trace[(uint32_t)i % kTraceCapacity];
        if (a.write) {
            printf(" %02X", a.value);
            written++;
        }
    }
    if (!written)
        printf(" nothing sent (same level within 500 ms)");
    printf("\n");
    fflush(stdout);
    return true;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        Usage();
        return 2;
    }
    HANDLE mapping;
    s = SimOpen(&mapping);
    if (!s) {
        fprintf(stderr, "notebookctl: cannot map the simulation\n");
        return 1;
    }
    const char *cmd = argv[1];
    if (!strcmp(cmd, "wait-window") || !strcmp(cmd, "close")) {
        DWORD ms = argc > 2 ? (DWORD)atoi(argv[2]) : 10000;
        bool closing = !strcmp(cmd, "close");
        if (closing) {
            HWND w = SimAgentWindow();
            if (w)
                PostMessageA(w, WM_USER + 1, 0, 0);
        }
        bool done = SimWaitUntil([&] { return (SimAgentWindow() == nullptr) == closing; }, ms);
        // Found during its creation, the window answers a sent message once the agent runs.
        if (done && !closing)
            SimSyncWithWindow(SimAgentWindow(), ms);
        if (!done) {
            fprintf(stderr, "notebookctl: the agent's window %s within %lu ms\n",
                    closing ? "is still there" : "did not appear", (unsigned long)ms);
            return 1;
        }
    } else if (!strcmp(cmd, "volume") && argc == 3) {
        SimSetVolume(s, atoi(argv[2]));
        SimRequestVolumeNotes(s, 1);
    } else if (!strcmp(cmd, "mixer") && argc >= 4) {
        SimLock(s);
        s->mixerMax = strtoul(argv[2], nullptr, 0);
        s->mixerMin = strtoul(argv[3], nullptr, 0);
        s->channelCount = 0;
        for (int i = 4; i < argc && s->channelCount < kMaxChannels; i++)
            s->channels[s->channelCount++] = strtoul(argv[i], nullptr, 0);
        SimUnlock(s);
        SimRequestMixerNotes(s, 1);
    } else if (!strcmp(cmd, "device-changed")) {
        SimRequestDeviceEvents(s, 1, 0);
    } else if (!strcmp(cmd, "device-removed")) {
        SimRequestDeviceEvents(s, 0, 1);
    } else if (!strcmp(cmd, "ec") && argc >= 3) {
        SimLock(s);
        const char *b = argv[2];
        s->ecBehaviour = !strcmp(b, "output-stuck")        ? EcOutputNeverClears
                         : !strcmp(b, "input-stuck")       ? EcInputNeverClears
                         : !strcmp(b, "sticky-after-data") ? EcInputSticksAfterData2
                                                           : EcIdle;
        s->staleOutputBytes = !strcmp(b, "stale") && argc > 3 ? (uint32_t)atoi(argv[3]) : 0;
        SimUnlock(s);
    } else if (!strcmp(cmd, "fail") && argc == 3) {
        s->failInit = !strcmp(argv[2], "init");
        s->failLoadDriver = !strcmp(argv[2], "load");
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
            if (!SweepStep(window, atoi(argv[i])))
                return 1;
        }
    } else {
        Usage();
        return 2;
    }
    return 0;
}
