// What the test programs of every area that use the stand-in driver share: byte strings, a
// logged request against the one meant, the driver made sure of, and fixtures that start from
// a fresh driver or from no driver service at all. Link driver_diag.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "driver_diag.h"

namespace driver_diag {

// The low `width` bytes of value, little-endian.
inline Bytes Le(uint32_t value, unsigned width)
{
    Bytes bytes;
    for (unsigned i = 0; i < width; i++) bytes.push_back(uint8_t(value >> (8 * i)));
    return bytes;
}

inline Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Bytes Zeros(size_t n) { return Bytes(n, 0); }

// One logged request against what was meant to go out.
inline ::testing::AssertionResult IsRequest(const PortioDiagLogEntry& entry, uint32_t code,
                                            const Bytes& input, uint32_t outputLength)
{
    size_t kept = entry.inputLength < PORTIO_DIAG_LOG_INPUT_BYTES ? entry.inputLength
                                                                  : PORTIO_DIAG_LOG_INPUT_BYTES;
    Bytes seen(entry.input, entry.input + kept);
    if (entry.code == code && entry.inputLength == input.size() && seen == input &&
        entry.outputLength == outputLength)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "sent code " << CodeText(entry.code) << ", input " << entry.inputLength << " bytes ["
           << Hex(seen) << "], output length " << entry.outputLength << "; expected code "
           << CodeText(code) << ", input " << input.size() << " bytes [" << Hex(input)
           << "], output length " << outputLength;
}

// A step on the driver's service (Install, Start, InstallAndStart, Stop, StopAndRemove) as a
// result that says why it failed: ASSERT_TRUE(Succeeds(Install)).
inline ::testing::AssertionResult Succeeds(bool (*step)(std::string* error))
{
    std::string error;
    if (step(&error)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << error;
}

// The driver's counts of opens, closes and requests since its last reset.
inline PortioDiagCounts CountsOf(Device& device)
{
    PortioDiagCounts counts = {};
    EXPECT_TRUE(device.Counts(&counts)) << "reading the driver's counts";
    return counts;
}

// Installs the stand-in driver unless it already runs.
inline void EnsureDriver()
{
    if (!IsRunning()) {
        ASSERT_TRUE(Succeeds(InstallAndStart));
    }
}

// A case that starts with the stand-in driver running and its log, counts, fault and machine
// cleared; what reached the driver since is in its log.
class FreshDriver : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureDriver(); }
    void SetUp() override
    {
        ASSERT_TRUE(diag.IsOpen())
            << "the stand-in driver's device does not open, error " << GetLastError();
        ASSERT_TRUE(diag.Reset());
        ASSERT_TRUE(diag.ResetMachine());
    }

    std::vector<PortioDiagLogEntry> Log()
    {
        std::vector<PortioDiagLogEntry> log;
        EXPECT_TRUE(diag.Log(&log)) << "reading the driver's request log";
        return log;
    }
    void ExpectNoRequest(const std::string& what)
    {
        EXPECT_EQ(0u, Log().size()) << what << " sent requests";
    }
    void ExpectOneRequest(const std::string& what, uint32_t code, const Bytes& input,
                          uint32_t output)
    {
        auto log = Log();
        ASSERT_EQ(1u, log.size()) << what;
        EXPECT_TRUE(IsRequest(log[0], code, input, output)) << what;
    }

    Device diag;
};

// A case that starts with no driver service and leaves none, unless it set leaveServiceAlone
// (it ends holding handles to the service, which then cannot go before the process ends).
class WithoutDriverService : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Succeeds(StopAndRemove)); }
    void TearDown() override
    {
        if (!leaveServiceAlone) {
            EXPECT_TRUE(Succeeds(StopAndRemove));
        }
    }

    bool leaveServiceAlone = false;
};

}  // namespace driver_diag
