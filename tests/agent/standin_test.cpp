// The Fennick stand-in is as strict as the real library: port access outside a loaded driver,
// and bytes the EC cannot take, are recorded as violations, which every agent test checks for.
#include "agent_unit.h"
#include "led_channel.h"
#include "outside_libraries.h"
#include <functional>
#include <gtest/gtest-spi.h>

using StrictStandInTest = AgentUnitTest;

static NotebookState* s_checked;  // for the check run under EXPECT_NONFATAL_FAILURE

TEST_F(StrictStandInTest, BreachesOfTheKeyControllersRulesAreViolations)
{
    BYTE b = 0, scratch = 0;
    auto start = [] {
        Fennick_Init("C:\\Callow.CFG");
        Fennick_LoadDriver();
    };
    const struct {
        const char* what;
        std::function<void()> steps;
        const char* violation;  // the first one recorded; "" for none
    } cases[] = {
        {"started, then a read and a write",
         [&] {
             start();
             Fennick_InputByteValue(0x6C, &b);
             Fennick_OutputByteValue(0x6C, 0x45, &scratch);
         },
         ""},
        {"a read before Fennick_Init", [&] { Fennick_InputByteValue(0x6C, &b); },
         "read giving 0x00, port 0x6C, before Fennick_Init and Fennick_LoadDriver succeeded"},
        {"a write after a failed Fennick_LoadDriver",
         [&] {
             s->failLoadDriver = 1;
             start();
             Fennick_OutputByteValue(0x68, 0x8B, &scratch);
         },
         "write of 0x8B, port 0x68, before Fennick_Init and Fennick_LoadDriver succeeded"},
        {"Fennick_LoadDriver before Fennick_Init", [&] { Fennick_LoadDriver(); },
         "Fennick_LoadDriver before Fennick_Init succeeded"},
        {"a read after Fennick_UnLoadDriver",
         [&] {
             start();
             Fennick_UnLoadDriver();
             Fennick_InputByteValue(0x6C, &b);
         },
         "read giving 0x00, port 0x6C, after Fennick_UnLoadDriver"},
        {"a second Fennick_UnLoadDriver",
         [&] {
             start();
             Fennick_UnLoadDriver();
             Fennick_UnLoadDriver();
         },
         "Fennick_UnLoadDriver with no driver loaded"},
        {"a byte written while the EC's input buffer is full",
         [&] {
             s->ecBehaviour = kEcInputNeverClears;
             start();
             Fennick_OutputByteValue(0x6C, 0x45, &scratch);
         },
         "write of 0x45, port 0x6C, lost: the EC's input buffer was full"},
        {"the agent sending with its ready flag set but no start",
         [&] {
             g_keyControllerReady = true;
             SendEcCommand(0x45, 0x8B, 3);
         },
         "read giving 0x00, port 0x6C, before Fennick_Init and Fennick_LoadDriver succeeded"},
    };
    for (const auto& c : cases) {
        memset(s, 0, sizeof *s);
        b = 0;
        c.steps();
        EXPECT_EQ(*c.violation != 0, s->violations > 0) << c.what;
        EXPECT_STREQ(c.violation, s->firstViolation) << c.what;
        if (*c.violation) {
            s_checked = s;
            EXPECT_NONFATAL_FAILURE(ExpectNoViolation(s_checked), c.violation);
        }
        EXPECT_EQ(*c.violation ? 0u : 1u, s->commandBytes)
            << c.what << ": the EC takes nothing that breaks the rules";
    }
    memset(s, 0, sizeof *s);  // the violations above were the point
}
