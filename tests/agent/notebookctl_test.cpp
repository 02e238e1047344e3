// notebookctl, the program that scripts the simulated notebook, driving the full agent as the
// demo does: what its EC settings leave behind, and what its sweep says about each step.
#include "agent_harness.h"

// The line a sweep printed for its only step.
static std::string SweepLine(const std::string& steps)
{
    std::string out = Notebookctl("sweep " + steps);
    size_t end = out.find_last_not_of('\n');
    size_t start = out.rfind('\n', end);
    return out.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start + 1));
}

static ::testing::AssertionResult Contains(const std::string& text, const std::string& part)
{
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << text << "\" lacks \"" << part << "\"";
}

TEST_F(AgentProgramTest, NotebookctlEcIdleClearsAnInputBufferLeftFull)
{
    Program agent;
    ASSERT_TRUE(Launch(Install("ctl-ec", kW7, "win7", {"Fennick.dll", "Pernet.dll"}), &agent));
    Notebookctl("ec sticky-after-data");
    // The second data byte leaves the EC's input buffer full: no closing byte.
    EXPECT_TRUE(Contains(SweepLine("50"), "EC: 45 8B 03   (no closing byte"));
    Notebookctl("ec idle");
    EXPECT_TRUE(Contains(SweepLine("90"), "EC: 45 8B 05 FF"));
    EXPECT_EQ(5u, s->ledLevel);
    EXPECT_EQ(2u, s->ledCommands);
    CloseAndExpectExit(agent);
}

TEST_F(AgentProgramTest, NotebookctlSweepSaysWhichKeyControllerCallFailed)
{
    // The key controller fails at the agent's start: one agent each.
    const struct {
        uint32_t failInit, failLoad;
        const char* line;
    } starts[] = {
        {1, 0, "nothing sent: the key controller is not ready (Fennick_Init failed)"},
        {0, 1, "nothing sent: the key controller is not ready (Fennick_LoadDriver failed)"},
    };
    for (const auto& c : starts) {
        ResetNotebook();
        s->failInit = c.failInit;
        s->failLoadDriver = c.failLoad;
        Program agent;
        ASSERT_TRUE(
            Launch(Install("ctl-sweep", kW7, "win7", {"Fennick.dll", "Pernet.dll"}), &agent));
        EXPECT_TRUE(Contains(SweepLine("50"), c.line));
        CloseAndExpectExit(agent);
    }
}

TEST_F(AgentProgramTest, NotebookctlSweepSaysWhyTheEcGotNothing)
{
    // One agent through a series of settings; each step a level of its own, since the agent
    // holds back a level it tried within 500 ms whatever became of it.
    Program agent;
    ASSERT_TRUE(Launch(Install("ctl-sweep", kW7, "win7", {"Fennick.dll", "Pernet.dll"}), &agent));
    const struct {
        const char* setting;  // notebookctl arguments before the step, or ""
        const char* step;
        const char* line;
    } steps[] = {
        {"ec input-stuck", "50", "nothing sent: the EC's input buffer stayed full"},
        {"ec output-stuck", "70", "nothing sent: the EC's output buffer did not empty"},
        {"ec input-busy 10", "30",
         "EC: 45   command incomplete: the EC's input buffer stayed full"},
        {"ec input-busy 9", "10", "EC: 45 8B 00 FF"},
        {"fail write 2", "90", "EC: 45 8B!   command incomplete: writing 8B to port 0x68 failed"},
        {"fail none", "100", "EC: 45 8B 06 FF"},
        {"fail volume", "60", "nothing sent: the agent could not read the volume"},
    };
    for (const auto& c : steps) {
        if (*c.setting) Notebookctl(c.setting);
        EXPECT_TRUE(Contains(SweepLine(c.step), c.line)) << "after \"" << c.setting << "\"";
    }
    // The same level again at once is held back, and only that is blamed on the repeat rule.
    // (Where the machine takes more than 500 ms from one step to the next, it goes out again.)
    Notebookctl("fail none");
    std::string again = SweepLine("80 80");
    EXPECT_TRUE(Contains(again, "nothing sent (same level within 500 ms)") ||
                Contains(again, "EC: 45 8B 05 FF"))
        << again;
    CloseAndExpectExit(agent);
}
