// Benchmark of the full agent on the simulated notebook (endpoint mode). Prints figures only:
// LED latency from a volume change to the EC's closing byte, the EC commands a burst of
// notifications of one level costs and the agent's CPU time while idle (scripts/bench adds the
// sizes of the 32-bit programs).
#include "agent_harness.h"
#include <algorithm>
#include <stdlib.h>

static NotebookState* s_sim;

static double CpuMs(HANDLE process)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime, k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime, u.HighPart = user.dwHighDateTime;
    return (double)(k.QuadPart + u.QuadPart) / 10000.0;
}

int main(int argc, char** argv)
{
    int idleSeconds = argc > 1 ? atoi(argv[1]) : 10;
    s_sim = OpenTestNotebook();
    if (!s_sim || SimAgentWindow()) {
        fprintf(stderr, "agent_bench: no simulation, or an agent is already running\n");
        return 1;
    }
    std::string dir =
        MakeProgramFolder("bench", {"lumetta.exe=lumetta-bench.exe", "Fennick.dll", "Pernet.dll"});
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
        LONG closing = (LONG)s_sim->closingBytes;
        SimSetVolume(s_sim, volume);
        SimRequestVolumeNotes(s_sim, 1);
        if (!WaitUntil([&] { return (LONG)s_sim->closingBytes > closing; }, kWaitMs)) {
            fprintf(stderr, "agent_bench: no LED command for volume %d\n", volume);
            break;
        }
        latencies.push_back((double)(s_sim->lastClosingUs - s_sim->volumeChangeUs) / 1000.0);
    }
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty())
        printf("LED latency over %zu level changes: median %.1f ms, max %.1f ms "
               "(floor of the protocol's pauses: 50 ms)\n",
               latencies.size(), latencies[latencies.size() / 2], latencies.back());

    // A burst of notifications that keep one level.
    Sleep(600);  // past the repeat rule's hold, so the burst's level is sent once
    LONG reads = s_sim->getVolumeCalls;
    uint32_t commands = s_sim->ledCommands;
    s_sim->volume = 45;
    SimRequestVolumeNotes(s_sim, 100);
    if (WaitUntil([&] { return s_sim->getVolumeCalls >= reads + 100; }, kWaitMs)) {
        SimSyncWithWindow(window, kWaitMs);
        printf("100 notifications of one level: %u EC command(s)\n", s_sim->ledCommands - commands);
    } else {
        printf("100 notifications of one level: only %ld reads\n", s_sim->getVolumeCalls - reads);
    }

    // CPU time while idle.
    double before = CpuMs(agent.process);
    Sleep((DWORD)idleSeconds * 1000);
    double after = CpuMs(agent.process);
    printf("CPU time over %d s idle: %.1f ms (total since start %.1f ms)\n", idleSeconds,
           after - before, after);

    CleanUpProgram(agent);
    return 0;
}
