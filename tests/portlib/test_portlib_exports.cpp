// The 44 exports as a host sees them: each one, called through the header's declaration,
// cleans its own arguments off the stack (32-bit stdcall).
#include "portlib_test.h"

using namespace portlib_test;

namespace {

// Every export, by name and by the header's pointer type.
#define BRANNIC_EXPORTS(X) \
    X(Brannic_Init) X(Brannic_DeInit) X(Brannic_InitExA) X(Brannic_InitExW) X(Brannic_DeInitEx) \
    X(Brannic_AddServiceA) X(Brannic_AddServiceW) X(Brannic_RemoveService) \
    X(Brannic_InputByteValue) X(Brannic_InputWordValue) X(Brannic_InputDWordValue) \
    X(Brannic_OutputByteValue) X(Brannic_OutputWordValue) X(Brannic_OutputDWordValue) \
    X(Brannic_ReadIndexedByte) X(Brannic_ReadIndexedWord) X(Brannic_ReadIndexedDWord) \
    X(Brannic_WriteIndexedByte) X(Brannic_WriteIndexedWord) X(Brannic_WriteIndexedDWord) \
    X(Brannic_ReadIndexedByteArray) X(Brannic_ReadIndexedWordArray) \
    X(Brannic_ReadIndexedDWordArray) X(Brannic_WriteIndexedByteArray) \
    X(Brannic_WriteIndexedWordArray) X(Brannic_WriteIndexedDWordArray) \
    X(Brannic_SendECCommand) X(Brannic_SendECCommandWithResponse) \
    X(Brannic_SendSpecifiedPortECCommand) X(Brannic_SendSpecifiedPortECCommandWithResponse) \
    X(Brannic_SetDorvaneIndexMethodEcPortType) X(Brannic_SetDorvaneIndexMethodIoAddress) \
    X(Brannic_SetDorvaneIndexMethodEcPortDevice) X(Brannic_GetDorvaneIndexMethodEcPortType) \
    X(Brannic_GetDorvaneIndexMethodIoAddress) X(Brannic_GetDorvaneIndexMethodEcPortDevice) \
    X(Brannic_GetDorvaneIndexMethodEcAddress) X(Brannic_SetDorvaneIndexMethodEcAddress) \
    X(Brannic_SendDorvaneIndexMethodEcCommand) X(Brannic_SendDorvaneIndexMethodEcCommandWithResponse) \
    X(Brannic_SendDorvaneIndexMethodEcCommandData) \
    X(Brannic_SendDorvaneIndexMethodEcCommandDataWithResponse) \
    X(Brannic_SendDorvaneIndexMethodEcCommandDataArray) \
    X(Brannic_SendDorvaneIndexMethodEcCommandDataArrayWithResponse)

template <class Result, class... Parameters>
constexpr int ParameterCount(Result(WINAPI*)(Parameters...)) { return sizeof...(Parameters); }

struct Export {
    const char* name;
    int parameters;  // as the header declares them
};

#define EXPORT_ENTRY(name) {#name, ParameterCount(static_cast<PFN_##name>(nullptr))},
const Export kExports[] = {BRANNIC_EXPORTS(EXPORT_ENTRY)};
static_assert(sizeof(kExports) / sizeof(kExports[0]) == 44, "the library has 44 exports");

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
