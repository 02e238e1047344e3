// Benchmark of the full agent on the simulated notebook (endpoint mode). Prints figures only:
// LED latency from a volume change to the EC's closing byte, the EC commands a burst of
// notifications of one level costs, the agent's CPU time while idle, and the programs' sizes.
#include "agent_harness.h"
#include <algorithm>
#include <stdlib.h>

static NotebookState *s;

static bool WaitCounter(volatile LONG *counter, LONG target, DWORD ms)
{
    return WaitUntil([&] { return *counter >= target; }, ms);
}

static double CpuMs(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return -1;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime, k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime, u.HighPart = user.dwHighDateTime;
    return (double)(k.QuadPart + u.QuadPart) / 10000.0;
}

static long FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA a;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a) ? (long)a.nFileSizeLow : -1;
}

int main(int argc, char **argv)
{
    int idleSeconds = argc > 1 ? atoi(argv[1]) : 10;
    s = OpenTestNotebook();
    if (!s || FindAgentWindow()) {
        fprintf(stderr, "agent_bench: no simulation, or an agent is already running\n");
        return 1;
    }
    std::string dir = MakeProgramFolder("bench", {"lumetta.exe=lumetta-bench.exe", "Fennick.dll",
                                                  "Pernet.dll"});
    SetWindowsVersion("lumetta-bench.exe", "win7");
    Program agent = StartProgram(dir + "\\lumetta-bench.exe");
    HWND window = WaitForAgentWindow(kWaitMs);
    if (!window) {
        fprintf(stderr, "agent_bench: the agent did not start\n");
        CleanUpProgram(agent);
        return 1;
    }

    // LED latency over 50 level changes; each step changes the level.
    static const int kVolumes[] = {5, 15, 30, 50, 70, 90, 100};
    std::vector<double> latencies;
    for (int i = 0; i < 50; i++) {
        int volume = kVolumes[i % 7];
        LONG closing = (LONG)s->closingBytes;
        SimLock(s);
        s->volume = volume;
        s->volumeChangeUs = SimNowUs();
        SimUnlock(s);
        SimRequestVolumeNotes(s, 1);
        if (!WaitUntil([&] { return (LONG)s->closingBytes > closing; }, kWaitMs)) {
            fprintf(stderr, "agent_bench: no LED command for volume %d\n", volume);
            break;
        }
        latencies.push_back((double)(s->lastClosingUs - s->volumeChangeUs) / 1000.0);
    }
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty())
        printf("LED latency over %zu level changes: median %.1f ms, max %.1f ms "
               "(floor of the protocol's pauses: 50 ms)\n",
               latencies.size(), latencies[latencies.size() / 2], latencies.back());

    // A burst of notifications that keep one level.
    Sleep(600);   // past the repeat rule's hold, so the burst's level is sent once
    LONG reads = s->getVolumeCalls;
    uint32_t commands = s->ledCommands;
    s->volume = 45;
    SimRequestVolumeNotes(s, 100);
    if (WaitCounter(&s->getVolumeCalls, reads + 100, kWaitMs)) {
        SyncWithAgent(window);
        printf("100 notifications of one level: %u EC command(s)\n", s->ledCommands - commands);
    } else {
        printf("100 notifications of one level: only %ld reads\n", s->getVolumeCalls - reads);
    }

    // CPU time while idle.
    double before = CpuMs(agent.process);
    Sleep((DWORD)idleSeconds * 1000);
    double after = CpuMs(agent.process);
    printf("CPU time over %d s idle: %.1f ms (total since start %.1f ms)\n", idleSeconds,
           after - before, after);

    CleanUpProgram(agent);
    printf("sizes of this %d-bit build's programs: lumetta.exe %ld bytes, lumetta-legacy.exe %ld "
           "bytes\n",
           (int)sizeof(void *) * 8, FileSize(BinDir() + "\\lumetta.exe"),
           FileSize(BinDir() + "\\lumetta-legacy.exe"));
    return 0;
}
