// The fixture of the whole-program tests: a simulated notebook of the test's own, program
// folders with the agent and the stand-ins, and clean-up of whatever a test started.
#pragma once
#include "agent_harness.h"
#include <gtest/gtest.h>

class AgentProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A folder with the named agent copy and stand-ins; the agent's Windows version is set.
    std::string Folder(const std::string &name, const std::string &agentCopy, const char *version,
                       const std::vector<std::string> &standins);
    Program Start(const std::string &path, const std::string &currentDir = "");
    // Waits for the agent's window and checks that the given program owns it.
    HWND WaitForWindowOf(const Program &p);
    // Asks the agent to close and checks that it exits with code 0.
    void CloseAndExpectExit(Program &p, HWND window);
    // Waits until counter passes `before`, then until the agent's handler has returned.
    void WaitForAgent(HWND window, volatile LONG *counter, LONG before, const char *what);
    // Resets the simulation between configurations of one test (no agent may run).
    void ResetNotebook();

    NotebookState *s = nullptr;
    std::vector<Program> programs;
};

const char *const kFullFiles[] = {"Fennick.dll", "Oskal.dll", "Pernet.dll"};
