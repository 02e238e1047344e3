// The release as Windows sees it: the version resource of every shipped binary, and the
// example host that scripts/package --check built from the unpacked archive alone (MinGW
// through find_package(Brannic), clang with lld-link against Brannic.lib) reading a value
// the stand-in driver was given.
#include "Brannic.h"
#include "driver_test.h"
#include "program_run.h"

namespace {

using driver_diag::FreshDriver;
using driver_diag::Le;

// One string of the binary's version resource (US English, Unicode block).
std::string VersionString(const std::vector<char>& info, const char* name)
{
    std::string query = std::string("\\StringFileInfo\\040904B0\\") + name;
    char* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), query.c_str(), (void**)&text, &length) || !text)
        return "(none)";
    return std::string(text, length && !text[length - 1] ? length - 1 : length);
}

TEST(VersionResources, EveryShippedBinaryCarriesTheRelease)
{
    const DWORD versionHigh = MAKELONG(BRANNIC_VERSION_MINOR, BRANNIC_VERSION_MAJOR);
    const DWORD versionLow = MAKELONG(0, BRANNIC_VERSION_PATCH);
    for (const char* name : {"lumetta.exe", "lumetta-legacy.exe", "Brannic.dll", "brannic.exe"}) {
        SCOPED_TRACE(name);
        std::string path = BinDir() + "\\" + name;
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
        ASSERT_NE(0u, size) << "no version resource";
        std::vector<char> info(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void**)&fixed, &length));
        ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
        EXPECT_EQ(versionHigh, fixed->dwFileVersionMS);
        EXPECT_EQ(versionLow, fixed->dwFileVersionLS);
        EXPECT_EQ(versionHigh, fixed->dwProductVersionMS);
        EXPECT_EQ(versionLow, fixed->dwProductVersionLS);
        bool isDll = std::string(name).find(".dll") != std::string::npos;
        EXPECT_EQ(DWORD(isDll ? VFT_DLL : VFT_APP), fixed->dwFileType);

        EXPECT_EQ(BRANNIC_VERSION_STRING, VersionString(info, "FileVersion"));
        EXPECT_EQ(BRANNIC_VERSION_STRING, VersionString(info, "ProductVersion"));
        EXPECT_EQ(name, VersionString(info, "OriginalFilename"));
        EXPECT_EQ("Lumetta notebook utilities", VersionString(info, "ProductName"));
        EXPECT_LT(8u, VersionString(info, "FileDescription").size());
    }
}

using PackageExample = FreshDriver;

TEST_F(PackageExample, ReadsAPortTheStandInWasGiven)
{
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_PORT, 0, 0x2F8, 0xA7));
    for (const char* toolchain : {"mingw", "msvc"}) {
        SCOPED_TRACE(toolchain);
        std::string exe = BinDir() + "\\..\\package-check\\" + toolchain + "\\brannic_example.exe";
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(exe.c_str()))
            << exe << " is missing: scripts/package --check builds it";
        ASSERT_TRUE(diag.Reset());

        ProgramRun run = RunProgram(exe, "0x2F8");
        EXPECT_EQ(0u, run.status) << run.out << run.err;
        EXPECT_EQ("port 0x02F8: 0xA7\n", run.out);
        ExpectOneRequest(exe, PORTIO_INPUT_BYTE, Le(0x2F8, 4), 1);
    }
}

}  // namespace
