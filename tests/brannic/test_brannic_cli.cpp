// brannic.exe against the stand-in driver: what it prints, what reaches the driver and its
// exit status, for every family of commands, bad input, failing calls and the service.
#include "portlib_test.h"
#include "program_run.h"

#include <algorithm>
#include <regex>
#include <sstream>
#include <utility>

using namespace portlib_test;

namespace {

std::string BinFolder() { return DirectoryOf(SelfPath()); }

ProgramRun Brannic(const std::string& arguments)
{
    return RunProgram(BinFolder() + "\\brannic.exe", arguments);
}

std::string Described(const std::string& arguments, const ProgramRun& run)
{
    return "brannic " + arguments + "\n  exit " + std::to_string(run.status) + "\n  out: " +
           run.out + "\n  err: " + run.err;
}

class CommandLine : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureDriver(); }
    void SetUp() override
    {
        ASSERT_TRUE(diag.IsOpen()) << "the stand-in driver's device does not open";
        ASSERT_TRUE(diag.Reset());
        ASSERT_TRUE(diag.ResetMachine());
    }

    // Runs brannic with a fresh request log; true when it printed `out` and exited with 0.
    void ExpectPrints(const std::string& arguments, const std::string& out)
    {
        ASSERT_TRUE(diag.Reset());
        ProgramRun run = Brannic(arguments);
        EXPECT_EQ(0u, run.status) << Described(arguments, run);
        EXPECT_EQ(out, run.out) << Described(arguments, run);
    }
    // The one request the last run sent.
    void ExpectSent(const std::string& arguments, uint32_t code, const Bytes& input, uint32_t output)
    {
        std::vector<portio_diag_log_entry> log;
        ASSERT_TRUE(diag.Log(&log));
        ASSERT_EQ(1u, log.size()) << "brannic " << arguments;
        EXPECT_TRUE(IsRequest(log[0], code, input, output)) << "brannic " << arguments;
    }
    uint32_t Cell(uint32_t space, uint32_t key, uint32_t address)
    {
        uint32_t value = 0xFFFFFFFF;
        EXPECT_TRUE(diag.Peek(space, key, address, &value));
        return value;
    }

    driver_diag::Device diag;
};

// ---- Ports and registers ----

TEST_F(CommandLine, PortsInTheirWidths)
{
    const uint8_t bytes[4] = {0x11, 0x22, 0x33, 0x44};
    for (uint32_t i = 0; i < 4; i++) ASSERT_TRUE(diag.Poke(PORTIO_SPACE_PORT, 0, 0x300 + i, bytes[i]));

    ExpectPrints("in8 0x300", "0x11\n");
    ExpectSent("in8", PORTIO_INPUT_BYTE, Le(0x300, 4), 1);
    ExpectPrints("in16 0x301", "0x3322\n");
    ExpectSent("in16", PORTIO_INPUT_WORD, Le(0x301, 4), 2);
    ExpectPrints("in32 768", "0x44332211\n");
    ExpectSent("in32", PORTIO_INPUT_DWORD, Le(0x300, 4), 4);

    ExpectPrints("out8 0x310 0xA5", "");
    ExpectSent("out8", PORTIO_OUTPUT_BYTE, Cat({Le(0x310, 4), {0xA5}}), 0);
    ExpectPrints("out16 0x320 48879", "");
    EXPECT_EQ(0xEFu, Cell(PORTIO_SPACE_PORT, 0, 0x320));
    EXPECT_EQ(0xBEu, Cell(PORTIO_SPACE_PORT, 0, 0x321));
    ExpectPrints("out32 0xFFFC 0x12345678", "");
    ExpectSent("out32", PORTIO_OUTPUT_DWORD, Cat({Le(0xFFFC, 4), Le(0x12345678, 4)}), 0);
}

TEST_F(CommandLine, RegistersOneAtATimeOrAsOneList)
{
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_INDEXED, 0x2E, 0x07, 0x5A));
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_INDEXED, 0x2E, 0x20, 0x11));
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_INDEXED, 0x70, 0x1234, 0xBEEF));
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_INDEXED, 0x70, 0x10, 0xCAFEF00D));

    struct Read { const char* arguments; const char* out; uint32_t code; };
    const Read reads[] = {
        {"reg-read8 0x2E 0x2F 0x07", "0x5A\n", PORTIO_READ_INDEXED_BYTE},
        {"reg-read8 0x2E 0x2F 0x07 0x20 7", "0x5A\n0x11\n0x5A\n", PORTIO_READ_INDEXED_BYTE_ARRAY},
        {"reg-read16 0x70 0x71 0x1234 0x1234", "0xBEEF\n0xBEEF\n", PORTIO_READ_INDEXED_WORD_ARRAY},
        {"reg-read32 0x70 0x71 0x10", "0xCAFEF00D\n", PORTIO_READ_INDEXED_DWORD},
    };
    for (const Read& r : reads) {
        ExpectPrints(r.arguments, r.out);
        auto log = std::vector<portio_diag_log_entry>();
        ASSERT_TRUE(diag.Log(&log));
        ASSERT_EQ(1u, log.size()) << r.arguments;
        EXPECT_EQ(CodeText(r.code), CodeText(log[0].code)) << r.arguments;
    }

    struct Write {
        const char* arguments;
        uint32_t code, index_port;
        std::vector<std::pair<uint32_t, uint32_t>> cells;  // register index, value afterwards
    };
    const Write writes[] = {
        {"reg-write8 0x2E 0x2F 0x30=0x99", PORTIO_WRITE_INDEXED_BYTE, 0x2E, {{0x30, 0x99}}},
        {"reg-write16 0x70 0x71 0x40=0x1234 0x41=65535", PORTIO_WRITE_INDEXED_WORD_ARRAY, 0x70,
         {{0x40, 0x1234}, {0x41, 0xFFFF}}},
        {"reg-write32 0x70 0x71 0x50=0xDEADBEEF 0x51=1", PORTIO_WRITE_INDEXED_DWORD_ARRAY, 0x70,
         {{0x50, 0xDEADBEEF}, {0x51, 1}}},
    };
    for (const Write& w : writes) {
        ExpectPrints(w.arguments, "");
        auto log = std::vector<portio_diag_log_entry>();
        ASSERT_TRUE(diag.Log(&log));
        ASSERT_EQ(1u, log.size()) << w.arguments;
        EXPECT_EQ(CodeText(w.code), CodeText(log[0].code)) << w.arguments;
        for (const auto& cell : w.cells)
            EXPECT_EQ(cell.second, Cell(PORTIO_SPACE_INDEXED, w.index_port, cell.first)) << w.arguments;
    }
}

// ---- EC and Dorvane ----

TEST_F(CommandLine, EcCommandsOnEitherPortPair)
{
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_EC_RAM, 0, 0x10, 0x77));
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_EC_RAM, 0x6C, 0x05, 0x99));

    ExpectPrints("ec --response 0x80 0x10", "status 0x00000001\nresponse 0x77\n");
    ExpectSent("ec --response", PORTIO_EC_COMMAND_RESPONSE, Cat({{0x80, 0x10}, Zeros(16)}), 5);
    ExpectPrints("ec 0x81 0x42", "status 0x00000001\n");
    EXPECT_EQ(0x42u, Cell(PORTIO_SPACE_EC_RAM, 0, 0x10));
    ExpectPrints("ec --ports 0x6C 0x68 --response 0x80 5", "status 0x00000001\nresponse 0x99\n");
    ExpectSent("ec --ports --response", PORTIO_EC_COMMAND_PORTS_RESPONSE,
               Cat({Le(0x6C, 4), Le(0x68, 4), {0x80, 0x05}, Zeros(16)}), 5);
    ExpectPrints("ec 0x82 0x07 --ports 0x6C 0x68", "status 0x00000001\n");
    ExpectSent("ec --ports", PORTIO_EC_COMMAND_PORTS,
               Cat({Le(0x6C, 4), Le(0x68, 4), {0x82, 0x07}, Zeros(16)}), 4);

    // The status shown is the driver's own.
    ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_STATUS, 0x00C0FFEE));
    ProgramRun run = Brannic("ec 0x80 0x10");
    EXPECT_EQ(0u, run.status) << run.err;
    EXPECT_EQ("status 0x00C0FFEE\n", run.out);
}

TEST_F(CommandLine, DorvaneSettingsRoundTrip)
{
    const std::pair<const char*, const char*> settings[] = {
        {"port-type 2", "0x02\n"},
        {"io-address 0x4E 0x4F 0x2E 0x2F", "0x004E\n0x004F\n0x002E\n0x002F\n"},
        {"port-device 1 2 3 0xFF", "0x01\n0x02\n0x03\n0xFF\n"},
        {"ec-address 0x100 0x200 0x300 65535", "0x0100\n0x0200\n0x0300\n0xFFFF\n"},
    };
    for (const auto& s : settings) {
        std::string name = std::string(s.first).substr(0, std::string(s.first).find(' '));
        ExpectPrints(std::string("dorvane-set ") + s.first, "");
        ExpectPrints("dorvane-get " + name, s.second);
    }
}

TEST_F(CommandLine, DorvaneSendsPickTheExportByTheirData)
{
    ASSERT_TRUE(diag.Poke(PORTIO_SPACE_DORVANE_EC_RAM, 0, 0x20, 0x3C));
    struct Send { const char* arguments; const char* out; uint32_t code; Bytes input; uint32_t output; };
    const Send sends[] = {
        {"dorvane-send 0x33", "", PORTIO_DORVANE_COMMAND, {0x33}, 4},
        {"dorvane-send --response 0x33", "status 0x00000001\nresponse 0xCC\n",
         PORTIO_DORVANE_COMMAND_RESPONSE, {0x33}, 5},
        {"dorvane-send --response 0x80 0x20", "status 0x00000001\nresponse 0x3C\n",
         PORTIO_DORVANE_DATA_RESPONSE, {0x80, 0x20}, 5},
        {"dorvane-send 0x81 0x55", "", PORTIO_DORVANE_DATA, {0x81, 0x55}, 4},
        {"dorvane-send --block 0x81 0x66", "", PORTIO_DORVANE_DATA_ARRAY, {0x81, 1, 0, 0, 0, 0x66}, 4},
        {"dorvane-send 0x82 1 2 3", "", PORTIO_DORVANE_DATA_ARRAY, {0x82, 3, 0, 0, 0, 1, 2, 3}, 4},
        {"dorvane-send --response 0x82 4 5", "status 0x00000001\nresponse 0xC6\n",
         PORTIO_DORVANE_DATA_RESPONSE, {0x82, 2, 0, 0, 0, 4, 5}, 5},
    };
    for (const Send& s : sends) {
        ExpectPrints(s.arguments, s.out);
        ExpectSent(s.arguments, s.code, s.input, s.output);
    }
    // The data and the block wrote at the EC's pointer (0x20 after the read).
    EXPECT_EQ(0x55u, Cell(PORTIO_SPACE_DORVANE_EC_RAM, 0, 0x20));
    EXPECT_EQ(0x66u, Cell(PORTIO_SPACE_DORVANE_EC_RAM, 0, 0x21));
}

// ---- Bad input and failing calls ----

TEST_F(CommandLine, BadInputIsRefusedBeforeTheLibraryOpens)
{
    std::string too_many = "reg-read8 0x2E 0x2F";
    for (int i = 0; i < 257; i++) too_many += " 1";
    struct Case { std::string arguments, message, usage; };
    const Case cases[] = {
        {"", "no command", ""},
        {"frobnicate 1", "unknown command \"frobnicate\"", ""},
        {"--frob in8 0x80", "unknown option --frob", ""},
        {"--auto in8 0x80", "--auto and --dir go with --install", ""},
        {"--wait --install open", "give one", ""},
        {"--dir", "--dir needs a folder", ""},
        {"in8", "missing argument", "usage: brannic in8 PORT"},
        {"in8 0x80 0x81", "too many arguments", "usage: brannic in8"},
        {"in8 0x10000", "PORT 0x10000 does not fit in 16 bits", "usage: brannic in8"},
        {"in8 12z", "PORT \"12z\" is not a number", "usage: brannic in8"},
        {"in8 -1", "is not a number", ""},
        {"in8 0x", "is not a number", ""},
        {"out8 0x80 0x100", "VALUE 0x100 does not fit in 8 bits", "usage: brannic out8 PORT VALUE"},
        {"out16 0x80 65536", "VALUE 65536 does not fit in 16 bits", ""},
        {"out32 0x80 0x100000000", "VALUE \"0x100000000\" is not a number", ""},
        {"reg-read8 0x2E 0x2F 0x100", "INDEX 0x100 does not fit in 8 bits", ""},
        {too_many, "too many arguments", ""},
        {"reg-write8 0x2E 0x2F 0x07", "is not INDEX=VALUE", "usage: brannic reg-write8"},
        {"reg-write16 0x2E 0x2F 1=0x10000", "does not fit in 16 bits", ""},
        {"ec 0x80", "missing argument", ""},
        {"ec --ports 0x6C", "--ports needs 2 values", ""},
        {"ec 0x80 0x100", "DATA 0x100 does not fit in 8 bits", ""},
        {"dorvane-get widgets", "unknown setting \"widgets\"", ""},
        {"dorvane-set io-address 1 2 3", "missing argument", ""},
        {"dorvane-set port-type 0x100", "VALUE 0x100 does not fit in 8 bits", ""},
        {"dorvane-send --block 0x80", "--block needs at least one DATA byte", ""},
        {"add-service a b", "too many arguments", ""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(diag.Reset());
        ProgramRun run = Brannic(c.arguments);
        EXPECT_EQ(2u, run.status) << Described(c.arguments, run);
        EXPECT_NE(std::string::npos, run.err.find(c.message)) << Described(c.arguments, run);
        EXPECT_NE(std::string::npos, run.err.find(c.usage)) << Described(c.arguments, run);
        EXPECT_EQ("", run.out) << Described(c.arguments, run);
        portio_diag_counts counts = {};
        ASSERT_TRUE(diag.Counts(&counts));
        EXPECT_EQ(0u, counts.opens) << "the library was opened for: brannic " << c.arguments;
    }
}

TEST_F(CommandLine, EveryListedCommandNamesItselfOnBadInput)
{
    ProgramRun help = Brannic("--help");
    ASSERT_EQ(0u, help.status);
    std::vector<std::string> names;
    std::istringstream lines(help.out);
    std::string line;
    const std::regex command_line("^  ([a-z][a-z0-9-]+)( .*)?$");
    std::smatch match;
    while (std::getline(lines, line))
        if (std::regex_match(line, match, command_line)) names.push_back(match[1]);
    for (const char* expected : {"in8", "reg-write32", "ec", "dorvane-send", "open", "remove-service"})
        EXPECT_NE(names.end(), std::find(names.begin(), names.end(), expected))
            << expected << " is not listed:\n" << help.out;
    for (const std::string& name : names) {
        ProgramRun run = Brannic(name + " --bogus");
        EXPECT_EQ(2u, run.status) << Described(name + " --bogus", run);
        EXPECT_NE(std::string::npos, run.err.find("unknown option --bogus")) << run.err;
        size_t usage = run.err.find("usage: brannic " + name);
        ASSERT_NE(std::string::npos, usage) << run.err;
        char after = run.err[usage + 15 + name.size()];
        EXPECT_TRUE(after == ' ' || after == '\n') << run.err;
    }
}

TEST_F(CommandLine, FailedCallsNameTheExportAndExitWithOne)
{
    struct Case { const char* arguments; uint32_t fault; const char* export_name; };
    const Case cases[] = {
        {"in16 0x80", PORTIO_FAULT_FAIL, "Brannic_InputWordValue"},
        {"out32 0x80 1", PORTIO_FAULT_FAIL, "Brannic_OutputDWordValue"},
        {"reg-read8 0x2E 0x2F 1 2", PORTIO_FAULT_FAIL, "Brannic_ReadIndexedByteArray"},
        {"reg-write16 0x2E 0x2F 1=2", PORTIO_FAULT_FAIL, "Brannic_WriteIndexedWord"},
        {"ec --ports 0x6C 0x68 0x80 1", PORTIO_FAULT_STATUS, "Brannic_SendSpecifiedPortECCommand"},
        {"dorvane-get ec-address", PORTIO_FAULT_FAIL, "Brannic_GetDorvaneIndexMethodEcAddress"},
        {"dorvane-set port-type 1", PORTIO_FAULT_STATUS, "Brannic_SetDorvaneIndexMethodEcPortType"},
        {"dorvane-send --response --block 0x80 1", PORTIO_FAULT_STATUS,
         "Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(diag.SetFault(c.fault, 0));
        ProgramRun run = Brannic(c.arguments);
        EXPECT_EQ(1u, run.status) << Described(c.arguments, run);
        EXPECT_NE(std::string::npos, run.err.find(std::string(c.export_name) + " returned 0"))
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
    uint32_t run_count = 0;
    for (const char* arguments : runs) {
        bool last = ++run_count == 4;
        if (last) {
            ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_FAIL, 0));
        }
        ProgramRun run = Brannic(arguments);
        EXPECT_EQ(last ? 1u : 0u, run.status) << Described(arguments, run);
        portio_diag_counts counts = {};
        ASSERT_TRUE(diag.Counts(&counts));
        EXPECT_EQ(run_count, counts.opens) << "brannic " << arguments;
    }
}

// ---- The driver service ----

class CommandLineService : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(driver_diag::StopAndRemove(&error)) << error;
    }
    // The stand-in goes back to how the other tests expect it.
    void TearDown() override
    {
        std::string error;
        EXPECT_TRUE(driver_diag::StopAndRemove(&error)) << error;
        EXPECT_TRUE(driver_diag::InstallAndStart(&error)) << error;
    }
};

TEST_F(CommandLineService, RegistersStartsAndRemovesTheDriverService)
{
    ProgramRun run = Brannic("in8 0x80");
    EXPECT_EQ(1u, run.status) << Described("in8 0x80 (no service)", run);
    EXPECT_NE(std::string::npos, run.err.find("Brannic_InitExA returned 0")) << run.err;

    // Without a folder: the one of Brannic.dll, where the stand-in Tamsk.sys lies.
    run = Brannic("add-service");
    ASSERT_EQ(0u, run.status) << Described("add-service", run);
    driver_diag::ServiceConfig config;
    ASSERT_TRUE(driver_diag::QueryConfig(&config));
    EXPECT_EQ(DWORD(SERVICE_DEMAND_START), config.start);
    EXPECT_NE(std::string::npos, config.binary.find("Tamsk.sys")) << config.binary;
    EXPECT_FALSE(driver_diag::IsRunning());

    std::string install = "--install --auto --dir \"" + BinFolder() + "\" in8 0x80";
    run = Brannic(install);
    EXPECT_EQ(0u, run.status) << Described(install, run);
    EXPECT_EQ("0xDA\n", run.out);
    EXPECT_TRUE(driver_diag::IsRunning());
    // An existing registration gets its start type in the registry, not from the manager.
    DWORD start = 0, size = sizeof(start);
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE,
                                          "SYSTEM\\CurrentControlSet\\Services\\" PORTIO_SERVICE_NAME,
                                          "Start", RRF_RT_REG_DWORD, nullptr, &start, &size));
    EXPECT_EQ(DWORD(SERVICE_AUTO_START), start);

    // Removed on the way out: the running driver is marked for deletion.
    run = Brannic("--remove open");
    EXPECT_EQ(0u, run.status) << Described("--remove open", run);
    EXPECT_EQ(DWORD(ERROR_SERVICE_MARKED_FOR_DELETE), driver_diag::Delete());

    run = Brannic("remove-service");
    EXPECT_EQ(1u, run.status) << Described("remove-service (marked already)", run);
    EXPECT_NE(std::string::npos, run.err.find("Brannic_RemoveService returned 0")) << run.err;
}

}  // namespace
