// The library's requests against the stand-in driver: the exact bytes of every record family,
// and the results. Run by the test program itself under a second name that Wine reports as
// Windows 98: the port exports without a device. (Bad input and a closed library, the export
// sweep of test_portlib_exports.cpp.)
#include "brannic_exports.h"
#include "portlib_test.h"

#include <cstring>
#include <functional>

using namespace portlib_test;

namespace {

const uint32_t kCanary = 0xC5C5C5C5;

class LibraryRequests : public OpenLibrary {
protected:
    // What call gives when the driver answers status 2 (whenStatus2, and the response byte
    // storedWithStatus2 unless that is -1) and status 0, leaves the reply unfilled, or fails
    // the request: 0, with the response byte (preset 0xEE) left alone.
    void ExpectFaultResults(const std::function<DWORD(BYTE*)>& call, DWORD whenStatus2,
                            int storedWithStatus2 = -1)
    {
        BYTE response = 0xEE;
        ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_STATUS, 2, 1));
        EXPECT_EQ(whenStatus2, call(&response)) << "status 2";
        if (storedWithStatus2 >= 0) {
            EXPECT_EQ(storedWithStatus2, response) << "the response with status 2";
        }
        response = 0xEE;
        ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_STATUS, 0, 1));
        EXPECT_EQ(0u, call(&response)) << "status 0";
        ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_SHORT_FILL, 0, 1));
        DirtyStack();
        EXPECT_EQ(0u, call(&response)) << "an unfilled reply";
        ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_FAIL, 0, 1));
        EXPECT_EQ(0u, call(&response)) << "a failed request";
        EXPECT_EQ(0xEE, response) << "stored after status 0, an unfilled reply or a failure";
    }
};

uint32_t Mask(unsigned width) { return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

// ---- Records spelled out byte for byte (the family tables below spell out the Dorvane ones) ----

TEST_F(LibraryRequests, RecordsByteForByte)
{
    static BYTE s_out[4];
    struct Case {
        const char* name;
        std::function<DWORD()> call;
        uint32_t code;
        Bytes input;
        uint32_t output;
    };
    const Case cases[] = {
        {"Brannic_ReadIndexedByteArray, count 3",
         [] {
             static const BYTE kIndices[3] = {0x10, 0x20, 0x30};
             return (DWORD)Brannic_ReadIndexedByteArray(0x70, 0x71, 3, kIndices, s_out);
         },
         0x9C4021A8,
         {0x70, 0, 0,    0, 0x71, 0, 0, 0,    0, 0, 0, 0, 3,    0, 0, 0, 0, 0,
          0,    0, 0x10, 0, 0,    0, 0, 0x20, 0, 0, 0, 0, 0x30, 0, 0, 0, 0},
         3},
        {"Brannic_WriteIndexedDWordArray, count 1",
         [] {
             static const DWORD kIndex = 0x04030201, kValue = 0x08070605;
             return (DWORD)Brannic_WriteIndexedDWordArray(0x70, 0x71, 1, &kIndex, &kValue);
         },
         0x9C4021BC,
         {0x70, 0, 0, 0, 0x71, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0,
          0,    0, 0, 0, 1,    2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0},
         0},
        {"Brannic_WriteIndexedByte",
         [] { return (DWORD)Brannic_WriteIndexedByte(0x2E, 0x2F, 0x07, 0x5A); },
         0x9C40219C,
         {0x2E, 0, 0, 0, 0x2F, 0, 0, 0, 0, 0, 0, 0, 0x07, 0x5A, 0, 0, 0, 0},
         0},
        {"Brannic_SendECCommand", [] { return Brannic_SendECCommand(0x80, 0x15); }, 0x9C402320,
         Cat({{0x80, 0x15}, Zeros(16)}), 4},
        {"Brannic_SendSpecifiedPortECCommandWithResponse",
         [] {
             return Brannic_SendSpecifiedPortECCommandWithResponse(0x6C, 0x68, 0x80, 0x15, s_out);
         },
         0x9C40232C, Cat({{0x6C, 0, 0, 0, 0x68, 0, 0, 0, 0x80, 0x15}, Zeros(16)}), 5},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(diag.Reset());
        EXPECT_NE(0u, c.call()) << c.name;
        ExpectOneRequest(c.name, c.code, c.input, c.output);
    }
}

// ---- Single ports ----

struct PortExport {
    const char* name;
    uint32_t code;
    unsigned width;
    bool write;
    std::function<BOOL(DWORD, DWORD, void*)> call;  // port, value (writes), result or `written`
};

const PortExport kPorts[] = {
    {"Brannic_InputByteValue", PORTIO_INPUT_BYTE, 1, false,
     [](DWORD p, DWORD, void* v) { return Brannic_InputByteValue(p, (BYTE*)v); }},
    {"Brannic_InputWordValue", PORTIO_INPUT_WORD, 2, false,
     [](DWORD p, DWORD, void* v) { return Brannic_InputWordValue(p, (WORD*)v); }},
    {"Brannic_InputDWordValue", PORTIO_INPUT_DWORD, 4, false,
     [](DWORD p, DWORD, void* v) { return Brannic_InputDWordValue(p, (DWORD*)v); }},
    {"Brannic_OutputByteValue", PORTIO_OUTPUT_BYTE, 1, true,
     [](DWORD p, DWORD v, void* w) { return Brannic_OutputByteValue(p, v, (BYTE*)w); }},
    {"Brannic_OutputWordValue", PORTIO_OUTPUT_WORD, 2, true,
     [](DWORD p, DWORD v, void* w) { return Brannic_OutputWordValue(p, v, (WORD*)w); }},
    {"Brannic_OutputDWordValue", PORTIO_OUTPUT_DWORD, 4, true,
     [](DWORD p, DWORD v, void* w) { return Brannic_OutputDWordValue(p, v, (DWORD*)w); }},
};

TEST_F(LibraryRequests, PortRecordsAndResults)
{
    // Port 0xFFFF and the ports after it (the machine wraps) hold 11 22 33 44.
    const uint8_t machine[4] = {0x11, 0x22, 0x33, 0x44};
    for (uint32_t i = 0; i < 4; i++)
        ASSERT_TRUE(diag.Poke(PORTIO_SPACE_PORT, 0, (0xFFFF + i) & 0xFFFF, machine[i]));
    for (const PortExport& e : kPorts) {
        for (uint32_t port : {0x0000FFFFu, 0xABCDFFFFu}) {
            SCOPED_TRACE(std::string(e.name) + " port argument " + CodeText(port));
            ASSERT_TRUE(diag.Reset());
            uint8_t out[8];
            memset(out, 0xC5, sizeof(out));
            EXPECT_EQ(1, e.call(port, 0xA1B2C3D4, out));
            // A write reports the value written; a read the port's bytes.
            Bytes value = e.write ? Le(0xA1B2C3D4, e.width) : Bytes(machine, machine + e.width);
            EXPECT_EQ(Hex(Cat({value, Bytes(8 - e.width, 0xC5)})), Hex(out, sizeof(out)));
            ExpectOneRequest(e.name, e.code,
                             Cat({{0xFF, 0xFF, 0x00, 0x00}, e.write ? value : Bytes()}),
                             e.write ? 0 : e.width);
        }
        if (e.write) {
            ASSERT_TRUE(diag.Reset());
            EXPECT_EQ(1, e.call(0x71, 0x5A, nullptr)) << e.name << ": a null `written` is allowed";
            ExpectOneRequest(e.name, e.code, Cat({{0x71, 0, 0, 0}, Le(0x5A, e.width)}), 0);
        }
        ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_FAIL, 0, 1));
        uint32_t out = kCanary;
        EXPECT_EQ(0, e.call(0x70, 0x12, &out)) << e.name << ": a failed request";
        EXPECT_EQ(kCanary, out) << e.name << " stored after a failed request";
    }
    // The read's output is preset: bytes the driver leaves unfilled read as 0.
    for (uint32_t i = 0; i < 4; i++)
        ASSERT_TRUE(diag.Poke(PORTIO_SPACE_PORT, 0, 0x80 + i, 0x11 * (i + 1)));
    ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_SHORT_FILL, 1, 1));
    DWORD value = kCanary;
    DirtyStack();
    EXPECT_EQ(1, Brannic_InputDWordValue(0x80, &value));
    EXPECT_EQ(0x00000011u, value);
}

// ---- Indexed registers ----

struct IndexedExport {
    const char* name;
    uint32_t code;
    unsigned width;
    bool write;
    std::function<BOOL(DWORD, DWORD, DWORD, DWORD, void*)> call;  // ports, index, value, result
};

const IndexedExport kIndexedSingles[] = {
    {"Brannic_ReadIndexedByte", PORTIO_READ_INDEXED_BYTE, 1, false,
     [](DWORD a, DWORD b, DWORD i, DWORD, void* v) {
         return Brannic_ReadIndexedByte(a, b, i, (BYTE*)v);
     }},
    {"Brannic_ReadIndexedWord", PORTIO_READ_INDEXED_WORD, 2, false,
     [](DWORD a, DWORD b, DWORD i, DWORD, void* v) {
         return Brannic_ReadIndexedWord(a, b, i, (WORD*)v);
     }},
    {"Brannic_ReadIndexedDWord", PORTIO_READ_INDEXED_DWORD, 4, false,
     [](DWORD a, DWORD b, DWORD i, DWORD, void* v) {
         return Brannic_ReadIndexedDWord(a, b, i, (DWORD*)v);
     }},
    {"Brannic_WriteIndexedByte", PORTIO_WRITE_INDEXED_BYTE, 1, true,
     [](DWORD a, DWORD b, DWORD i, DWORD v, void*) {
         return Brannic_WriteIndexedByte(a, b, i, v);
     }},
    {"Brannic_WriteIndexedWord", PORTIO_WRITE_INDEXED_WORD, 2, true,
     [](DWORD a, DWORD b, DWORD i, DWORD v, void*) {
         return Brannic_WriteIndexedWord(a, b, i, v);
     }},
    {"Brannic_WriteIndexedDWord", PORTIO_WRITE_INDEXED_DWORD, 4, true,
     [](DWORD a, DWORD b, DWORD i, DWORD v, void*) {
         return Brannic_WriteIndexedDWord(a, b, i, v);
     }},
};

TEST_F(LibraryRequests, IndexedSinglesCarryLowBytesOfWideArgumentsAndStoreNothingOnFailure)
{
    const uint32_t indexPort = 0x000012E4, dataPort = 0xF00D12E5, index = 0xCAFE8381,
                   value = 0x9ABCDEF7;
    for (const IndexedExport& e : kIndexedSingles) {
        SCOPED_TRACE(e.name);
        ASSERT_TRUE(diag.Reset());
        uint8_t out[8];
        memset(out, 0xC5, sizeof(out));
        EXPECT_NE(0, e.call(indexPort, dataPort, index, value, out));
        ExpectOneRequest(e.name, e.code,
                         Cat({Le(indexPort, 4), Le(dataPort, 4), Zeros(4), Le(index, e.width),
                              e.write ? Le(value, e.width) : Bytes(), Zeros(4)}),
                         e.write ? 0 : e.width);
        uint32_t stored = 0;
        ASSERT_TRUE(diag.Peek(PORTIO_SPACE_INDEXED, indexPort, index & Mask(e.width), &stored));
        if (!e.write) {
            EXPECT_EQ(Hex(Cat({Le(stored, e.width), Bytes(8 - e.width, 0xC5)})), Hex(out, 8))
                << "the driver's value lands in the caller's storage, width bytes only";
        }
        ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_FAIL, 0, 1));
        uint32_t canary = kCanary;
        EXPECT_EQ(0, e.call(0x2E, 0x2F, 1, 2, &canary)) << "a failed request";
        EXPECT_EQ(kCanary, canary);
    }
}

TEST_F(LibraryRequests, IndexedArraysSendOneRecordOfHeaderAndElements)
{
    const uint32_t indices[3] = {0x11223344, 0x55667788, 0x99AABBCC};
    const uint32_t values[3] = {0x01020304, 0x05060708, 0x090A0B0C};
    for (const IndexedArray& e : kIndexedArrays) {
        SCOPED_TRACE(e.name);
        ASSERT_TRUE(diag.Reset());
        Bytes indexArray, valueArray,
            record = Cat({Le(0x2E, 4), Le(0x2F, 4), Zeros(4), Le(3, 4), Zeros(4)});
        for (int i = 0; i < 3; i++) {
            indexArray = Cat({indexArray, Le(indices[i], e.width)});
            valueArray = Cat({valueArray, Le(values[i], e.width)});
            record = Cat({record, Le(indices[i], e.width),
                          e.write ? Le(values[i], e.width) : Bytes(), Zeros(4)});
        }
        Bytes out(3 * e.width + 4, 0xC5);
        EXPECT_NE(
            0, e.call(0x2E, 0x2F, 3, indexArray.data(), e.write ? valueArray.data() : out.data()));
        ExpectOneRequest(e.name, e.code, record, e.write ? 0 : 3 * e.width);

        if (e.write) continue;
        Bytes expectedOut;
        for (int i = 0; i < 3; i++) {
            uint32_t stored = 0;
            ASSERT_TRUE(diag.Peek(PORTIO_SPACE_INDEXED, 0x2E, indices[i] & Mask(e.width), &stored));
            expectedOut = Cat({expectedOut, Le(stored, e.width)});
        }
        EXPECT_EQ(Hex(Cat({expectedOut, Bytes(4, 0xC5)})), Hex(out))
            << "values land in the caller's array, nothing past it";
    }
}

TEST_F(LibraryRequests, IndexedArrayFailedRequestFreesItsBlock)
{
    const uint32_t count = 4096;
    std::vector<uint32_t> indices(count, 1), values(count, 0);
    ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_FAIL, 0, 0xFFFFFFFF));
    size_t before = HeapBytesInUse();
    for (int round = 0; round < 50; round++)
        for (const IndexedArray& e : kIndexedArrays)
            ASSERT_EQ(0, e.call(0x2E, 0x2F, count, indices.data(), values.data())) << e.name;
    size_t after = HeapBytesInUse();
    ASSERT_TRUE(diag.ClearFault());
    // 300 blocks of 20 KB to 50 KB each would add megabytes.
    EXPECT_LT(after, before + 256 * 1024)
        << "busy heap bytes grew from " << before << " to " << after;
}

// ---- EC commands ----

struct EcExport {
    const char* name;
    uint32_t code;
    bool ports;
    bool response;
    std::function<DWORD(DWORD, DWORD, DWORD, DWORD, BYTE*)> call;  // ports, command, data, response
};

const EcExport kEcExports[] = {
    {"Brannic_SendECCommand", PORTIO_EC_COMMAND, false, false,
     [](DWORD, DWORD, DWORD c, DWORD d, BYTE*) { return Brannic_SendECCommand(c, d); }},
    {"Brannic_SendECCommandWithResponse", PORTIO_EC_COMMAND_RESPONSE, false, true,
     [](DWORD, DWORD, DWORD c, DWORD d, BYTE* r) {
         return Brannic_SendECCommandWithResponse(c, d, r);
     }},
    {"Brannic_SendSpecifiedPortECCommand", PORTIO_EC_COMMAND_PORTS, true, false,
     [](DWORD cp, DWORD dp, DWORD c, DWORD d, BYTE*) {
         return Brannic_SendSpecifiedPortECCommand(cp, dp, c, d);
     }},
    {"Brannic_SendSpecifiedPortECCommandWithResponse", PORTIO_EC_COMMAND_PORTS_RESPONSE, true, true,
     [](DWORD cp, DWORD dp, DWORD c, DWORD d, BYTE* r) {
         return Brannic_SendSpecifiedPortECCommandWithResponse(cp, dp, c, d, r);
     }},
};

TEST_F(LibraryRequests, EcCommandsSendTheirRecordsAndReturnTheStatus)
{
    for (const EcExport& e : kEcExports) {
        SCOPED_TRACE(e.name);
        ASSERT_TRUE(diag.Reset());
        // 0x80 reads EC RAM at the data byte: address 0x15.
        const uint8_t expected = e.response ? PortioUnwrittenEcRam(0x15) : 0xEE;
        BYTE response = 0xEE;
        EXPECT_EQ(PORTIO_EC_STATUS_OK, e.call(0x6C, 0x68, 0xABCD1280, 0x12345615, &response));
        ExpectOneRequest(
            e.name, e.code,
            Cat({e.ports ? Cat({Le(0x6C, 4), Le(0x68, 4)}) : Bytes(), {0x80, 0x15}, Zeros(16)}),
            e.response ? 5 : 4);
        EXPECT_EQ(expected, response);
        // Status 2 is the result.
        ExpectFaultResults([&e](BYTE* r) { return e.call(0x6C, 0x68, 0x80, 0x15, r); }, 2,
                           expected);
        // A null response pointer still sends and returns the status.
        EXPECT_EQ(PORTIO_EC_STATUS_OK, e.call(0x6C, 0x68, 0x80, 0x15, nullptr));
    }
}

// ---- Dorvane index method ----

TEST_F(LibraryRequests, DorvaneSetRecordsCarryTheLowBytesInParameterOrder)
{
    struct Case {
        const char* name;
        uint32_t code;
        std::function<BOOL()> call;
        Bytes record;
    };
    const Case cases[] = {
        {"Brannic_SetDorvaneIndexMethodEcPortType",
         0x9C4024B0,
         [] { return Brannic_SetDorvaneIndexMethodEcPortType(0x1234567E); },
         {0x7E}},
        {"Brannic_SetDorvaneIndexMethodIoAddress",
         0x9C4024B4,
         [] { return Brannic_SetDorvaneIndexMethodIoAddress(0xFFFFA1A2, 0xB1B2, 0xC1C2, 0xD1D2); },
         {0xA2, 0xA1, 0xB2, 0xB1, 0xC2, 0xC1, 0xD2, 0xD1}},
        {"Brannic_SetDorvaneIndexMethodEcPortDevice",
         0x9C4024B8,
         [] { return Brannic_SetDorvaneIndexMethodEcPortDevice(0x101, 0x202, 0x303, 0xFFFFFF04); },
         {0x01, 0x02, 0x03, 0x04}},
        {"Brannic_SetDorvaneIndexMethodEcAddress",
         0x9C4024CC,
         [] { return Brannic_SetDorvaneIndexMethodEcAddress(0x1234A1A2, 0xB1B2, 0xC1C2, 0xD1D2); },
         {0xA2, 0xA1, 0xB2, 0xB1, 0xC2, 0xC1, 0xD2, 0xD1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(diag.Reset());
        EXPECT_EQ(1, c.call());
        ExpectOneRequest(c.name, c.code, c.record, 4);
        // A nonzero status gives 1, not the status.
        ExpectFaultResults([&c](BYTE*) { return (DWORD)c.call(); }, 1);
    }
}

TEST_F(LibraryRequests, DorvaneGetsReadBackWhatWasSetAndStoreNothingOnFailure)
{
    ASSERT_EQ(1, Brannic_SetDorvaneIndexMethodEcPortType(0x42));
    ASSERT_EQ(1, Brannic_SetDorvaneIndexMethodIoAddress(0xA1A2, 0xB1B2, 0xC1C2, 0xD1D2));
    ASSERT_EQ(1, Brannic_SetDorvaneIndexMethodEcPortDevice(1, 2, 3, 4));
    ASSERT_EQ(1, Brannic_SetDorvaneIndexMethodEcAddress(0x1112, 0x2122, 0x3132, 0x4142));
    ASSERT_TRUE(diag.Reset());
    BYTE type = 0, d[4] = {};
    WORD a[4] = {}, ec[4] = {};
    EXPECT_NE(0, Brannic_GetDorvaneIndexMethodEcPortType(&type));
    EXPECT_EQ(0x42, type);
    EXPECT_NE(0, Brannic_GetDorvaneIndexMethodIoAddress(&a[0], &a[1], &a[2], &a[3]));
    EXPECT_EQ("A2 A1 B2 B1 C2 C1 D2 D1", Hex((uint8_t*)a, 8));
    EXPECT_NE(0, Brannic_GetDorvaneIndexMethodEcPortDevice(&d[0], &d[1], &d[2], &d[3]));
    EXPECT_EQ("01 02 03 04", Hex(d, 4));
    EXPECT_NE(0, Brannic_GetDorvaneIndexMethodEcAddress(&ec[0], &ec[1], &ec[2], &ec[3]));
    EXPECT_EQ("12 11 22 21 32 31 42 41", Hex((uint8_t*)ec, 8));
    auto log = Log();
    ASSERT_EQ(4u, log.size());
    EXPECT_TRUE(IsRequest(log[0], 0x9C4024BC, {}, 1));
    EXPECT_TRUE(IsRequest(log[1], 0x9C4024C0, {}, 8));
    EXPECT_TRUE(IsRequest(log[2], 0x9C4024C4, {}, 4));
    EXPECT_TRUE(IsRequest(log[3], 0x9C4024C8, {}, 8));
    // The get record is preset: bytes the driver leaves unfilled read as 0.
    memset(a, 0xEE, sizeof(a));
    ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_SHORT_FILL, 2, 1));
    DirtyStack();
    EXPECT_NE(0, Brannic_GetDorvaneIndexMethodIoAddress(&a[0], &a[1], &a[2], &a[3]));
    EXPECT_EQ("A2 A1 00 00 00 00 00 00", Hex((uint8_t*)a, 8));

    ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_FAIL, 0, 0xFFFFFFFF));
    memset(d, 0xEE, sizeof(d));
    memset(a, 0xEE, sizeof(a));
    EXPECT_EQ(0, Brannic_GetDorvaneIndexMethodEcPortType(&d[0]));
    EXPECT_EQ(0, Brannic_GetDorvaneIndexMethodIoAddress(&a[0], &a[1], &a[2], &a[3]));
    EXPECT_EQ(0, Brannic_GetDorvaneIndexMethodEcPortDevice(&d[0], &d[1], &d[2], &d[3]));
    EXPECT_EQ(0, Brannic_GetDorvaneIndexMethodEcAddress(&a[0], &a[1], &a[2], &a[3]));
    EXPECT_EQ("EE EE EE EE", Hex(d, 4));
    EXPECT_EQ("EE EE EE EE EE EE EE EE", Hex((uint8_t*)a, 8));
    ASSERT_TRUE(diag.ClearFault());
}

struct DorvaneSend {
    const char* name;
    uint32_t code;
    bool flagResult;  // 1/0 rather than the status
    uint32_t reply;
    std::function<DWORD(BYTE*)> call;
    Bytes record;
};

const BYTE kBlock[3] = {0x40, 0x41, 0x42};

const DorvaneSend kDorvaneSends[] = {
    {"Brannic_SendDorvaneIndexMethodEcCommand",
     0x9C4024D8,
     true,
     4,
     [](BYTE*) { return (DWORD)Brannic_SendDorvaneIndexMethodEcCommand(0x1A5); },
     {0xA5}},
    {"Brannic_SendDorvaneIndexMethodEcCommandWithResponse",
     0x9C4024DC,
     false,
     5,
     [](BYTE* r) { return Brannic_SendDorvaneIndexMethodEcCommandWithResponse(0x1A5, r); },
     {0xA5}},
    {"Brannic_SendDorvaneIndexMethodEcCommandData",
     0x9C4024E0,
     true,
     4,
     [](BYTE*) { return (DWORD)Brannic_SendDorvaneIndexMethodEcCommandData(0x1A5, 0x20B); },
     {0xA5, 0x0B}},
    {"Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse",
     0x9C4024E4,
     false,
     5,
     [](BYTE* r) {
         return Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse(0x1A5, 0x20B, r);
     },
     {0xA5, 0x0B}},
    {"Brannic_SendDorvaneIndexMethodEcCommandDataArray",
     0x9C4024E8,
     true,
     4,
     [](BYTE*) {
         return (DWORD)Brannic_SendDorvaneIndexMethodEcCommandDataArray(0x3A1, 3, kBlock);
     },
     {0xA1, 0x03, 0x00, 0x00, 0x00, 0x40, 0x41, 0x42}},
    {"Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse",
     0x9C4024E4,
     false,
     5,
     [](BYTE* r) {
         return Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse(0x3A1, 3, kBlock, r);
     },
     {0xA1, 0x03, 0x00, 0x00, 0x00, 0x40, 0x41, 0x42}},
};

TEST_F(LibraryRequests, DorvaneSendsCarryTheirRecordsAndResults)
{
    for (const DorvaneSend& e : kDorvaneSends) {
        SCOPED_TRACE(e.name);
        ASSERT_TRUE(diag.Reset());
        BYTE response = 0xEE;
        EXPECT_EQ(PORTIO_EC_STATUS_OK, e.call(&response));
        ExpectOneRequest(e.name, e.code, e.record, e.reply);
        // Commands other than read, write and select answer command ^ 0xFF.
        EXPECT_EQ(e.reply == 5 ? uint8_t(e.record[0] ^ 0xFF) : 0xEE, response);
        ExpectFaultResults(e.call, e.flagResult ? 1u : 2u);
    }
    ASSERT_TRUE(diag.Reset());
    EXPECT_EQ(PORTIO_EC_STATUS_OK,
              Brannic_SendDorvaneIndexMethodEcCommandWithResponse(0x55, nullptr))
        << "a null response is allowed here";
    ExpectOneRequest("Brannic_SendDorvaneIndexMethodEcCommandWithResponse", 0x9C4024DC, {0x55}, 5);
}

// ---- The platform without the NT flag ----

const char kNotNtExe[] = "test_portlib_requests_win98.exe";

// Runs in a copy of this program that Wine reports as Windows 98 (the library opens there
// without a device) and executes the port instructions instead of requests. Wine emulates IN
// and OUT for 32-bit programs it runs as Windows 98: reads give all ones. Exit code 0 when
// every check held; the checks print what they saw.
int NotNtPortsChild()
{
    int failures = 0;
    auto check = [&failures](bool ok, const char* what, unsigned long seen) {
        if (!ok) {
            printf("not-NT child: %s (seen 0x%lX)\n", what, seen);
            failures++;
        }
    };
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);
    check(version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS, "platform id is not 1",
          version.dwPlatformId);
    check(Brannic_Init() == 1, "Brannic_Init without a device", 0);
    for (const PortExport& e : kPorts) {
        DWORD out = 0;
        DWORD expected = e.write ? 0x5A5B5C5D & Mask(e.width) : Mask(e.width);
        check(e.call(0x80, 0x5A5B5C5D, &out) == 1 && out == expected, e.name, out);
    }
    Brannic_DeInit();
    return failures;
}

// The six port exports execute the port instructions instead. (That the driver families
// refuse there and nothing reaches the driver, the export sweep checks for every export.)
TEST(NotNtPlatform, PortExportsExecutePortInstructions)
{
#if defined(__i386__)
    RunAsWindows98Child(kNotNtExe, "not-nt-ports");
#else
    GTEST_SKIP() << "Wine emulates port instructions only for 32-bit programs";
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    return TestMain(argc, argv, {{"not-nt-ports", [](int, char**) { return NotNtPortsChild(); }}});
}
