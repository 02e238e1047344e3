// brannic.exe against the stand-in driver: what it prints, what reaches the driver and its
// exit status, for every family of commands, bad input, failing calls and the service.
#include "brannic_test.h"
#include "code_page_sample.h"

#include <algorithm>
#include <regex>
#include <sstream>

using namespace brannic_test;

namespace {

// One run of a table: it exits with 0, prints `out` and sends one request, of `code`.
struct Step {
    const char* arguments;
    const char* out;
    uint32_t code;
};

class CommandLine : public FreshDriver {
protected:
    void RunSteps(std::initializer_list<Step> steps)
    {
        for (const Step& step : steps) {
            ASSERT_TRUE(diag.Reset());
            ProgramRun run = Brannic(step.arguments);
            EXPECT_EQ(0u, run.status) << Described(step.arguments, run);
            EXPECT_EQ(step.out, run.out) << Described(step.arguments, run);
            auto log = Log();
            ASSERT_EQ(1u, log.size()) << "brannic " << step.arguments;
            EXPECT_EQ(CodeText(step.code), CodeText(log[0].code)) << "brannic " << step.arguments;
        }
    }
    uint32_t Cell(uint32_t space, uint32_t key, uint32_t address)
    {
        uint32_t value = 0xFFFFFFFF;
        EXPECT_TRUE(diag.Peek(space, key, address, &value));
        return value;
    }
};

// Widths, and registers one at a time (single requests) or as lists (one list request).
TEST_F(CommandLine, PortsAndRegisters)
{
    const uint8_t bytes[4] = {0x11, 0x22, 0x33, 0x44};
    for (uint32_t i = 0; i < 4; i++)
        ASSERT_TRUE(diag.Poke(PORTIO_SPACE_PORT, 0, 0x300 + i, bytes[i]));
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_INDEXED, 0x2E, 0x07, 0x5A));
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_INDEXED, 0x2E, 0x20, 0x11));
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_INDEXED, 0x70, 0x10, 0xCAFEF00D));

    RunSteps({
        {"in8 0x300", "0x11\n", PORTIO_INPUT_BYTE},
        {"in16 0x301", "0x3322\n", PORTIO_INPUT_WORD},
        {"in32 768", "0x44332211\n", PORTIO_INPUT_DWORD},
        {"out8 0x310 0xA5", "", PORTIO_OUTPUT_BYTE},
        {"out16 0x320 48879", "", PORTIO_OUTPUT_WORD},
        {"out32 0xFFFC 0x12345678", "", PORTIO_OUTPUT_DWORD},
        {"reg-read8 0x2E 0x2F 0x07", "0x5A\n", PORTIO_READ_INDEXED_BYTE},
        {"reg-read8 0x2E 0x2F 0x07 0x20 7", "0x5A\n0x11\n0x5A\n", PORTIO_READ_INDEXED_BYTE_ARRAY},
        {"reg-read16 0x70 0x71 0x10 0x10", "0xF00D\n0xF00D\n", PORTIO_READ_INDEXED_WORD_ARRAY},
        {"reg-read32 0x70 0x71 0x10", "0xCAFEF00D\n", PORTIO_READ_INDEXED_DWORD},
        {"reg-write8 0x2E 0x2F 0x30=0x99", "", PORTIO_WRITE_INDEXED_BYTE},
        {"reg-write16 0x70 0x71 0x40=0x1234 0x41=65535", "", PORTIO_WRITE_INDEXED_WORD_ARRAY},
        {"reg-write32 0x70 0x71 0x50=0xDEADBEEF", "", PORTIO_WRITE_INDEXED_DWORD},
    });
    EXPECT_EQ(0xA5u, Cell(PORTIO_SPACE_PORT, 0, 0x310));
    EXPECT_EQ(0xBEEFu, Cell(PORTIO_SPACE_PORT, 0, 0x320) | Cell(PORTIO_SPACE_PORT, 0, 0x321) << 8);
    EXPECT_EQ(0x12u, Cell(PORTIO_SPACE_PORT, 0, 0xFFFF));
    EXPECT_EQ(0x99u, Cell(PORTIO_SPACE_INDEXED, 0x2E, 0x30));
    EXPECT_EQ(0xFFFFu, Cell(PORTIO_SPACE_INDEXED, 0x70, 0x41));
    EXPECT_EQ(0xDEADBEEFu, Cell(PORTIO_SPACE_INDEXED, 0x70, 0x50));
}

// EC commands on either pair, with and without a response; the Dorvane settings round trip,
// and each send picks its export by the data it is given.
TEST_F(CommandLine, EcAndDorvane)
{
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_EC_RAM, 0, 0x10, 0x77));
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_EC_RAM, 0x6C, 0x05, 0x99));
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_DORVANE_EC_RAM, 0, 0x20, 0x3C));
    const char* ok = "status 0x00000001\n";

    RunSteps({
        {"ec --response 0x80 0x10", "status 0x00000001\nresponse 0x77\n",
         PORTIO_EC_COMMAND_RESPONSE},
        {"ec 0x81 0x42", ok, PORTIO_EC_COMMAND},
        {"ec --ports 0x6C 0x68 --response 0x80 5", "status 0x00000001\nresponse 0x99\n",
         PORTIO_EC_COMMAND_PORTS_RESPONSE},
        {"ec 0x82 0x07 --ports 0x6C 0x68", ok, PORTIO_EC_COMMAND_PORTS},
        {"dorvane-set port-type 2", "", PORTIO_DORVANE_SET_PORT_TYPE},
        {"dorvane-get port-type", "0x02\n", PORTIO_DORVANE_GET_PORT_TYPE},
        {"dorvane-set io-address 0x4E 0x4F 0x2E 65535", "", PORTIO_DORVANE_SET_IO_ADDRESS},
        {"dorvane-get io-address", "0x004E\n0x004F\n0x002E\n0xFFFF\n",
         PORTIO_DORVANE_GET_IO_ADDRESS},
        {"dorvane-set port-device 1 2 3 0xFF", "", PORTIO_DORVANE_SET_PORT_DEVICE},
        {"dorvane-get port-device", "0x01\n0x02\n0x03\n0xFF\n", PORTIO_DORVANE_GET_PORT_DEVICE},
        {"dorvane-send --response 0x33", "status 0x00000001\nresponse 0xCC\n",
         PORTIO_DORVANE_COMMAND_RESPONSE},
        {"dorvane-send --response 0x80 0x20", "status 0x00000001\nresponse 0x3C\n",
         PORTIO_DORVANE_DATA_RESPONSE},
        {"dorvane-send 0x81 0x55", "", PORTIO_DORVANE_DATA},
        {"dorvane-send --block 0x81 0x66", "", PORTIO_DORVANE_DATA_ARRAY},
        {"dorvane-send 0x81 1 2", "", PORTIO_DORVANE_DATA_ARRAY},
    });
    EXPECT_EQ(0x42u, Cell(PORTIO_SPACE_EC_RAM, 0, 0x10));
    const uint8_t written[] = {0x55, 0x66, 1,
                               2};  // at the Dorvane EC's pointer, 0x20 after the read
    for (uint32_t i = 0; i < 4; i++)
        EXPECT_EQ(written[i], Cell(PORTIO_SPACE_DORVANE_EC_RAM, 0, 0x20 + i));

    // The status shown is the driver's own.
    ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_STATUS, 0x00C0FFEE));
    ProgramRun run = Brannic("ec 0x80 0x10");
    EXPECT_EQ(0u, run.status) << run.err;
    EXPECT_EQ("status 0x00C0FFEE\n", run.out);
}

// ---- Bad input and failing calls ----

TEST_F(CommandLine, BadInputIsRefusedBeforeTheLibraryOpens)
{
    std::string tooMany = "reg-read8 0x2E 0x2F";
    for (int i = 0; i < 257; i++) tooMany += " 1";
    struct Case {
        std::string arguments, message, usage;
    };
    const Case cases[] = {
        {"", "no command", ""},
        {"frobnicate 1", "unknown command \"frobnicate\"", ""},
        {"--frob in8 0x80", "unknown option --frob", ""},
        {"--auto in8 0x80", "--auto and --dir go with --install", ""},
        {"--wait --install open", "give one", ""},
        {"in8", "missing argument", "usage: brannic in8 PORT"},
        {"in8 0x80 0x81", "too many arguments", "usage: brannic in8"},
        {"in8 0x10000", "PORT 0x10000 does not fit in 16 bits", "usage: brannic in8"},
        {"in8 12z", "PORT \"12z\" is not a number", ""},
        {"in8 -1", "is not a number", ""},
        {"out8 0x80 0x100", "VALUE 0x100 does not fit in 8 bits", "usage: brannic out8 PORT VALUE"},
        {"out32 0x80 0x100000000", "VALUE \"0x100000000\" is not a number", ""},
        {"reg-read16 0x2E 0x2F 0x10000", "INDEX 0x10000 does not fit in 16 bits", ""},
        {tooMany, "too many arguments", ""},
        {"reg-write8 0x2E 0x2F 0x07", "is not INDEX=VALUE", "usage: brannic reg-write8"},
        {"ec --ports 0x6C", "--ports needs 2 values", ""},
        {"ec 0x80 0x100", "DATA 0x100 does not fit in 8 bits", ""},
        {"dorvane-get widgets", "unknown setting \"widgets\"", ""},
        {"dorvane-set io-address 1 2 3", "missing argument", ""},
        {"dorvane-send --block 0x80", "--block needs at least one DATA byte", ""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(diag.Reset());
        ProgramRun run = Brannic(c.arguments);
        EXPECT_EQ(2u, run.status) << Described(c.arguments, run);
        EXPECT_NE(std::string::npos, run.err.find(c.message)) << Described(c.arguments, run);
        EXPECT_NE(std::string::npos, run.err.find(c.usage)) << Described(c.arguments, run);
        EXPECT_EQ("", run.out) << Described(c.arguments, run);
        EXPECT_EQ(0u, CountsOf(diag).opens)
            << "the library was opened for: brannic " << c.arguments;
    }
}

TEST_F(CommandLine, EveryListedCommandNamesItselfOnBadInput)
{
    ProgramRun help = Brannic("--help");
    ASSERT_EQ(0u, help.status);
    std::vector<std::string> names;
    std::istringstream lines(help.out);
    std::string line;
    const std::regex commandLine("^  ([a-z][a-z0-9-]+)( .*)?$");
    std::smatch match;
    while (std::getline(lines, line))
        if (std::regex_match(line, match, commandLine)) names.push_back(match[1]);
    for (const char* expected :
         {"in8", "reg-write32", "ec", "dorvane-send", "open", "remove-service"})
        EXPECT_NE(names.end(), std::find(names.begin(), names.end(), expected))
            << expected << " is not listed:\n"
            << help.out;
    for (const std::string& name : names) {
        ProgramRun run = Brannic(name + " --bogus");
        EXPECT_EQ(2u, run.status) << Described(name + " --bogus", run);
        EXPECT_NE(std::string::npos, run.err.find("unknown option --bogus")) << run.err;
        std::string usage = "usage: brannic " + name;
        size_t at = run.err.find(usage);
        ASSERT_NE(std::string::npos, at) << run.err;
        char after = run.err[at + usage.size()];
        EXPECT_TRUE(after == ' ' || after == '\n') << run.err;
    }
}

TEST_F(CommandLine, FailedCallsNameTheExportAndExitWithOne)
{
    struct Case {
        const char* arguments;
        uint32_t fault;
        const char* exportName;
    };
    const Case cases[] = {
        {"in16 0x80", PORTIO_FAULT_FAIL, "Brannic_InputWordValue"},
        {"reg-read8 0x2E 0x2F 1 2", PORTIO_FAULT_FAIL, "Brannic_ReadIndexedByteArray"},
        {"ec --ports 0x6C 0x68 0x80 1", PORTIO_FAULT_STATUS, "Brannic_SendSpecifiedPortECCommand"},
        {"dorvane-get ec-address", PORTIO_FAULT_FAIL, "Brannic_GetDorvaneIndexMethodEcAddress"},
        {"dorvane-send --response --block 0x80 1", PORTIO_FAULT_STATUS,
         "Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(diag.SetFault(c.fault, 0));
        ProgramRun run = Brannic(c.arguments);
        EXPECT_EQ(1u, run.status) << Described(c.arguments, run);
        EXPECT_NE(std::string::npos, run.err.find(std::string(c.exportName) + " returned 0"))
            << Described(c.arguments, run);
        EXPECT_EQ("", run.out) << Described(c.arguments, run);
        ASSERT_TRUE(diag.ClearFault());
    }
}

// However it opens and whatever the call returns, a run opens the device once.
TEST_F(CommandLine, OneDeviceOpenPerRun)
{
    const char* runs[] = {"in8 0x80", "--wait reg-read8 0x2E 0x2F 1 2 3", "dorvane-get io-address",
                          "ec 0x80 1"};
    uint32_t runCount = 0;
    for (const char* arguments : runs) {
        bool last = ++runCount == 4;
        if (last) {
            ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_FAIL, 0));
        }
        ProgramRun run = Brannic(arguments);
        EXPECT_EQ(last ? 1u : 0u, run.status) << Described(arguments, run);
        EXPECT_EQ(runCount, CountsOf(diag).opens) << "brannic " << arguments;
    }
}

// ---- The driver service ----

TEST_F(CommandLineService, RegistersStartsAndRemovesTheDriverService)
{
    ProgramRun run = Brannic("in8 0x80");
    EXPECT_EQ(1u, run.status) << Described("in8 0x80 (no service)", run);
    EXPECT_NE(std::string::npos, run.err.find("Brannic_InitExA returned 0")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("QuorvelPortIO is not registered")) << run.err;

    // Without a folder: the one of Brannic.dll, where the stand-in Tamsk.sys lies.
    run = Brannic("add-service");
    ASSERT_EQ(0u, run.status) << Described("add-service", run);
    driver_diag::ServiceConfig config;
    ASSERT_TRUE(driver_diag::QueryConfig(&config));
    EXPECT_EQ(DWORD(SERVICE_DEMAND_START), config.start);
    EXPECT_NE(std::string::npos, config.binary.find("Tamsk.sys")) << config.binary;
    EXPECT_FALSE(driver_diag::IsRunning());

    std::string install = "--install --auto --dir \"" + BinDir() + "\" in8 0x80";
    run = Brannic(install);
    EXPECT_EQ(0u, run.status) << Described(install, run);
    EXPECT_EQ("0xDA\n", run.out);
    EXPECT_TRUE(driver_diag::IsRunning());
    // An existing registration gets its start type in the registry, not from the manager.
    EXPECT_EQ(DWORD(SERVICE_AUTO_START), driver_diag::ReadRegistration().start);

    // Removed on the way out: the running driver is marked for deletion.
    run = Brannic("--remove open");
    EXPECT_EQ(0u, run.status) << Described("--remove open", run);
    EXPECT_EQ(DWORD(ERROR_SERVICE_MARKED_FOR_DELETE), driver_diag::Delete());

    run = Brannic("remove-service");
    EXPECT_EQ(1u, run.status) << Described("remove-service (marked already)", run);
    EXPECT_NE(std::string::npos, run.err.find("Brannic_RemoveService returned 0")) << run.err;
}

// The narrow command line is the system's best-fit conversion of the wide one: a fullwidth
// reverse solidus for the folder's last backslash would reach the program as a backslash and
// name the driver's own folder.
TEST_F(CommandLineService, AFolderTheCodePageWouldChangeIsRefused)
{
    std::wstring folder = Widened(BinDir());
    folder[folder.rfind(L'\\')] = L'\uff3c';
    const std::wstring runs[] = {L"add-service \"" + folder + L"\"",
                                 L"--install --dir \"" + folder + L"\" open"};
    for (const std::wstring& arguments : runs) {
        ProgramRun run = Brannic(arguments);
        EXPECT_EQ(2u, run.status) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("may not be the one typed")) << run.err;
        EXPECT_FALSE(driver_diag::Exists()) << run.err;
    }
}

// A folder named with the locale's most telling character (a double-byte one whose second
// byte is a backslash's, where the code page has one) is registered as typed. Run in one
// locale of each kind.
TEST_F(CommandLineService, AFolderNamedInThisCodePageIsRegisteredAsTyped)
{
    std::wstring folder =
        Widened(BinDir()) + L"\\..\\brannic-dir-" + code_page_sample::TellingCharacter();
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(Widened(driver_diag::DriverPath()).c_str(),
                          (folder + L"\\Tamsk.sys").c_str(), FALSE))
        << GetLastError();
    ProgramRun run = Brannic(L"add-service \"" + folder + L"\"");
    EXPECT_EQ(0u, run.status) << run.err;
    driver_diag::ServiceConfig config;
    ASSERT_TRUE(driver_diag::QueryConfig(&config)) << run.err;
    EXPECT_EQ(folder + L"\\Tamsk.sys", Widened(config.binary))
        << code_page_sample::CodePoints(Widened(config.binary));
}

}  // namespace
