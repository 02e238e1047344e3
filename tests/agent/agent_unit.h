// What the agent's unit tests share: the agent's process-wide values put back before and
// after every test (also one that an assertion ended early), and a window of the test's own
// that runs the agent's window procedure for every message but creation and destruction.
#pragma once
#include "agent_harness.h"

// The key controller not ready, no LED command sent yet, the EC channel's 10 ms pauses
// skipped (no test waits them out), the real tick count, the program's own instance; in the
// full build also no audio library bound and mixer mode.
void ResetAgentState();

class AgentUnitTest : public NotebookTest {
protected:
    void SetUp() override
    {
        NotebookTest::SetUp();
        ResetAgentState();
    }
    void TearDown() override
    {
        ResetAgentState();
        NotebookTest::TearDown();
    }
};

// A message-only window whose procedure hands all but WM_CREATE and WM_DESTROY to the agent's.
HWND CreateAgentTestWindow();
// Takes whatever waits in this thread's queue; returns how many messages for `window` it held.
int DrainQueue(HWND window);

// A library that pumps messages while the agent waits on it re-enters the window procedure
// with the volume-changed message queued meanwhile: with the stand-in told where to pump,
// posts and then sends that message, and checks that the nested call read the volume once
// (`reads`) and one LED command for level 3 went out whole. Gives the sent message's result.
LRESULT ExpectOneCommandThoughReentered(HWND window, NotebookState* s, const char* what,
                                        SimReenterPoint point, uint32_t at,
                                        volatile LONG NotebookState::*reads);
