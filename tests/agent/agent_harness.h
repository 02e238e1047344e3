// Helpers of the agent's tests and benchmark: each test process gets a simulated notebook of its
// own (named after the process); whole-program tests get folders of program files and a fixture
// that cleans up whatever a test started.
#pragma once
#include "notebook_sim.h"
#include "test_support.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

// Bound on every wait for the agent; failure messages say it. Room for the emulated guest
// under load, where a program's first start alone was seen to take over 10 s.
const DWORD kWaitMs = 30000;

// Names this process's simulation and maps it, zero-filled.
NotebookState* OpenTestNotebook();

// A fresh folder under the build tree holding copies of files from bin/: each entry is
// "source" or "source=target name".
std::string MakeProgramFolder(const std::string& name, const std::vector<std::string>& files);

struct Program {
    HANDLE process = nullptr;
    DWORD pid = 0;
    HWND window = nullptr;  // the agent's, once found
};

// Starts a program; currentDir "" runs it in its own folder.
Program StartProgram(const std::string& path, const std::string& currentDir = "");
// Waits for the agent's window and for the end of its creation.
HWND WaitForAgentWindow(DWORD ms = kWaitMs);
// Ends what a test or the benchmark may have left running.
void CleanUpProgram(Program& p);
// The simulation's call log from index `from` on, as "Fennick_Init, Fennick_LoadDriver, ...".
std::string CallLogText(const NotebookState* s, uint32_t from = 0);
// Port accesses of the EC since the trace was last cleared, as "r6C=00 w6C=45 ..."; a failed
// access ends in "!".
std::string TraceText(const NotebookState* s);
// Fails the test when a stand-in recorded a breach of its rules (port access without a loaded
// driver, a byte written to a busy EC, ...).
void ExpectNoViolation(const NotebookState* s, const std::string& what = "");
// Checks for violations, then zero-fills the simulation for the next configuration.
void ClearNotebook(NotebookState* s, const std::string& what = "");
// Runs bin/notebookctl.exe on this process's simulation; gives its output without "\r" and
// checks its exit code.
std::string Notebookctl(const std::string& arguments, DWORD expectedExitCode = 0);

// Unit tests: a fresh simulated notebook for the stand-ins linked into the test; at the end,
// no stand-in may have recorded a violation.
class NotebookTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    NotebookState* s = nullptr;
};

// Agent copies for AgentProgramTest::Install, each under a name of its own for its Windows version.
const char* const kW7 = "lumetta.exe=lumetta-w7.exe";
const char* const kXp = "lumetta.exe=lumetta-xp.exe";
const char* const kLegacy = "lumetta-legacy.exe";

// Whole programs under Wine.
class AgentProgramTest : public NotebookTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh folder with the stand-ins and an agent copy ("lumetta.exe=x.exe" or
    // "lumetta-legacy.exe") whose Windows version is set (nullptr: left alone); gives its path.
    std::string Install(const std::string& folder, const std::string& agentCopy,
                        const char* version, const std::vector<std::string>& standins);
    // A name for a folder whose full path is `length` characters long.
    std::string FolderNameOfLength(size_t length);
    Program Start(const std::string& path, const std::string& currentDir = "");
    // Starts the agent; true once its window exists, belongs to it and has been created.
    bool Launch(const std::string& path, Program* p, const std::string& currentDir = "");
    // Checks that a program ends by itself with exit code 0.
    void ExpectExitsAtOnce(const Program& p, const std::string& what);
    // Asks the agent to close and checks that it exits with code 0.
    void CloseAndExpectExit(const Program& p);
    // Closes the agent as a user would, with "taskkill /im exeName" (no /f), and checks that
    // it exits with code 0.
    void CloseByTaskkillAndExpectExit(const Program& p, const std::string& exeName);
    // Waits until counter passes `before`, then until the agent's handler has returned.
    void WaitForAgent(const Program& agent, volatile LONG* counter, LONG before,
                      const std::string& what);
    // Resets the simulation between configurations of one test (no agent may run).
    void ResetNotebook();

    std::vector<Program> programs;
};
