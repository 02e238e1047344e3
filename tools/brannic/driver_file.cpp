// The driver file's processor and who may change it; driver_file.h says what each gives.
#include <string.h>

#include "console.h"
#include "driver_file.h"
#include "driver_service.h"
#include "run_time_binding.h"

// Bound at run time: the processor of a 64-bit Windows is known only to Windows XP SP2 and
// later, and file security to the NT family (Windows 95, 98 and ME do not have it).
typedef BOOL(WINAPI* IsWow64ProcessFn)(HANDLE, BOOL*);
typedef BOOL(WINAPI* IsWow64Process2Fn)(HANDLE, USHORT*, USHORT*);
#define PROCESSOR_FUNCTIONS(X)                                                                     \
    X(IsWow64Process, IsWow64ProcessFn)                                                            \
    X(IsWow64Process2, IsWow64Process2Fn)
#define SECURITY_FUNCTIONS(X)                                                                      \
    X(GetFileSecurityA, BINDING_DECLARED(GetFileSecurityA))                                        \
    X(GetSecurityDescriptorOwner, BINDING_DECLARED(GetSecurityDescriptorOwner))                    \
    X(GetSecurityDescriptorDacl, BINDING_DECLARED(GetSecurityDescriptorDacl))                      \
    X(GetAce, BINDING_DECLARED(GetAce))                                                            \
    X(EqualSid, BINDING_DECLARED(EqualSid))                                                        \
    X(LookupAccountSidA, BINDING_DECLARED(LookupAccountSidA))

struct ProcessorTable {
    PROCESSOR_FUNCTIONS(BINDING_SLOT)
};
struct SecurityTable {
    SECURITY_FUNCTIONS(BINDING_SLOT)
};
static ProcessorTable s_processor;
static SecurityTable s_security;
static bool s_bound;
static bool s_hasFileSecurity;  // every slot of s_security filled

static void Bind()
{
    if (s_bound) return;
    s_bound = true;
    BINDING_BIND(PROCESSOR_FUNCTIONS, s_processor, GetModuleHandleA("kernel32.dll"));
    s_hasFileSecurity = BINDING_BIND(SECURITY_FUNCTIONS, s_security, LoadLibraryA("advapi32.dll"));
}

WORD PlatformMachine()
{
    Bind();
    USHORT process = 0, native = 0;
    if (s_processor.IsWow64Process2 &&
        s_processor.IsWow64Process2(GetCurrentProcess(), &process, &native))
        return native;
#ifdef _WIN64
    return IMAGE_FILE_MACHINE_AMD64;
#else
    BOOL wow64 = FALSE;
    if (s_processor.IsWow64Process && s_processor.IsWow64Process(GetCurrentProcess(), &wow64) &&
        wow64)
        return IMAGE_FILE_MACHINE_AMD64;
    return IMAGE_FILE_MACHINE_I386;
#endif
}

// Little-endian fields of the header, read from bytes so that no alignment is assumed.
static DWORD LoadLe(const BYTE* bytes, int size)
{
    DWORD value = 0;
    for (int i = size - 1; i >= 0; i--) value = value << 8 | bytes[i];
    return value;
}

WORD FileMachine(const char* file)
{
    HANDLE handle = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 0;
    // The DOS header names where the PE header starts; every linker puts it in the first 4 KB.
    static BYTE s_header[4096];
    DWORD got = 0;
    bool read = ReadFile(handle, s_header, sizeof(s_header), &got, nullptr);
    CloseHandle(handle);
    if (!read || got < 0x40 || s_header[0] != 'M' || s_header[1] != 'Z') return 0;
    DWORD at = LoadLe(s_header + 0x3C, 4);
    if (at > got - 6 || LoadLe(s_header + at, 4) != IMAGE_NT_SIGNATURE) return 0;
    return (WORD)LoadLe(s_header + at + 4, 2);
}

const char* MachineName(WORD machine)
{
    switch (machine) {
    case IMAGE_FILE_MACHINE_I386: return "32-bit x86";
    case IMAGE_FILE_MACHINE_AMD64: return "x64";
    case IMAGE_FILE_MACHINE_ARM64: return "ARM64";
    case IMAGE_FILE_MACHINE_IA64: return "Itanium";
    }
    static char s_name[32];
    FormatText(s_name, sizeof(s_name), "machine 0x%04X", machine);
    return s_name;
}

// The accounts that administer the machine: SYSTEM, Administrators, TrustedInstaller, and
// CREATOR OWNER (a placeholder that only children inherit), as SID bytes.
static const BYTE kSystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
static const BYTE kAdministratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
static const BYTE kCreatorOwnerSid[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
static const BYTE kTrustedInstallerSid[] = {
    1,    6,    0,    0,    0,    0,    0,    5,    80,   0,    0,    0,    0xB5, 0x89, 0xFB, 0x38,
    0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};
static const BYTE* const kAdministeringSids[] = {kSystemSid, kAdministratorsSid, kCreatorOwnerSid,
                                                 kTrustedInstallerSid};

static bool IsAdministering(PSID sid)
{
    for (const BYTE* known : kAdministeringSids)
        if (s_security.EqualSid(sid, (PSID)known)) return true;
    return false;
}

// The rights that let an account replace the file or its content, or give itself that right.
const DWORD kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE |
                              WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Appends ", " (unless who is empty) and the account's name and role; a list that does not
// fit ends in "...".
static void AppendAccount(char* who, size_t size, PSID sid, const char* role)
{
    char name[128] = "", domain[128] = "", account[300];
    DWORD nameSize = sizeof(name), domainSize = sizeof(domain);
    SID_NAME_USE use;
    if (s_security.LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use))
        FormatText(account, sizeof(account), "%s%s%s%s", domain, domain[0] ? "\\" : "", name, role);
    else
        FormatText(account, sizeof(account), "an account without a name%s", role);
    size_t used = strlen(who), length = strlen(account);
    if (used + 2 + length + 6 >= size) {
        bool cut = used >= 3 && strcmp(who + used - 3, "...") == 0;
        if (!cut && used + 6 < size) strcpy(who + used, ", ...");
        return;
    }
    if (used) strcpy(who + used, ", "), used += 2;
    strcpy(who + used, account);
}

WriteAccess CheckWriteAccess(const char* path, char* who, size_t size)
{
    Bind();
    who[0] = '\0';
    if (!s_hasFileSecurity) {
        FormatText(who, size, "this Windows keeps no file security");
        return kWriteAccessUnknown;
    }
    static BYTE s_descriptor[16384];
    DWORD needed = 0;
    if (!s_security.GetFileSecurityA(path, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     s_descriptor, sizeof(s_descriptor), &needed)) {
        FormatText(who, size, "%s", ErrorText(GetLastError()));
        return kWriteAccessUnknown;
    }
    PSECURITY_DESCRIPTOR descriptor = s_descriptor;
    BOOL present = FALSE, defaulted = FALSE;
    PSID owner = nullptr;
    if (!s_security.GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) owner = nullptr;
    PACL list = nullptr;
    if (!s_security.GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted) ||
        !present || !list) {
        // No access list at all (as on a FAT volume) lets everyone do everything.
        FormatText(who, size, "everyone (it has no access list)");
        return kOthersMayWrite;
    }
    for (DWORD i = 0; i < list->AceCount; i++) {
        ACCESS_ALLOWED_ACE* entry = nullptr;
        if (!s_security.GetAce(list, i, (void**)&entry)) continue;
        // Only entries that allow, on this object itself (not only inherited by children).
        if (entry->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (entry->Header.AceFlags & INHERIT_ONLY_ACE) || !(entry->Mask & kChangingRights))
            continue;
        PSID sid = (PSID)&entry->SidStart;
        if (IsAdministering(sid)) continue;
        bool isOwner = owner && s_security.EqualSid(sid, owner);
        AppendAccount(who, size, sid, isOwner ? " (owner)" : "");
        if (isOwner) owner = nullptr;
    }
    // An owner the list does not name may still change the list.
    if (owner && !IsAdministering(owner)) AppendAccount(who, size, owner, " (owner)");
    return who[0] ? kOthersMayWrite : kAdministratorsOnly;
}
