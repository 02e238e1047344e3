// Shared by brannic.exe's test programs: running it, describing a run, and the driver service
// taken away for a case and put back for the others; the fixtures of every program that uses
// the stand-in driver are in driver_test.h.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "driver_test.h"
#include "program_run.h"
#include "test_support.h"

namespace brannic_test {

using driver_diag::CodeText;
using driver_diag::CountsOf;
using driver_diag::FreshDriver;

inline std::wstring BrannicPath() { return Widened(BinDir() + "\\brannic.exe"); }

// A run of brannic; the wide form carries a command line that the narrow one cannot.
inline ProgramRun Brannic(const std::wstring& arguments)
{
    return RunProgram(BrannicPath(), arguments);
}
inline ProgramRun Brannic(const std::string& arguments) { return Brannic(Widened(arguments)); }

inline std::string Described(const std::string& arguments, const ProgramRun& run)
{
    return "brannic " + arguments + "\n  exit " + std::to_string(run.status) +
           "\n  out: " + run.out + "\n  err: " + run.err;
}

// A case that starts with no driver service; the stand-in goes back to how the other tests
// expect it, registered and running.
class CommandLineService : public driver_diag::WithoutDriverService {
protected:
    void TearDown() override
    {
        WithoutDriverService::TearDown();
        EXPECT_TRUE(driver_diag::Succeeds(driver_diag::InstallAndStart));
    }
};

}  // namespace brannic_test
