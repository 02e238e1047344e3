// The stand-in driver Tamsk.sys, driven directly with DeviceIoControl: service, device, the
// four request families over the simulated machine, length checks, the log and the faults.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "driver_diag.h"

namespace {

using Bytes = std::vector<uint8_t>;
using driver_diag::Call;

constexpr DWORD kHoldMs = 300;
constexpr DWORD kTimerSlackMs = 20;     // clock granularity when measuring a hold
constexpr DWORD kHoldUpperMs = 5000;    // a hold must end well before this
constexpr uint8_t kFill = 0xCC;         // output preset, to see what the driver wrote

std::string Hex(const Bytes& b) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t v : b) {
        if (!s.empty()) s += ' ';
        s += digits[v >> 4];
        s += digits[v & 15];
    }
    return s;
}

std::string HexCode(uint32_t code) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(code));
    return buf;
}

void PutLe(Bytes* b, uint32_t v, unsigned width) {
    for (unsigned i = 0; i < width; i++) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t GetLe(const uint8_t* p, unsigned width) {
    uint32_t v = 0;
    for (unsigned i = 0; i < width; i++) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}

// The answer of one request: the call's result, error, bytes returned and output.
struct Answer {
    bool ok = false;
    DWORD error = 0;
    DWORD returned = 0;
    Bytes out;
    uint32_t Status() const { return out.size() >= 4 ? GetLe(out.data(), 4) : 0xDEADBEEF; }
};

class DriverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        installed_ = driver_diag::InstallAndStart(&error);
        ASSERT_TRUE(installed_) << error;
    }
    static void TearDownTestSuite() {
        std::string error;
        EXPECT_TRUE(driver_diag::StopAndRemove(&error)) << error;
    }
    void SetUp() override {
        ASSERT_TRUE(installed_);
        diag_ = std::make_unique<driver_diag::Device>();
        ASSERT_TRUE(diag_->IsOpen()) << "device open failed, error " << GetLastError();
        // Closes reach the driver after CloseHandle returns: let those of the start-up probe
        // arrive (every handle but this one closed) before the counts are cleared.
        portio_diag_counts c{};
        ASSERT_TRUE(diag_->Counts(&c));
        ASSERT_TRUE(diag_->WaitForCloses(c.opens - 1, &c)) << "opens " << c.opens << " closes " << c.closes;
        ASSERT_TRUE(diag_->Reset());
        ASSERT_TRUE(diag_->ResetMachine());
    }

    Answer Send(uint32_t code, const Bytes& in, DWORD out_len) {
        Answer a;
        a.out.assign(out_len, kFill);
        a.ok = Call(diag_->handle(), code, in.empty() ? nullptr : in.data(), static_cast<DWORD>(in.size()),
                    out_len ? a.out.data() : nullptr, out_len, &a.returned, &a.error);
        return a;
    }

    // Port family: index 0-2 reads, 3-5 writes, width 1, 2, 4.
    static unsigned WidthIndex(unsigned width) { return width == 1 ? 0 : width == 2 ? 1 : 2; }
    Answer PortWrite(unsigned width, uint32_t port, uint32_t value) {
        Bytes in;
        PutLe(&in, port, 4);
        PutLe(&in, value, width);
        return Send(PORTIO_OUTPUT_BYTE + 4 * WidthIndex(width), in, 0);
    }
    Answer PortRead(unsigned width, uint32_t port) {
        Bytes in;
        PutLe(&in, port, 4);
        return Send(PORTIO_INPUT_BYTE + 4 * WidthIndex(width), in, width);
    }

    Bytes IndexedSingle(uint32_t index_port, uint32_t data_port, unsigned width, uint32_t index,
                        const uint32_t* value) {
        Bytes in;
        PutLe(&in, index_port, 4);
        PutLe(&in, data_port, 4);
        PutLe(&in, 0, 4);
        PutLe(&in, index, width);
        if (value) PutLe(&in, *value, width);
        PutLe(&in, 0, 4);
        return in;
    }
    Bytes IndexedArray(uint32_t index_port, unsigned width, const std::vector<uint32_t>& indices,
                       const std::vector<uint32_t>* values) {
        Bytes in;
        PutLe(&in, index_port, 4);
        PutLe(&in, index_port + 1, 4);
        PutLe(&in, 0, 4);
        PutLe(&in, static_cast<uint32_t>(indices.size()), 4);
        PutLe(&in, 0, 4);
        for (size_t i = 0; i < indices.size(); i++) {
            PutLe(&in, indices[i], width);
            if (values) PutLe(&in, (*values)[i], width);
            PutLe(&in, 0, 4);
        }
        return in;
    }

    static Bytes EcDefault(uint8_t command, uint8_t data) {
        Bytes in(18, 0);
        in[0] = command;
        in[1] = data;
        return in;
    }
    static Bytes EcPorts(uint32_t command_port, uint32_t data_port, uint8_t command, uint8_t data) {
        Bytes in;
        PutLe(&in, command_port, 4);
        PutLe(&in, data_port, 4);
        in.push_back(command);
        in.push_back(data);
        in.resize(26, 0);
        return in;
    }
    static Bytes DorvaneBlock(uint8_t command, const Bytes& data) {
        Bytes in{command};
        PutLe(&in, static_cast<uint32_t>(data.size()), 4);
        in.insert(in.end(), data.begin(), data.end());
        return in;
    }

    uint32_t Peek(uint32_t space, uint32_t key, uint32_t address) {
        uint32_t v = 0xDEADBEEF;
        EXPECT_TRUE(diag_->Peek(space, key, address, &v)) << "peek space " << space << " address " << address;
        return v;
    }
    std::vector<portio_diag_log_entry> Log(uint32_t* total = nullptr) {
        std::vector<portio_diag_log_entry> log;
        EXPECT_TRUE(diag_->Log(&log, total));
        return log;
    }
    portio_diag_counts Counts() {
        portio_diag_counts c{};
        EXPECT_TRUE(diag_->Counts(&c));
        return c;
    }

    static bool installed_;
    std::unique_ptr<driver_diag::Device> diag_;
};

bool DriverTest::installed_ = false;

// ---- Service and device ----

TEST_F(DriverTest, ServiceRunsAndDeviceOpensAsTheLibraryOpensIt) {
    EXPECT_TRUE(driver_diag::IsRunning());
    HANDLE h = CreateFileA(PORTIO_DEVICE_PATH, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

TEST_F(DriverTest, CountsOpensAndCloses) {
    HANDLE h[3];
    for (HANDLE& x : h) x = CreateFileA(PORTIO_DEVICE_PATH, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    for (HANDLE x : h) EXPECT_NE(x, INVALID_HANDLE_VALUE);
    portio_diag_counts c = Counts();
    EXPECT_EQ(c.opens, 3u) << "opens are counted before CreateFileA returns";
    EXPECT_EQ(c.closes, 0u);
    CloseHandle(h[0]);
    CloseHandle(h[1]);
    EXPECT_TRUE(diag_->WaitForCloses(2, &c)) << "closes seen " << c.closes;
    EXPECT_EQ(c.opens, 3u);
    EXPECT_EQ(c.closes, 2u);
    CloseHandle(h[2]);
    EXPECT_TRUE(diag_->WaitForCloses(3, &c)) << "closes seen " << c.closes;
    EXPECT_EQ(c.opens, 3u);
    EXPECT_EQ(c.closes, 3u);
    EXPECT_EQ(c.requests, 0u) << "diagnostic requests are not family requests";
}

bool DeviceOpens() {
    HANDLE h = CreateFileA(PORTIO_DEVICE_PATH, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

TEST_F(DriverTest, StopThenStartLoadsAFreshMachine) {
    ASSERT_TRUE(diag_->Poke(PORTIO_SPACE_PORT, 0, 0x80, 0x12));
    diag_.reset();
    std::string error;
    ASSERT_TRUE(driver_diag::Stop(&error)) << error;
    EXPECT_FALSE(driver_diag::IsRunning());
    EXPECT_FALSE(DeviceOpens()) << "device still opens after the stop";
    ASSERT_TRUE(driver_diag::Start(&error)) << error;
    EXPECT_TRUE(driver_diag::IsRunning());
    driver_diag::Device diag;
    uint32_t v = 0;
    ASSERT_TRUE(diag.Peek(PORTIO_SPACE_PORT, 0, 0x80, &v));
    EXPECT_EQ(v, portio_unwritten_port(0x80));
}

TEST_F(DriverTest, StopAndRemoveThenInstallAgainBringsTheDeviceBack) {
    diag_.reset();
    std::string error;
    ASSERT_TRUE(driver_diag::StopAndRemove(&error)) << error;
    EXPECT_FALSE(driver_diag::IsRunning());
    EXPECT_FALSE(DeviceOpens()) << "device still opens after the removal";
    EXPECT_FALSE(driver_diag::Start(&error)) << "started a removed service";
    ASSERT_TRUE(driver_diag::InstallAndStart(&error)) << error;
    EXPECT_TRUE(driver_diag::IsRunning());
    EXPECT_TRUE(DeviceOpens());
}

// ---- Direct port I/O ----

struct PortCase { unsigned width; uint32_t port; uint32_t value; };

TEST_F(DriverTest, PortWritesReadBackAtEachWidth) {
    const PortCase cases[] = {
        {1, 0x0080, 0x5A}, {2, 0x1234, 0xBEEF}, {4, 0x0CF8, 0x80001234},
        {1, 0xFFFF, 0xA5}, {2, 0x0000, 0x0102}, {4, 0x0400, 0xFFFFFFFF},
    };
    for (const PortCase& c : cases) {
        SCOPED_TRACE("width " + std::to_string(c.width) + " port " + HexCode(c.port));
        Answer w = PortWrite(c.width, c.port, c.value);
        ASSERT_TRUE(w.ok) << "error " << w.error;
        EXPECT_EQ(w.returned, 0u);
        Answer r = PortRead(c.width, c.port);
        ASSERT_TRUE(r.ok) << "error " << r.error;
        EXPECT_EQ(r.returned, c.width);
        EXPECT_EQ(GetLe(r.out.data(), c.width), c.value) << "read " << Hex(r.out);
        for (unsigned i = 0; i < c.width; i++)
            EXPECT_EQ(Peek(PORTIO_SPACE_PORT, 0, (c.port + i) & 0xFFFF), (c.value >> (8 * i)) & 0xFF)
                << "byte " << i;
    }
}

TEST_F(DriverTest, PortWidthsCoverConsecutivePortsLittleEndian) {
    ASSERT_TRUE(PortWrite(4, 0x300, 0x11223344).ok);
    EXPECT_EQ(GetLe(PortRead(1, 0x300).out.data(), 1), 0x44u);
    EXPECT_EQ(GetLe(PortRead(1, 0x303).out.data(), 1), 0x11u);
    EXPECT_EQ(GetLe(PortRead(2, 0x301).out.data(), 2), 0x2233u);
    ASSERT_TRUE(PortWrite(1, 0x302, 0xEE).ok);
    EXPECT_EQ(GetLe(PortRead(4, 0x300).out.data(), 4), 0x11EE3344u);
    // A double word at 0xFFFE wraps to ports 0 and 1.
    ASSERT_TRUE(PortWrite(4, 0xFFFE, 0xA1B2C3D4).ok);
    EXPECT_EQ(GetLe(PortRead(2, 0x0000).out.data(), 2), 0xA1B2u);
}

TEST_F(DriverTest, UnwrittenPortsReadTheirPattern) {
    const uint32_t ports[] = {0x0000, 0x0061, 0x1234, 0xFFFF};
    for (uint32_t port : ports) {
        Answer r = PortRead(1, port);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.out[0], portio_unwritten_port(port)) << "port " << HexCode(port);
    }
    Answer r = PortRead(4, 0x1234);
    ASSERT_TRUE(r.ok);
    for (unsigned i = 0; i < 4; i++) EXPECT_EQ(r.out[i], portio_unwritten_port(0x1234 + i)) << "byte " << i;
}

TEST_F(DriverTest, PortNumberAboveFfffIsRefused) {
    Answer r = PortRead(1, 0x10000);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    Answer w = PortWrite(1, 0x10080, 0x77);
    EXPECT_FALSE(w.ok);
    EXPECT_NE(Peek(PORTIO_SPACE_PORT, 0, 0x80), 0x77u) << "refused write reached port 0x80";
}

// ---- Indexed registers ----

TEST_F(DriverTest, IndexedSingleWritesReadBackAtEachWidth) {
    const struct { unsigned width; uint32_t index; uint32_t value; } cases[] = {
        {1, 0x10, 0x5A}, {2, 0x1234, 0xBEEF}, {4, 0x80000010, 0xCAFEF00D},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("width " + std::to_string(c.width));
        unsigned w = WidthIndex(c.width);
        Answer write = Send(PORTIO_WRITE_INDEXED_BYTE + 4 * w, IndexedSingle(0x2E, 0x2F, c.width, c.index, &c.value), 0);
        ASSERT_TRUE(write.ok) << "error " << write.error;
        Answer read = Send(PORTIO_READ_INDEXED_BYTE + 4 * w, IndexedSingle(0x2E, 0x2F, c.width, c.index, nullptr), c.width);
        ASSERT_TRUE(read.ok) << "error " << read.error;
        EXPECT_EQ(read.returned, c.width);
        EXPECT_EQ(GetLe(read.out.data(), c.width), c.value) << "read " << Hex(read.out);
        EXPECT_EQ(Peek(PORTIO_SPACE_INDEXED, 0x2E, c.index), c.value);
    }
}

TEST_F(DriverTest, IndexedRegistersAreKeyedByIndexPortAndIndex) {
    const uint32_t v = 0x11;
    ASSERT_TRUE(Send(PORTIO_WRITE_INDEXED_BYTE, IndexedSingle(0x2E, 0x2F, 1, 0x20, &v), 0).ok);
    Answer other_port = Send(PORTIO_READ_INDEXED_BYTE, IndexedSingle(0x4E, 0x4F, 1, 0x20, nullptr), 1);
    Answer other_index = Send(PORTIO_READ_INDEXED_BYTE, IndexedSingle(0x2E, 0x2F, 1, 0x21, nullptr), 1);
    Answer other_data_port = Send(PORTIO_READ_INDEXED_BYTE, IndexedSingle(0x2E, 0x99, 1, 0x20, nullptr), 1);
    EXPECT_EQ(other_port.out[0], static_cast<uint8_t>(portio_unwritten_register(0x4E, 0x20)));
    EXPECT_EQ(other_index.out[0], static_cast<uint8_t>(portio_unwritten_register(0x2E, 0x21)));
    EXPECT_EQ(other_data_port.out[0], 0x11) << "the data port is not part of the key";
    // Registers are not ports.
    EXPECT_EQ(Peek(PORTIO_SPACE_PORT, 0, 0x2F), portio_unwritten_port(0x2F));
}

TEST_F(DriverTest, IndexedByteWriteStoresTheValueZeroExtended) {
    const uint32_t wide = 0xFFFFFFFF, narrow = 0x42;
    ASSERT_TRUE(Send(PORTIO_WRITE_INDEXED_DWORD, IndexedSingle(0x70, 0x71, 4, 0x05, &wide), 0).ok);
    ASSERT_TRUE(Send(PORTIO_WRITE_INDEXED_BYTE, IndexedSingle(0x70, 0x71, 1, 0x05, &narrow), 0).ok);
    Answer r = Send(PORTIO_READ_INDEXED_DWORD, IndexedSingle(0x70, 0x71, 4, 0x05, nullptr), 4);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(GetLe(r.out.data(), 4), 0x42u) << Hex(r.out);
}

TEST_F(DriverTest, IndexedArraysWriteAndReadInElementOrder) {
    for (unsigned width : {1u, 2u, 4u}) {
        SCOPED_TRACE("width " + std::to_string(width));
        unsigned w = WidthIndex(width);
        const uint32_t mask = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
        std::vector<uint32_t> indices = {0x03, 0x01, 0x02};
        std::vector<uint32_t> values = {0xA1A2A3A4 & mask, 0xB1B2B3B4 & mask, 0xC1C2C3C4 & mask};
        Answer write = Send(PORTIO_WRITE_INDEXED_BYTE_ARRAY + 4 * w, IndexedArray(0x500, width, indices, &values), 0);
        ASSERT_TRUE(write.ok) << "error " << write.error;
        std::vector<uint32_t> read_indices = {0x02, 0x09, 0x03, 0x01};
        Answer read = Send(PORTIO_READ_INDEXED_BYTE_ARRAY + 4 * w, IndexedArray(0x500, width, read_indices, nullptr),
                           4 * width);
        ASSERT_TRUE(read.ok) << "error " << read.error;
        EXPECT_EQ(read.returned, 4 * width);
        const uint32_t expected[] = {values[2], portio_unwritten_register(0x500, 0x09) & mask, values[0], values[1]};
        for (unsigned i = 0; i < 4; i++)
            EXPECT_EQ(GetLe(read.out.data() + i * width, width), expected[i]) << "element " << i << ": " << Hex(read.out);
    }
}

// ---- EC commands ----

TEST_F(DriverTest, EcCommandsOnTheDefaultPair) {
    Answer select = Send(PORTIO_EC_COMMAND_RESPONSE, EcDefault(PORTIO_EC_CMD_SELECT, 0x10), 5);
    ASSERT_TRUE(select.ok);
    EXPECT_EQ(select.Status(), 1u);
    EXPECT_EQ(select.out[4], portio_unwritten_ec_ram(0x10));
    Answer write = Send(PORTIO_EC_COMMAND, EcDefault(PORTIO_EC_CMD_WRITE, 0x77), 4);
    ASSERT_TRUE(write.ok);
    EXPECT_EQ(write.returned, 4u);
    EXPECT_EQ(write.Status(), 1u);
    Answer write2 = Send(PORTIO_EC_COMMAND, EcDefault(PORTIO_EC_CMD_WRITE, 0x78), 4);
    ASSERT_TRUE(write2.ok);
    EXPECT_EQ(Peek(PORTIO_SPACE_EC_RAM, 0, 0x10), 0x77u);
    EXPECT_EQ(Peek(PORTIO_SPACE_EC_RAM, 0, 0x11), 0x78u) << "the pointer moves on after a write";
    Answer read = Send(PORTIO_EC_COMMAND_RESPONSE, EcDefault(PORTIO_EC_CMD_READ, 0x10), 5);
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.returned, 5u);
    EXPECT_EQ(read.Status(), 1u);
    EXPECT_EQ(read.out[4], 0x77) << Hex(read.out);
    Answer other = Send(PORTIO_EC_COMMAND_RESPONSE, EcDefault(0x45, 0x8B), 5);
    ASSERT_TRUE(other.ok);
    EXPECT_EQ(other.out[4], 0x45 ^ 0xFF);
}

TEST_F(DriverTest, EcCommandsOnNamedPairsReachTheirOwnEc) {
    ASSERT_TRUE(Send(PORTIO_EC_COMMAND_PORTS, EcPorts(0x6C, 0x68, PORTIO_EC_CMD_SELECT, 0x30), 4).ok);
    Answer write = Send(PORTIO_EC_COMMAND_PORTS_RESPONSE, EcPorts(0x6C, 0x68, PORTIO_EC_CMD_WRITE, 0x5E), 5);
    ASSERT_TRUE(write.ok);
    EXPECT_EQ(write.Status(), 1u);
    EXPECT_EQ(write.out[4], 0x5E);
    EXPECT_EQ(Peek(PORTIO_SPACE_EC_RAM, 0x6C, 0x30), 0x5Eu);
    EXPECT_EQ(Peek(PORTIO_SPACE_EC_RAM, 0, 0x30), portio_unwritten_ec_ram(0x30)) << "default EC changed";
    Answer read_default = Send(PORTIO_EC_COMMAND_RESPONSE, EcDefault(PORTIO_EC_CMD_READ, 0x30), 5);
    EXPECT_EQ(read_default.out[4], portio_unwritten_ec_ram(0x30));
    // The default ports named explicitly reach the default EC.
    ASSERT_TRUE(Send(PORTIO_EC_COMMAND_PORTS, EcPorts(PORTIO_EC_DEFAULT_COMMAND_PORT, PORTIO_EC_DEFAULT_DATA_PORT,
                                                       PORTIO_EC_CMD_WRITE, 0x99), 4).ok);
    EXPECT_EQ(Peek(PORTIO_SPACE_EC_RAM, 0, 0x30), 0x99u) << "the read above left the pointer at 0x30";
}

// ---- Dorvane index method ----

TEST_F(DriverTest, DorvaneGetsReturnWhatTheLastSetStored) {
    const struct { uint32_t set, get; Bytes value; } cases[] = {
        {PORTIO_DORVANE_SET_PORT_TYPE, PORTIO_DORVANE_GET_PORT_TYPE, {0x03}},
        {PORTIO_DORVANE_SET_IO_ADDRESS, PORTIO_DORVANE_GET_IO_ADDRESS, {0xA2, 0xA1, 0xB2, 0xB1, 0xC2, 0xC1, 0xD2, 0xD1}},
        {PORTIO_DORVANE_SET_PORT_DEVICE, PORTIO_DORVANE_GET_PORT_DEVICE, {0x11, 0x22, 0x33, 0x44}},
        {PORTIO_DORVANE_SET_EC_ADDRESS, PORTIO_DORVANE_GET_EC_ADDRESS, {0x00, 0x0F, 0x10, 0x0F, 0x20, 0x0F, 0x30, 0x0F}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("set " + HexCode(c.set));
        Answer before = Send(c.get, {}, static_cast<DWORD>(c.value.size()));
        ASSERT_TRUE(before.ok);
        EXPECT_EQ(before.out, Bytes(c.value.size(), 0)) << "start value " << Hex(before.out);
        Answer set = Send(c.set, c.value, 4);
        ASSERT_TRUE(set.ok) << "error " << set.error;
        EXPECT_EQ(set.Status(), 1u);
        Answer get = Send(c.get, {}, static_cast<DWORD>(c.value.size()));
        ASSERT_TRUE(get.ok);
        EXPECT_EQ(get.returned, c.value.size());
        EXPECT_EQ(Hex(get.out), Hex(c.value));
    }
    // Each set touches only its own field.
    EXPECT_EQ(Send(PORTIO_DORVANE_GET_PORT_TYPE, {}, 1).out, Bytes{0x03});
}

TEST_F(DriverTest, DorvaneSendingRequestsDriveTheDorvaneEc) {
    Answer select = Send(PORTIO_DORVANE_DATA, {PORTIO_EC_CMD_SELECT, 0x20}, 4);
    ASSERT_TRUE(select.ok);
    EXPECT_EQ(select.Status(), 1u);
    Answer write = Send(PORTIO_DORVANE_DATA_RESPONSE, {PORTIO_EC_CMD_WRITE, 0x99}, 5);
    ASSERT_TRUE(write.ok);
    EXPECT_EQ(write.Status(), 1u);
    EXPECT_EQ(write.out[4], 0x99);
    Answer block = Send(PORTIO_DORVANE_DATA_ARRAY, DorvaneBlock(PORTIO_EC_CMD_WRITE, {0x40, 0x41, 0x42}), 4);
    ASSERT_TRUE(block.ok) << "error " << block.error;
    EXPECT_EQ(block.Status(), 1u);
    const uint8_t expected[] = {0x99, 0x40, 0x41, 0x42};
    for (unsigned i = 0; i < 4; i++)
        EXPECT_EQ(Peek(PORTIO_SPACE_DORVANE_EC_RAM, 0, 0x20 + i), expected[i]) << "address " << 0x20 + i;
    // The command alone reads at the pointer, now after the block.
    ASSERT_TRUE(diag_->Poke(PORTIO_SPACE_DORVANE_EC_RAM, 0, 0x24, 0x6D));
    Answer alone = Send(PORTIO_DORVANE_COMMAND_RESPONSE, {PORTIO_EC_CMD_READ}, 5);
    ASSERT_TRUE(alone.ok);
    EXPECT_EQ(alone.out[4], 0x6D);
    EXPECT_TRUE(Send(PORTIO_DORVANE_COMMAND, {0x45}, 4).ok);
    // The EC of the default pair is a different EC.
    EXPECT_EQ(Peek(PORTIO_SPACE_EC_RAM, 0, 0x20), portio_unwritten_ec_ram(0x20));
}

TEST_F(DriverTest, DorvaneDataWithResponseTellsThePairFromTheBlock) {
    // Two bytes: command 0x82 selects address 0x33 (the data byte).
    Answer pair = Send(PORTIO_DORVANE_DATA_RESPONSE, {PORTIO_EC_CMD_SELECT, 0x33}, 5);
    ASSERT_TRUE(pair.ok);
    EXPECT_EQ(pair.out[4], portio_unwritten_ec_ram(0x33));
    // 5 + count: a block whose last byte is the address selected.
    Answer block = Send(PORTIO_DORVANE_DATA_RESPONSE, DorvaneBlock(PORTIO_EC_CMD_SELECT, {0x01, 0x02, 0x05}), 5);
    ASSERT_TRUE(block.ok) << "error " << block.error;
    EXPECT_EQ(block.Status(), 1u);
    EXPECT_EQ(block.out[4], portio_unwritten_ec_ram(0x05));
    // A block of one byte is 6 long and still a block: it writes at the pointer.
    Answer one = Send(PORTIO_DORVANE_DATA_RESPONSE, DorvaneBlock(PORTIO_EC_CMD_WRITE, {0xE7}), 5);
    ASSERT_TRUE(one.ok);
    EXPECT_EQ(Peek(PORTIO_SPACE_DORVANE_EC_RAM, 0, 0x05), 0xE7u);
    const Bytes refused[] = {
        {PORTIO_EC_CMD_WRITE},                        // 1 byte
        {PORTIO_EC_CMD_WRITE, 0x01, 0x00},            // 3 bytes
        {PORTIO_EC_CMD_WRITE, 0x01, 0x00, 0x00, 0x00},// count 1 without its byte
        {PORTIO_EC_CMD_WRITE, 0x02, 0x00, 0x00, 0x00, 0xAA},  // count 2, one byte
        {PORTIO_EC_CMD_WRITE, 0x00, 0x00, 0x00, 0x00, 0xAA},  // count 0
    };
    for (const Bytes& in : refused) {
        Answer a = Send(PORTIO_DORVANE_DATA_RESPONSE, in, 5);
        EXPECT_FALSE(a.ok) << "input " << Hex(in);
        EXPECT_EQ(a.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "input " << Hex(in);
    }
    EXPECT_EQ(Peek(PORTIO_SPACE_DORVANE_EC_RAM, 0, 0x06), portio_unwritten_ec_ram(0x06)) << "a refused block wrote";
}

// ---- Lengths ----

struct LengthCase { uint32_t code; DWORD in_len; DWORD out_len; };

TEST_F(DriverTest, EveryCodeRefusesLengthsOtherThanItsRecords) {
    const LengthCase cases[] = {
        {PORTIO_INPUT_BYTE, 4, 1}, {PORTIO_INPUT_WORD, 4, 2}, {PORTIO_INPUT_DWORD, 4, 4},
        {PORTIO_OUTPUT_BYTE, 5, 0}, {PORTIO_OUTPUT_WORD, 6, 0}, {PORTIO_OUTPUT_DWORD, 8, 0},
        {PORTIO_READ_INDEXED_BYTE, 17, 1}, {PORTIO_READ_INDEXED_WORD, 18, 2}, {PORTIO_READ_INDEXED_DWORD, 20, 4},
        {PORTIO_WRITE_INDEXED_BYTE, 18, 0}, {PORTIO_WRITE_INDEXED_WORD, 20, 0}, {PORTIO_WRITE_INDEXED_DWORD, 24, 0},
        {PORTIO_READ_INDEXED_BYTE_ARRAY, 20 + 2 * 5, 2}, {PORTIO_READ_INDEXED_WORD_ARRAY, 20 + 2 * 6, 4},
        {PORTIO_READ_INDEXED_DWORD_ARRAY, 20 + 2 * 8, 8}, {PORTIO_WRITE_INDEXED_BYTE_ARRAY, 20 + 2 * 6, 0},
        {PORTIO_WRITE_INDEXED_WORD_ARRAY, 20 + 2 * 8, 0}, {PORTIO_WRITE_INDEXED_DWORD_ARRAY, 20 + 2 * 12, 0},
        {PORTIO_EC_COMMAND, 18, 4}, {PORTIO_EC_COMMAND_RESPONSE, 18, 5},
        {PORTIO_EC_COMMAND_PORTS, 26, 4}, {PORTIO_EC_COMMAND_PORTS_RESPONSE, 26, 5},
        {PORTIO_DORVANE_SET_PORT_TYPE, 1, 4}, {PORTIO_DORVANE_SET_IO_ADDRESS, 8, 4},
        {PORTIO_DORVANE_SET_PORT_DEVICE, 4, 4}, {PORTIO_DORVANE_GET_PORT_TYPE, 0, 1},
        {PORTIO_DORVANE_GET_IO_ADDRESS, 0, 8}, {PORTIO_DORVANE_GET_PORT_DEVICE, 0, 4},
        {PORTIO_DORVANE_GET_EC_ADDRESS, 0, 8}, {PORTIO_DORVANE_SET_EC_ADDRESS, 8, 4},
        {PORTIO_DORVANE_COMMAND, 1, 4}, {PORTIO_DORVANE_COMMAND_RESPONSE, 1, 5},
        {PORTIO_DORVANE_DATA, 2, 4}, {PORTIO_DORVANE_DATA_RESPONSE, 2, 5}, {PORTIO_DORVANE_DATA_ARRAY, 5 + 2, 4},
    };
    for (const LengthCase& c : cases) {
        SCOPED_TRACE("code " + HexCode(c.code));
        // A valid record of this size: port 0x80, index ports 0x2E, count 2 at offset 12
        // (arrays) or at offset 1 (Dorvane block), EC ports 0x6C/0x68.
        Bytes in(c.in_len, 0);
        if (c.code >= PORTIO_READ_INDEXED_BYTE_ARRAY && c.code <= PORTIO_WRITE_INDEXED_DWORD_ARRAY) in[12] = 2;
        if (c.code == PORTIO_DORVANE_DATA_ARRAY) in[1] = 2;
        if (c.code <= PORTIO_OUTPUT_DWORD) in[0] = 0x80;
        if (c.code >= PORTIO_READ_INDEXED_BYTE && c.code <= PORTIO_WRITE_INDEXED_DWORD_ARRAY) in[0] = 0x2E;
        if (c.code == PORTIO_EC_COMMAND_PORTS || c.code == PORTIO_EC_COMMAND_PORTS_RESPONSE) {
            in[0] = 0x6C;
            in[4] = 0x68;
        }
        Answer good = Send(c.code, in, c.out_len);
        EXPECT_TRUE(good.ok) << "valid lengths " << c.in_len << "/" << c.out_len << " refused, error " << good.error;
        const LengthCase wrong[] = {
            {c.code, c.in_len + 1, c.out_len}, {c.code, c.in_len - 1, c.out_len},
            {c.code, c.in_len, c.out_len + 1}, {c.code, c.in_len, c.out_len - 1},
        };
        for (const LengthCase& w : wrong) {
            if (w.in_len == 0xFFFFFFFFu || w.out_len == 0xFFFFFFFFu) continue;  // cannot shrink 0
            Bytes bad = in;
            bad.resize(w.in_len, 0);
            Answer a = Send(c.code, bad, w.out_len);
            EXPECT_FALSE(a.ok) << "lengths " << w.in_len << "/" << w.out_len << " accepted";
            EXPECT_EQ(a.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER))
                << "lengths " << w.in_len << "/" << w.out_len;
        }
    }
}

TEST_F(DriverTest, ArrayCountMustMatchTheLength) {
    Bytes in = IndexedArray(0x2E, 1, {1, 2, 3}, nullptr);
    in[12] = 4;  // four elements claimed, three sent
    EXPECT_FALSE(Send(PORTIO_READ_INDEXED_BYTE_ARRAY, in, 4).ok);
    EXPECT_FALSE(Send(PORTIO_READ_INDEXED_BYTE_ARRAY, in, 3).ok);
    in[12] = 0;
    EXPECT_FALSE(Send(PORTIO_READ_INDEXED_BYTE_ARRAY, Bytes(in.begin(), in.begin() + 20), 0).ok) << "count 0";
}

TEST_F(DriverTest, CodesWithoutARequestAreRefused) {
    const uint32_t codes[] = {PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 8), PORTIO_FAMILY_CODE(PORTIO_BASE_DORVANE, 9),
                              PORTIO_FAMILY_CODE(PORTIO_BASE_PORT, 6), PORTIO_CODE(2047)};
    for (uint32_t code : codes) {
        Answer a = Send(code, {0, 0, 0, 0}, 4);
        EXPECT_FALSE(a.ok) << HexCode(code);
    }
    EXPECT_EQ(Counts().requests, 4u) << "refused family codes are still logged";
}

// ---- Log and counts ----

TEST_F(DriverTest, LogRecordsCodeLengthsBytesAndProcess) {
    ASSERT_TRUE(PortWrite(2, 0xFFFF, 0xA55A).ok);
    ASSERT_TRUE(Send(PORTIO_EC_COMMAND_PORTS_RESPONSE, EcPorts(0x6C, 0x68, 0x80, 0x12), 5).ok);
    Send(PORTIO_INPUT_BYTE, {1, 2, 3}, 1);  // refused, logged
    std::vector<portio_diag_log_entry> log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(HexCode(log[0].code), HexCode(PORTIO_OUTPUT_WORD));
    EXPECT_EQ(log[0].input_length, 6u);
    EXPECT_EQ(log[0].output_length, 0u);
    EXPECT_EQ(Hex(Bytes(log[0].input, log[0].input + 6)), "FF FF 00 00 5A A5");
    EXPECT_EQ(log[0].process_id, GetCurrentProcessId());
    EXPECT_EQ(HexCode(log[1].code), HexCode(PORTIO_EC_COMMAND_PORTS_RESPONSE));
    EXPECT_EQ(log[1].input_length, 26u);
    EXPECT_EQ(log[1].output_length, 5u);
    EXPECT_EQ(Hex(Bytes(log[1].input, log[1].input + 10)), "6C 00 00 00 68 00 00 00 80 12");
    EXPECT_EQ(Hex(Bytes(log[1].input + 26, log[1].input + 30)), "00 00 00 00") << "bytes past the input";
    EXPECT_EQ(log[2].input_length, 3u);
    EXPECT_EQ(log[2].output_length, 1u);
    EXPECT_EQ(Counts().requests, 3u);
    // A long request keeps its first bytes.
    std::vector<uint32_t> indices(40, 0x07);
    Bytes in = IndexedArray(0x2E, 1, indices, nullptr);
    in[20 + 5 * 25] = 0x55;  // inside the kept bytes
    ASSERT_TRUE(Send(PORTIO_READ_INDEXED_BYTE_ARRAY, in, 40).ok);
    log = Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[3].input_length, in.size());
    EXPECT_EQ(Hex(Bytes(log[3].input, log[3].input + PORTIO_DIAG_LOG_INPUT_BYTES)),
              Hex(Bytes(in.begin(), in.begin() + PORTIO_DIAG_LOG_INPUT_BYTES)));
}

TEST_F(DriverTest, LogKeepsTheLastEntriesAndCountsAll) {
    const uint32_t n = PORTIO_DIAG_LOG_ENTRIES + 6;
    for (uint32_t i = 0; i < n; i++) ASSERT_TRUE(PortWrite(1, 0x100 + i, 0).ok);
    uint32_t total = 0;
    std::vector<portio_diag_log_entry> log = Log(&total);
    EXPECT_EQ(total, n);
    ASSERT_EQ(log.size(), static_cast<size_t>(PORTIO_DIAG_LOG_ENTRIES));
    EXPECT_EQ(GetLe(log.front().input, 4), 0x100u + 6) << "oldest kept entry";
    EXPECT_EQ(GetLe(log.back().input, 4), 0x100u + n - 1) << "newest entry";
    EXPECT_EQ(Counts().requests, n);
    ASSERT_TRUE(diag_->Reset());
    EXPECT_TRUE(Log(&total).empty());
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(Counts().requests, 0u);
}

// ---- Faults ----

TEST_F(DriverTest, FailFaultFailsTheNextRequestsOnly) {
    ASSERT_TRUE(diag_->SetFault(PORTIO_FAULT_FAIL, 0, 2));
    portio_diag_counts c = Counts();  // diagnostic requests pass a pending fault
    EXPECT_EQ(c.requests, 0u);
    Answer first = PortWrite(1, 0x80, 0x11);
    Answer second = PortRead(1, 0x80);
    Answer third = PortRead(1, 0x80);
    EXPECT_FALSE(first.ok);
    EXPECT_FALSE(second.ok);
    EXPECT_NE(first.error, 0u);
    EXPECT_EQ(second.out[0], kFill) << "a failed request wrote output";
    ASSERT_TRUE(third.ok) << "error " << third.error;
    EXPECT_EQ(third.out[0], portio_unwritten_port(0x80)) << "the failed write was carried out";
    EXPECT_EQ(Log().size(), 3u);
    // Until the reset.
    ASSERT_TRUE(diag_->SetFault(PORTIO_FAULT_FAIL, 0, 0xFFFFFFFFu));
    for (int i = 0; i < 3; i++) EXPECT_FALSE(PortRead(1, 0x80).ok) << "request " << i;
    ASSERT_TRUE(diag_->Reset());
    EXPECT_TRUE(PortRead(1, 0x80).ok);
    EXPECT_FALSE(diag_->SetFault(PORTIO_FAULT_HOLD + 1, 0)) << "unknown fault kind";
}

TEST_F(DriverTest, StatusFaultReplacesTheStatusDoubleWord) {
    for (uint32_t value : {0u, 2u}) {
        SCOPED_TRACE("status " + std::to_string(value));
        ASSERT_TRUE(diag_->SetFault(PORTIO_FAULT_STATUS, value, 3));
        Answer ec = Send(PORTIO_EC_COMMAND_RESPONSE, EcDefault(PORTIO_EC_CMD_READ, 0x10), 5);
        Answer set = Send(PORTIO_DORVANE_SET_PORT_TYPE, {0x01}, 4);
        Answer send = Send(PORTIO_DORVANE_DATA_ARRAY, DorvaneBlock(0x81, {0x01}), 4);
        for (const Answer* a : {&ec, &set, &send}) {
            ASSERT_TRUE(a->ok);
            EXPECT_EQ(a->Status(), value) << Hex(a->out);
        }
        EXPECT_EQ(ec.out[4], portio_unwritten_ec_ram(0x10)) << "the response byte stays";
        Answer after = Send(PORTIO_EC_COMMAND, EcDefault(0x80, 0x10), 4);
        EXPECT_EQ(after.Status(), 1u) << "fault outlived its count";
    }
}

TEST_F(DriverTest, ShortFillFillsOnlyTheFirstBytes) {
    const struct { uint32_t value; DWORD expected; } cases[] = {{0, 0}, {2, 2}, {4, 4}, {9, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE("short fill " + std::to_string(c.value));
        ASSERT_TRUE(diag_->SetFault(PORTIO_FAULT_SHORT_FILL, c.value));
        Answer a = Send(PORTIO_EC_COMMAND_RESPONSE, EcDefault(PORTIO_EC_CMD_READ, 0x10), 5);
        ASSERT_TRUE(a.ok) << "error " << a.error;
        EXPECT_EQ(a.returned, c.expected);
        Bytes full = {1, 0, 0, 0, portio_unwritten_ec_ram(0x10)};
        for (DWORD i = 0; i < 5; i++)
            EXPECT_EQ(a.out[i], i < c.expected ? full[i] : kFill) << "byte " << i << " of " << Hex(a.out);
    }
}

TEST_F(DriverTest, HoldFaultDelaysTheAnswer) {
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    ASSERT_TRUE(diag_->SetFault(PORTIO_FAULT_HOLD, kHoldMs));
    QueryPerformanceCounter(&t0);
    Answer a = Send(PORTIO_EC_COMMAND_RESPONSE, EcDefault(PORTIO_EC_CMD_READ, 0x10), 5);
    QueryPerformanceCounter(&t1);
    const double held_ms = 1000.0 * (t1.QuadPart - t0.QuadPart) / freq.QuadPart;
    ASSERT_TRUE(a.ok) << "error " << a.error;
    EXPECT_EQ(a.Status(), 1u);
    EXPECT_EQ(a.out[4], portio_unwritten_ec_ram(0x10));
    EXPECT_GE(held_ms, kHoldMs - kTimerSlackMs);
    EXPECT_LT(held_ms, kHoldUpperMs);
    QueryPerformanceCounter(&t0);
    ASSERT_TRUE(PortRead(1, 0x80).ok);
    QueryPerformanceCounter(&t1);
    const double next_ms = 1000.0 * (t1.QuadPart - t0.QuadPart) / freq.QuadPart;
    EXPECT_LT(next_ms, kHoldMs - kTimerSlackMs) << "the next request was held too";
}

// ---- Diagnostics ----

TEST_F(DriverTest, PeekAndPokeReachEachSpace) {
    const struct { uint32_t space, key, address, value, expected; } cases[] = {
        {PORTIO_SPACE_PORT, 0, 0x1F0, 0x1AB, 0xAB},
        {PORTIO_SPACE_INDEXED, 0x2E, 0x07, 0x12345678, 0x12345678},
        {PORTIO_SPACE_EC_RAM, 0, 0xFF, 0x3C, 0x3C},
        {PORTIO_SPACE_EC_RAM, 0x6C, 0x01, 0x4D, 0x4D},
        {PORTIO_SPACE_DORVANE_EC_RAM, 0, 0x80, 0x5E, 0x5E},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("space " + std::to_string(c.space) + " address " + std::to_string(c.address));
        ASSERT_TRUE(diag_->Poke(c.space, c.key, c.address, c.value));
        EXPECT_EQ(Peek(c.space, c.key, c.address), c.expected);
    }
    uint32_t v;
    EXPECT_FALSE(diag_->Peek(PORTIO_SPACE_EC_RAM, 0, 0x100, &v)) << "EC RAM has 256 bytes";
    EXPECT_FALSE(diag_->Peek(PORTIO_SPACE_PORT, 0, 0x10000, &v));
    EXPECT_FALSE(diag_->Peek(7, 0, 0, &v));
    ASSERT_TRUE(diag_->ResetMachine());
    EXPECT_EQ(Peek(PORTIO_SPACE_PORT, 0, 0x1F0), portio_unwritten_port(0x1F0));
    EXPECT_EQ(Peek(PORTIO_SPACE_INDEXED, 0x2E, 0x07), portio_unwritten_register(0x2E, 0x07));
    EXPECT_EQ(Peek(PORTIO_SPACE_EC_RAM, 0x6C, 0x01), portio_unwritten_ec_ram(0x01));
    EXPECT_EQ(Counts().requests, 0u) << "diagnostic requests are not counted";
}

}  // namespace
