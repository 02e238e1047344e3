// Helpers for tests that drive the agent as a whole program under Wine: each test gets its own
// simulated notebook (named after the test process) and its own folder of program files.
#pragma once
#include "notebook_sim.h"
#include <functional>
#include <string>
#include <vector>

// Names this process's simulation and maps it, zero-filled.
NotebookState *OpenTestNotebook();

std::string BinDir();   // where the test program, the agent and the stand-ins were built

// A fresh folder under the build tree holding copies of files from bin/: each entry is
// "source" or "source=target name".
std::string MakeProgramFolder(const std::string &name, const std::vector<std::string> &files);

// Windows version Wine reports to a program, by its file name ("winxp", "win7").
void SetWindowsVersion(const std::string &exeName, const char *version);

struct Program {
    HANDLE process = nullptr;
    DWORD pid = 0;
};

// Starts a program; folder "" runs it in its own folder.
Program StartProgram(const std::string &path, const std::string &currentDir = "");
// Waits for the end of a program and gives its exit code; false on time-out.
bool WaitForExit(const Program &p, DWORD ms, DWORD *exitCode);
bool WaitUntil(const std::function<bool()> &done, DWORD ms);
HWND FindAgentWindow();
// Waits for the agent's window and for the end of its creation.
HWND WaitForAgentWindow(DWORD ms = 10000);
// Returns once the agent's thread has finished the messages it was handling.
void SyncWithAgent(HWND window);
// Ends what a test may have left running: asks the agent to close, then ends the process.
void CleanUpProgram(Program &p);
// The simulation's call log from index `from` on.
std::vector<uint32_t> CallLog(const NotebookState *s, uint32_t from = 0);
std::string CallLogText(const std::vector<uint32_t> &calls);
// Port accesses of the EC since the trace was last cleared, as "r6C=00 w6C=45 ..."
std::string TraceText(const NotebookState *s);

const DWORD kWaitMs = 10000;   // bound on every wait for the agent; failure messages say it
