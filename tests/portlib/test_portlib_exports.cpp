// The 44 exports as a host sees them: each one, called through the header's declaration,
// cleans its own arguments off the stack (32-bit stdcall); and every request export, fed good
// input and bad (null pointers, counts of 0, 1, the largest that fits, the first that
// overflows and ones far beyond, values wider than their fields), with the library open, open
// with every request failing at the driver, closed, and on a platform without the NT flag,
// where it opens without a device. Paths are swept with the context's tests.
#include "brannic_exports.h"
#include "portlib_test.h"

#include <cstring>
#include <functional>

using namespace portlib_test;

namespace {

template <class Result, class... Parameters>
constexpr int ParameterCount(Result(WINAPI*)(Parameters...))
{
    return sizeof...(Parameters);
}

struct Export {
    const char* name;
    int parameters;  // as the header declares them
};

#define EXPORT_ENTRY(name, code, literal) {#name, ParameterCount(static_cast<PFN_##name>(nullptr))},
const Export kExports[] = {BRANNIC_EXPORTS(EXPORT_ENTRY)};
static_assert(sizeof(kExports) / sizeof(kExports[0]) == 44, "the library has 44 exports");

// ---- Bad input ----

// The storage a call may write through, preset so that any write shows.
struct Outputs {
    uint8_t value[16];  // a BYTE, WORD or DWORD result, or an array of up to four of them
    uint8_t response;
    void Preset() { memset(this, 0xC5, sizeof(*this)); }
    bool Untouched() const
    {
        for (uint8_t b : value)
            if (b != 0xC5) return false;
        return response == 0xC5;
    }
};

// What a call does with the library open on the NT family and the driver answering.
enum class Open {
    kRefused,
    kSent
};

struct SweepCase {
    std::string call;  // the export and its inputs
    std::function<DWORD(Outputs&)> run;
    Open open;
    bool portInstruction = false;  // without the NT flag it executes a port instruction
};

const uint8_t kIndices[4] = {1, 2, 3, 4};
const uint8_t kData[4] = {0x10, 0x11, 0x12, 0x13};
const DWORD kWide = 0xFFFFFFFF;  // wider than every 8- and 16-bit field

template <class T> T* As(Outputs& o) { return reinterpret_cast<T*>(o.value); }

// A sweep case written as its call, which also names it; `o` holds what the call may store.
#define CALL_CASE(open, portInstruction, ...)                                                      \
    add(                                                                                           \
        #__VA_ARGS__, []([[maybe_unused]] Outputs& o) { return (DWORD)(__VA_ARGS__); }, open,      \
        portInstruction)

std::vector<SweepCase> SweepCases()
{
    std::vector<SweepCase> cases;
    auto add = [&cases](std::string call, std::function<DWORD(Outputs&)> run, Open open,
                        bool port = false) {
        cases.push_back({std::move(call), std::move(run), open, port});
    };
    using O = Outputs;
    // Single ports: a null result is refused, a null `written` is not.
    CALL_CASE(Open::kRefused, false, Brannic_InputByteValue(kWide, nullptr));
    CALL_CASE(Open::kRefused, false, Brannic_InputWordValue(kWide, nullptr));
    CALL_CASE(Open::kRefused, false, Brannic_InputDWordValue(kWide, nullptr));
    CALL_CASE(Open::kSent, true, Brannic_InputByteValue(kWide, As<BYTE>(o)));
    CALL_CASE(Open::kSent, true, Brannic_InputWordValue(kWide, As<WORD>(o)));
    CALL_CASE(Open::kSent, true, Brannic_InputDWordValue(kWide, As<DWORD>(o)));
    CALL_CASE(Open::kSent, true, Brannic_OutputByteValue(kWide, kWide, nullptr));
    CALL_CASE(Open::kSent, true, Brannic_OutputWordValue(kWide, kWide, nullptr));
    CALL_CASE(Open::kSent, true, Brannic_OutputDWordValue(kWide, kWide, nullptr));
    CALL_CASE(Open::kSent, true, Brannic_OutputByteValue(kWide, kWide, As<BYTE>(o)));
    CALL_CASE(Open::kSent, true, Brannic_OutputWordValue(kWide, kWide, As<WORD>(o)));
    CALL_CASE(Open::kSent, true, Brannic_OutputDWordValue(kWide, kWide, As<DWORD>(o)));
    // Single indexed registers.
    CALL_CASE(Open::kRefused, false, Brannic_ReadIndexedByte(kWide, kWide, kWide, nullptr));
    CALL_CASE(Open::kRefused, false, Brannic_ReadIndexedWord(kWide, kWide, kWide, nullptr));
    CALL_CASE(Open::kRefused, false, Brannic_ReadIndexedDWord(kWide, kWide, kWide, nullptr));
    CALL_CASE(Open::kSent, false, Brannic_ReadIndexedByte(kWide, kWide, kWide, As<BYTE>(o)));
    CALL_CASE(Open::kSent, false, Brannic_ReadIndexedWord(kWide, kWide, kWide, As<WORD>(o)));
    CALL_CASE(Open::kSent, false, Brannic_ReadIndexedDWord(kWide, kWide, kWide, As<DWORD>(o)));
    CALL_CASE(Open::kSent, false, Brannic_WriteIndexedByte(kWide, kWide, kWide, kWide));
    CALL_CASE(Open::kSent, false, Brannic_WriteIndexedWord(kWide, kWide, kWide, kWide));
    CALL_CASE(Open::kSent, false, Brannic_WriteIndexedDWord(kWide, kWide, kWide, kWide));
    // Lists of registers: each width, read and write, over the counts and null arrays.
    for (const IndexedArray& l : kIndexedArrays) {
        uint64_t element = l.width * (l.write ? 2 : 1) + 4;
        DWORD largest = DWORD((0xFFFFFFFFull - 20) / element);  // 20 + count * element fits 32 bits
        std::string name = l.name;
        auto call = [l](DWORD n, const void* i, void* v) { return l.call(1, 2, n, i, v); };
        // A write list reads its values from kData; a read list writes them to the outputs.
        auto values = [l](O& o) -> void* { return l.write ? (void*)kData : (void*)o.value; };
        add(
            name + "(count 0)", [=](O& o) { return (DWORD)call(0, kIndices, values(o)); },
            Open::kRefused);
        add(
            name + "(count 1)", [=](O& o) { return (DWORD)call(1, kIndices, values(o)); },
            Open::kSent);
        add(
            name + "(null indices)", [=](O& o) { return (DWORD)call(1, nullptr, values(o)); },
            Open::kRefused);
        add(
            name + "(null values)", [=](O&) { return (DWORD)call(1, kIndices, nullptr); },
            Open::kRefused);
        // The first count whose record does not fit 32 bits, and two far beyond, whose size
        // would wrap in 32 bits (0x80000000 elements of 8 bytes make 0).
        for (DWORD count : {largest + 1, DWORD(0x80000000), DWORD(0xFFFFFFFF)})
            add(
                name + "(count " + std::to_string(count) + ", too many)",
                [=](O& o) { return (DWORD)call(count, kIndices, values(o)); }, Open::kRefused);
#if defined(__i386__)
        // Fits 32 bits, but no 32-bit process has the room: refused before the (short) arrays
        // are read.
        add(
            name + "(largest count that fits)",
            [=](O& o) { return (DWORD)call(largest, kIndices, values(o)); }, Open::kRefused);
#endif
    }
    // EC commands: a null response is allowed.
    CALL_CASE(Open::kSent, false, Brannic_SendECCommand(kWide, kWide));
    CALL_CASE(Open::kSent, false, Brannic_SendECCommandWithResponse(kWide, kWide, nullptr));
    CALL_CASE(Open::kSent, false, Brannic_SendECCommandWithResponse(kWide, kWide, &o.response));
    CALL_CASE(Open::kSent, false, Brannic_SendSpecifiedPortECCommand(0x6C, 0x68, kWide, kWide));
    CALL_CASE(Open::kSent, false,
              Brannic_SendSpecifiedPortECCommandWithResponse(0x6C, 0x68, kWide, kWide, nullptr));
    CALL_CASE(
        Open::kSent, false,
        Brannic_SendSpecifiedPortECCommandWithResponse(0x6C, 0x68, kWide, kWide, &o.response));
    // Dorvane configuration: wide values set; a get with any null pointer is refused.
    CALL_CASE(Open::kSent, false, Brannic_SetDorvaneIndexMethodEcPortType(kWide));
    CALL_CASE(Open::kSent, false,
              Brannic_SetDorvaneIndexMethodIoAddress(kWide, kWide, kWide, kWide));
    CALL_CASE(Open::kSent, false,
              Brannic_SetDorvaneIndexMethodEcPortDevice(kWide, kWide, kWide, kWide));
    CALL_CASE(Open::kSent, false,
              Brannic_SetDorvaneIndexMethodEcAddress(kWide, kWide, kWide, kWide));
    CALL_CASE(Open::kRefused, false, Brannic_GetDorvaneIndexMethodEcPortType(nullptr));
    CALL_CASE(Open::kSent, false, Brannic_GetDorvaneIndexMethodEcPortType(As<BYTE>(o)));
    for (int missing = -1; missing < 4; missing++) {
        std::string which = missing < 0 ? "" : ", pointer " + std::to_string(missing + 1) + " null";
        Open open = missing < 0 ? Open::kSent : Open::kRefused;
        auto byte = [missing](O& o, int i) { return i == missing ? nullptr : &As<BYTE>(o)[i]; };
        auto word = [missing](O& o, int i) { return i == missing ? nullptr : &As<WORD>(o)[i]; };
        // A get of four values, each through a pointer into the outputs made by `pointer`.
        auto get = [&](const char* name, auto fn, auto pointer) {
            add(
                std::string(name) + "(" + which + ")",
                [=](O& o) {
                    return (DWORD)fn(pointer(o, 0), pointer(o, 1), pointer(o, 2), pointer(o, 3));
                },
                open);
        };
        get("Brannic_GetDorvaneIndexMethodIoAddress", Brannic_GetDorvaneIndexMethodIoAddress, word);
        get("Brannic_GetDorvaneIndexMethodEcPortDevice", Brannic_GetDorvaneIndexMethodEcPortDevice,
            byte);
        get("Brannic_GetDorvaneIndexMethodEcAddress", Brannic_GetDorvaneIndexMethodEcAddress, word);
    }
    // Dorvane sends: null responses, null data and the block counts.
    CALL_CASE(Open::kSent, false, Brannic_SendDorvaneIndexMethodEcCommand(kWide));
    CALL_CASE(Open::kSent, false,
              Brannic_SendDorvaneIndexMethodEcCommandWithResponse(kWide, nullptr));
    CALL_CASE(Open::kSent, false,
              Brannic_SendDorvaneIndexMethodEcCommandWithResponse(kWide, &o.response));
    CALL_CASE(Open::kSent, false, Brannic_SendDorvaneIndexMethodEcCommandData(kWide, kWide));
    CALL_CASE(Open::kRefused, false,
              Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse(kWide, kWide, nullptr));
    CALL_CASE(Open::kSent, false,
              Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse(kWide, kWide, &o.response));
    const DWORD blockLargest = 0xFFFFFFFF - 5;  // 5 + count fits 32 bits
    struct Block {
        std::string countName;
        DWORD count;
        bool nullData;
        Open open;
    };
    std::vector<Block> blocks = {
        {"count 0", 0, false, Open::kRefused},
        {"count 1", 1, false, Open::kSent},
        {"count 1, null data", 1, true, Open::kRefused},
        {"count 2, null data", 2, true, Open::kRefused},
        {"first count that overflows", blockLargest + 1, false, Open::kRefused},
        {"count 0xFFFFFFFF: 5 + count wraps to 4 in 32 bits", 0xFFFFFFFF, false, Open::kRefused},
#if defined(__i386__)
        {"largest count that fits", blockLargest, false, Open::kRefused},
#endif
    };
    for (const Block& b : blocks) {
        const BYTE* data = b.nullData ? nullptr : kData;
        DWORD count = b.count;
        add(
            "SendDorvaneIndexMethodEcCommandDataArray(" + b.countName + ")",
            [=](O&) {
                return (DWORD)Brannic_SendDorvaneIndexMethodEcCommandDataArray(kWide, count, data);
            },
            b.open);
        add(
            "SendDorvaneIndexMethodEcCommandDataArrayWithResponse(" + b.countName + ")",
            [=](O& o) {
                return Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse(
                    kWide, count, data, &o.response);
            },
            b.open);
    }
    CALL_CASE(
        Open::kRefused, false,
        Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse(kWide, 1, kData, nullptr));
#undef CALL_CASE
    return cases;
}

class ExportSweep : public OpenLibrary {
protected:
    uint32_t Requests() { return CountsOf(diag).requests; }
};

// Refusals send nothing and store nothing; the rest send one request and succeed.
TEST_F(ExportSweep, LibraryOpen)
{
    int refused = 0, sent = 0;
    for (const SweepCase& c : SweepCases()) {
        (c.open == Open::kRefused ? refused : sent)++;
        SCOPED_TRACE(c.call);
        ASSERT_TRUE(diag.Reset());
        Outputs out;
        out.Preset();
        DWORD result = c.run(out);
        if (c.open == Open::kRefused) {
            EXPECT_EQ(0u, result);
            EXPECT_EQ(0u, Requests()) << "a refused call sent a request";
            EXPECT_TRUE(out.Untouched())
                << "a refused call stored " << Hex(out.value, sizeof(out.value));
        } else {
            EXPECT_NE(0u, result);
            EXPECT_EQ(1u, Requests());
        }
    }
    printf("%d cases: %d refused without a request, %d sent\n", refused + sent, refused, sent);
}

// A request the driver fails gives 0 and leaves every output as it was.
TEST_F(ExportSweep, EveryRequestFailingAtTheDriver)
{
    ASSERT_TRUE(diag.SetFault(PORTIO_FAULT_FAIL, 0, 0xFFFFFFFF));
    for (const SweepCase& c : SweepCases()) {
        SCOPED_TRACE(c.call);
        Outputs out;
        out.Preset();
        uint32_t before = Requests();
        EXPECT_EQ(0u, c.run(out));
        EXPECT_EQ(c.open == Open::kSent ? 1u : 0u, Requests() - before);
        EXPECT_TRUE(out.Untouched())
            << "a failed call stored " << Hex(out.value, sizeof(out.value));
    }
    ASSERT_TRUE(diag.ClearFault());
}

TEST_F(ExportSweep, LibraryClosed)
{
    Brannic_DeInit();
    for (const SweepCase& c : SweepCases()) {
        SCOPED_TRACE(c.call);
        Outputs out;
        out.Preset();
        EXPECT_EQ(0u, c.run(out));
        EXPECT_TRUE(out.Untouched());
    }
    EXPECT_EQ(0u, Requests()) << "a closed library sent requests";
    ASSERT_EQ(1, Brannic_Init());
}

const char kSweepWin98Exe[] = "test_portlib_exports_win98.exe";

// In a copy that Wine runs as Windows 98: the library opens without a device, every driver
// family refuses; the port exports run the port instructions, which Wine emulates only for
// 32-bit programs (reads give all ones).
int NotNtSweepChild()
{
    int failures = 0;
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS) {
        printf("not-NT sweep: the platform id is %lu, not 1\n", version.dwPlatformId);
        return 1;
    }
    if (Brannic_Init() != 1) {
        printf("not-NT sweep: Brannic_Init failed\n");
        return 1;
    }
    for (const SweepCase& c : SweepCases()) {
        Outputs out;
        out.Preset();
        if (c.portInstruction) {
#if defined(__i386__)
            if (c.run(out) != 1) {
                printf("not-NT sweep: %s did not run the port instruction\n", c.call.c_str());
                failures++;
            }
#endif
            continue;
        }
        DWORD result = c.run(out);
        if (result != 0 || !out.Untouched()) {
            printf("not-NT sweep: %s gave %lu, outputs %s\n", c.call.c_str(), (unsigned long)result,
                   out.Untouched() ? "untouched" : "written");
            failures++;
        }
    }
    Brannic_DeInit();
    return failures;
}

TEST(ExportSweepNotNt, DriverFamiliesRefuseAndSendNothing)
{
    RunAsWindows98Child(kSweepWin98Exe, "sweep");
}

#if defined(__i386__)

// Calls fn with `count` double words pushed right to left, as a caller of a WINAPI function
// does, and returns how many bytes of them the callee left on the stack: 0 for stdcall.
extern "C" int StackLeftByCall(void* fn, const DWORD* args, int count);
asm(R"(
    .text
    .globl _StackLeftByCall
_StackLeftByCall:
    push %ebp
    mov %esp, %ebp
    push %esi
    push %edi
    push %ebx
    mov 8(%ebp), %eax
    mov 12(%ebp), %esi
    mov 16(%ebp), %ecx
    mov %esp, %edi
1:  test %ecx, %ecx
    jz 2f
    push -4(%esi,%ecx,4)
    dec %ecx
    jmp 1b
2:  call *%eax
    mov %edi, %eax
    sub %esp, %eax
    mov %edi, %esp
    pop %ebx
    pop %edi
    pop %esi
    pop %ebp
    ret
)");

// With the library closed every request refuses at once, so all-zero arguments are safe. The
// opens and closes with arguments are called in pairs that leave it closed; those without
// arguments cannot tell the conventions apart and are left out (Brannic_RemoveService would
// also delete the driver's registration).
TEST(Exports, EachCleansItsOwnArgumentsOffTheStack)
{
    EnsureDriver();
    HMODULE library = GetModuleHandleA("Brannic.dll");
    ASSERT_NE(nullptr, library);
    const DWORD zeros[8] = {};
    int called = 0;
    for (const Export& e : kExports) {
        if (e.parameters == 0) continue;
        void* fn = reinterpret_cast<void*>(GetProcAddress(library, e.name));
        ASSERT_NE(nullptr, fn) << e.name;
        EXPECT_EQ(0, StackLeftByCall(fn, zeros, e.parameters))
            << e.name << " with " << e.parameters << " parameters left bytes on the stack";
        called++;
        if (strncmp(e.name, "Brannic_InitEx", 14) == 0) Brannic_DeInit();
    }
    EXPECT_EQ(41, called);
    BYTE value;
    EXPECT_EQ(0, Brannic_InputByteValue(0x80, &value)) << "the library was left open";
}

#endif

}  // namespace

int main(int argc, char** argv)
{
    return TestMain(argc, argv, {{"sweep", [](int, char**) { return NotNtSweepChild(); }}});
}
