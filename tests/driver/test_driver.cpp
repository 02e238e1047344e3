// A smoke program for the stand-in driver Tamsk.sys, driven directly with DeviceIoControl. The
// port library's tests pin every request family's bytes and results through this driver; here
// only what they rely on without showing it: each fault does what it says, the log keeps what
// was sent and by whom, and 0x9C4024E4 tells its two records apart.
#include <gtest/gtest.h>

#include <iterator>

#include "driver_test.h"

namespace {

using driver_diag::Bytes;
using driver_diag::Hex;
using driver_diag::IsRequest;
using driver_diag::Succeeds;

constexpr uint8_t kFill = 0xCC;  // output preset, to see what the driver wrote
constexpr DWORD kHoldMs = 300;
constexpr DWORD kTimerSlackMs = 20;

// The driver freshly registered and started for this program, and removed after it.
class DriverTest : public driver_diag::FreshDriver {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(Succeeds(driver_diag::InstallAndStart)); }
    static void TearDownTestSuite() { EXPECT_TRUE(Succeeds(driver_diag::StopAndRemove)); }
};

// One request after a fault is set (PORTIO_FAULT_NONE: none), and what must come back.
struct Step {
    const char* what;
    uint32_t fault, value;
    uint32_t code;
    Bytes in;
    DWORD outLength;
    bool ok;
    const char* out;  // the output buffer after the call, bytes the driver left show kFill
    DWORD atLeastMs;
};

// An EC command other than read, write and select answers command ^ 0xFF: 0x45 gives 0xBA.
const Bytes kEcOther = {0x45, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

const Step kSteps[] = {
    {"no fault", PORTIO_FAULT_NONE, 0, PORTIO_EC_COMMAND_RESPONSE, kEcOther, 5, true,
     "01 00 00 00 BA", 0},
    {"fail", PORTIO_FAULT_FAIL, 0, PORTIO_EC_COMMAND_RESPONSE, kEcOther, 5, false, "CC CC CC CC CC",
     0},
    {"status 0", PORTIO_FAULT_STATUS, 0, PORTIO_EC_COMMAND_RESPONSE, kEcOther, 5, true,
     "00 00 00 00 BA", 0},
    {"status 2", PORTIO_FAULT_STATUS, 2, PORTIO_EC_COMMAND_RESPONSE, kEcOther, 5, true,
     "02 00 00 00 BA", 0},
    {"short fill 2", PORTIO_FAULT_SHORT_FILL, 2, PORTIO_EC_COMMAND_RESPONSE, kEcOther, 5, true,
     "01 00 CC CC CC", 0},
    {"hold", PORTIO_FAULT_HOLD, kHoldMs, PORTIO_EC_COMMAND_RESPONSE, kEcOther, 5, true,
     "01 00 00 00 BA", kHoldMs},
    {"a fault lasts one request", PORTIO_FAULT_NONE, 0, PORTIO_EC_COMMAND, kEcOther, 4, true,
     "01 00 00 00", 0},
    // Under 0x9C4024E4 two bytes are command and data: 0x82 selects Dorvane EC address 0x20 ...
    {"E4, command and data",
     PORTIO_FAULT_NONE,
     0,
     PORTIO_DORVANE_DATA_RESPONSE,
     {0x82, 0x20},
     5,
     true,
     nullptr,
     0},
    // ... and 5 + count bytes are a data block: 0x81 writes it there, answering the last byte.
    {"E4, data block",
     PORTIO_FAULT_NONE,
     0,
     PORTIO_DORVANE_DATA_RESPONSE,
     {0x81, 0x03, 0x00, 0x00, 0x00, 0x40, 0x41, 0x42},
     5,
     true,
     "01 00 00 00 42",
     0},
};

TEST_F(DriverTest, FaultsAndTheTwoRecordsOfE4DoWhatTheySay)
{
    for (const Step& s : kSteps) {
        SCOPED_TRACE(s.what);
        if (s.fault != PORTIO_FAULT_NONE) {
            ASSERT_TRUE(diag.SetFault(s.fault, s.value, 1));
        }
        Bytes out(s.outLength, kFill);
        DWORD returned = 0, error = 0;
        LARGE_INTEGER frequency, t0, t1;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&t0);
        bool ok = driver_diag::Call(diag.Handle(), s.code, s.in.data(), DWORD(s.in.size()),
                                    out.data(), s.outLength, &returned, &error);
        QueryPerformanceCounter(&t1);
        const double tookMs =
            1000.0 * double(t1.QuadPart - t0.QuadPart) / double(frequency.QuadPart);
        EXPECT_EQ(s.ok, ok) << "error " << error;
        if (s.out) {
            EXPECT_EQ(s.out, Hex(out));
        }
        if (s.atLeastMs) {
            EXPECT_GE(tookMs, double(s.atLeastMs) - kTimerSlackMs) << "held for less than the hold";
        }
    }
    for (uint32_t i = 0; i < 3; i++) {
        uint32_t value = 0;
        ASSERT_TRUE(diag.Peek(PORTIO_SPACE_DORVANE_EC_RAM, 0, 0x20 + i, &value));
        EXPECT_EQ(0x40u + i, value) << "Dorvane EC address " << 0x20 + i;
    }

    // The log keeps code, lengths, input bytes and the requesting process of each request.
    std::vector<PortioDiagLogEntry> log;
    uint32_t total = 0;
    ASSERT_TRUE(diag.Log(&log, &total));
    ASSERT_EQ(std::size(kSteps), log.size());
    EXPECT_EQ(std::size(kSteps), total);
    for (size_t i = 0; i < log.size(); i++) {
        const Step& s = kSteps[i];
        SCOPED_TRACE(s.what);
        EXPECT_TRUE(IsRequest(log[i], s.code, s.in, s.outLength));
        EXPECT_EQ(GetCurrentProcessId(), log[i].processId);
    }
    EXPECT_EQ(std::size(kSteps), driver_diag::CountsOf(diag).requests);
}

}  // namespace
