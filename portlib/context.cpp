// The library context: attach, the reference-counted opens and closes of the driver device,
// and the registration, start and removal of the driver service.
#include <windows.h>
#include <stdint.h>
#include "Brannic.h"
#include "context.h"
#include "driver_protocol.h"
#include "no_runtime.h"
#include "run_time_binding.h"

// The kernel's prefix for a plain path, before the driver path in "ImagePath".
const char kImagePathPrefix[] = "\\??\\";

const DWORD kPathBufferSize = 256;
const int kDeviceOpenAttempts = 20;
const DWORD kDeviceRetryPauseMs = 1000;

static_assert(sizeof(PORTIO_SERVICE_KEY_PATH) <= kPathBufferSize,
              "service key path fits its buffer");

// The service control manager's functions are bound at run time: QueryServiceStatusEx first
// shipped with Windows 2000, and one missing load-time import keeps the whole library from
// loading on Windows 95, 98, ME and NT 4.0, where the port path is needed.
#define SCM_FUNCTIONS(X)                                                                           \
    X(OpenSCManagerA, BINDING_DECLARED(OpenSCManagerA))                                            \
    X(OpenServiceA, BINDING_DECLARED(OpenServiceA))                                                \
    X(CreateServiceA, BINDING_DECLARED(CreateServiceA))                                            \
    X(QueryServiceStatusEx, BINDING_DECLARED(QueryServiceStatusEx))                                \
    X(StartServiceA, BINDING_DECLARED(StartServiceA))                                              \
    X(DeleteService, BINDING_DECLARED(DeleteService))                                              \
    X(CloseServiceHandle, BINDING_DECLARED(CloseServiceHandle))

struct ScmTable {
    SCM_FUNCTIONS(BINDING_SLOT)
};
static ScmTable s_scm;
static bool s_scmBound;

// ADVAPI32 is a load-time import (the registry functions), so it is loaded already.
static void ScmBind()
{
    if (s_scmBound) return;
    BINDING_BIND(SCM_FUNCTIONS, s_scm, GetModuleHandleA("ADVAPI32.dll"));
    s_scmBound = true;
}

// Calls a service control manager function through its slot; 0 when the slot is empty.
#define SCM_CALL(name, ...) (ScmBind(), s_scm.name ? s_scm.name(__VA_ARGS__) : 0)

static HMODULE s_moduleHandle;
static SC_HANDLE s_heldManager;
static SC_HANDLE s_heldService;

DWORD g_contextOpenCount;
DWORD g_contextNtFlag;
HANDLE g_contextDevice = INVALID_HANDLE_VALUE;

// ---- Bounded strings: every path either fits its 256-byte buffer or the call fails. ----

// Appends text at *length; false, with the buffer left terminated, when it does not fit. The
// text is read no further than the room left: a caller's string that is longer, or has no
// terminator at all, is refused without being read to its end.
static bool StringAppend(char* buffer, DWORD* length, const char* text)
{
    DWORD room = kPathBufferSize - *length, add = 0;
    while (add < room && text[add]) add++;
    if (add == room) return false;
    CopyBytes(buffer + *length, text, add + 1);
    *length += add;
    return true;
}

// ---- Opening and closing ----

static bool PlatformCheck()
{
    OSVERSIONINFOA info;
    ZeroBytes(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info)) return false;
    g_contextNtFlag = info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
    return true;
}

static bool DeviceOpenAttempt()
{
    g_contextDevice = CreateFileA(PORTIO_DEVICE_PATH, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return g_contextDevice != INVALID_HANDLE_VALUE;
}

// Counts one more successful open; the opens' way of reporting success.
static BOOL CountOpen()
{
    g_contextOpenCount++;
    return TRUE;
}

// Where the steps that every open begins with leave it.
enum class OpenStep {
    kOpened,
    kFailed,
    kNeedsDevice
};

// A further open only counts; a first one checks the platform, and off the NT family it is
// open without a device.
static OpenStep BeginOpen()
{
    if (g_contextOpenCount == 0) {
        if (!PlatformCheck()) return OpenStep::kFailed;
        if (g_contextNtFlag) return OpenStep::kNeedsDevice;
    }
    CountOpen();
    return OpenStep::kOpened;
}

// Takes one open back; the last one closes the device. The count must be above 0.
static void CloseOneOpen()
{
    if (--g_contextOpenCount > 0) return;
    if (g_contextDevice != INVALID_HANDLE_VALUE) {
        CloseHandle(g_contextDevice);
        g_contextDevice = INVALID_HANDLE_VALUE;
    }
}

// ---- The driver service ----

// Opens the service manager and the service, each with all access. False when the manager
// does not open; *service is null when the service does not.
static bool OpenTheService(SC_HANDLE* manager, SC_HANDLE* service)
{
    *service = nullptr;
    *manager = SCM_CALL(OpenSCManagerA, nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!*manager) return false;
    *service = SCM_CALL(OpenServiceA, *manager, PORTIO_SERVICE_NAME, SERVICE_ALL_ACCESS);
    return true;
}

// Closes the service handle, then the manager handle, those that are held, and empties both.
static void CloseTheService(SC_HANDLE* manager, SC_HANDLE* service)
{
    if (*service) SCM_CALL(CloseServiceHandle, *service);
    if (*manager) SCM_CALL(CloseServiceHandle, *manager);
    *service = nullptr;
    *manager = nullptr;
}

static DWORD StartType(BOOL autoStart)
{
    return autoStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
}

// Where a path's last backslash character ends and whether its text ends inside a character.
// The path is read a character at a time in the ANSI code page, as every function that
// receives it reads it: in the double-byte code pages the second byte of a character can be
// 0x5C, which is no backslash.
struct CharacterScan {
    DWORD afterLastSeparator;  // 0 when there is no backslash
    bool endsWithSeparator;
    bool endsInsideCharacter;  // a lead byte with nothing after it
};

static CharacterScan ScanCharacters(const char* text, DWORD length)
{
    CharacterScan scan = {0, false, false};
    for (DWORD i = 0; i < length;) {
        if (IsDBCSLeadByte((BYTE)text[i])) {
            scan.endsWithSeparator = false;
            scan.endsInsideCharacter = i + 1 == length;
            i += 2;
            continue;
        }
        scan.endsWithSeparator = text[i++] == '\\';
        if (scan.endsWithSeparator) scan.afterLastSeparator = i;
    }
    return scan;
}

// True when the text reads as the same characters in the ANSI and the OEM code page.
static bool SameInBothCodePages(const char* text)
{
    WCHAR ansi[kPathBufferSize], oem[kPathBufferSize];
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, ansi, kPathBufferSize);
    if (length == 0 || MultiByteToWideChar(CP_OEMCP, 0, text, -1, oem, kPathBufferSize) != length)
        return false;
    for (int i = 0; i < length; i++)
        if (ansi[i] != oem[i]) return false;
    return true;
}

static bool DriverPathBuild(LPCSTR driverDir, char* path)
{
    DWORD length = 0;
    if (driverDir) {
        path[0] = 0;
        if (!StringAppend(path, &length, driverDir)) return false;
        CharacterScan scan = ScanCharacters(path, length);
        // A backslash after a dangling lead byte would become that character's second byte.
        if (scan.endsInsideCharacter) return false;
        if (!scan.endsWithSeparator && !StringAppend(path, &length, "\\")) return false;
    } else {
        // A full buffer means the name was cut short.
        length = GetModuleFileNameA(s_moduleHandle, path, kPathBufferSize);
        if (length == 0 || length >= kPathBufferSize) return false;
        length = ScanCharacters(path, length).afterLastSeparator;
        path[length] = 0;
    }
    if (!StringAppend(path, &length, PORTIO_DRIVER_FILE)) return false;

    // The service manager and the registry read the path as ANSI; a host that switched the
    // file functions to OEM would have the file looked for under another name.
    if (!AreFileApisANSI() && !SameInBothCodePages(path)) return false;
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A registered service keeps everything but its image path and start type.
static bool ServiceUpdate(BOOL autoStart, const char* driverPath)
{
    char imagePath[kPathBufferSize];
    DWORD length = 0, start = StartType(autoStart);
    imagePath[0] = 0;
    if (!StringAppend(imagePath, &length, kImagePathPrefix) ||
        !StringAppend(imagePath, &length, driverPath))
        return false;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PORTIO_SERVICE_KEY_PATH, 0, KEY_WRITE, &key) !=
        ERROR_SUCCESS)
        return false;
    RegSetValueExA(key, "ImagePath", 0, REG_SZ, (const BYTE*)imagePath, length + 1);
    bool written = RegSetValueExA(key, "Start", 0, REG_DWORD, (const BYTE*)&start, sizeof(start)) ==
                   ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

static bool ServiceInstall(BOOL autoStart, LPCSTR driverDir)
{
    char driverPath[kPathBufferSize];
    SC_HANDLE manager, service;
    if (!DriverPathBuild(driverDir, driverPath)) return false;
    if (!OpenTheService(&manager, &service)) return false;
    if (service) {
        CloseTheService(&manager, &service);
        return ServiceUpdate(autoStart, driverPath);
    }
    service =
        SCM_CALL(CreateServiceA, manager, PORTIO_SERVICE_NAME, PORTIO_SERVICE_DISPLAY_NAME,
                 SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, StartType(autoStart),
                 SERVICE_ERROR_NORMAL, driverPath, nullptr, nullptr, nullptr, nullptr, nullptr);
    bool created = service != nullptr;
    CloseTheService(&manager, &service);
    return created;
}

// On success the handles stay in the context until the final Brannic_DeInitEx.
static bool ServiceStart()
{
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;
    // Handles left from an earlier start would leak once overwritten.
    CloseTheService(&s_heldManager, &s_heldService);
    if (!OpenTheService(&s_heldManager, &s_heldService)) return false;
    if (s_heldService && SCM_CALL(QueryServiceStatusEx, s_heldService, SC_STATUS_PROCESS_INFO,
                                  (BYTE*)&status, sizeof(status), &needed)) {
        if (status.dwCurrentState == SERVICE_RUNNING) return true;
        // Another host's start may come between the query and this one.
        if (SCM_CALL(StartServiceA, s_heldService, 0, nullptr) ||
            GetLastError() == ERROR_SERVICE_ALREADY_RUNNING)
            return true;
    }
    CloseTheService(&s_heldManager, &s_heldService);
    return false;
}

static bool ServiceRemove()
{
    SC_HANDLE manager, service;
    if (!OpenTheService(&manager, &service)) return false;
    bool deleted = service && SCM_CALL(DeleteService, service);
    CloseTheService(&manager, &service);
    return deleted;
}

// True when the narrow string reads in codePage as exactly the length wide characters given.
static bool ReadsAs(UINT codePage, const char* narrow, LPCWSTR wide, int length)
{
    WCHAR back[kPathBufferSize];
    if (MultiByteToWideChar(codePage, 0, narrow, -1, back, kPathBufferSize) != length + 1)
        return false;
    for (int i = 0; i < length; i++)
        if (back[i] != wide[i]) return false;
    return true;
}

// Wide directories go to the OEM code page. The narrow form must name the directory the
// caller wrote, or the call fails: a conversion that fails, does not fit or needs a default
// character cannot; nor can one whose bytes read as other characters in the ANSI code page,
// in which the service manager, the registry and the file functions read them. That refuses
// best-fit substitutions, which the conversion does not report (U+FF3C becomes a backslash,
// U+0100 an A), and characters whose OEM byte is another character in ANSI (é is 0x82 in OEM
// 437, and 0x82 is a low quotation mark in ANSI 1252). Where the system code page is UTF-8
// (or UTF-7) the conversion accepts no flags and no used-default report; the read-back check
// stands in for them. The wide string is read no further than 256 characters: each takes at
// least one byte, so a longer one cannot fit, and one without a terminator there is refused
// without being read to its end.
static bool WideToOem(LPCWSTR wide, char* narrow)
{
    int length = 0;
    while (length < (int)kPathBufferSize && wide[length]) length++;
    if (length == (int)kPathBufferSize) return false;
    ZeroBytes(narrow, kPathBufferSize);
    UINT oem = GetOEMCP();
    bool takesNoFlags = oem == CP_UTF8 || oem == CP_UTF7;
    BOOL lossy = FALSE;
    if (!WideCharToMultiByte(CP_OEMCP, takesNoFlags ? 0 : WC_COMPOSITECHECK, wide, length + 1,
                             narrow, kPathBufferSize, nullptr, takesNoFlags ? nullptr : &lossy))
        return false;
    return !lossy && ReadsAs(CP_ACP, narrow, wide, length);
}

// The open of Brannic_InitExA up to its service calls: the shared beginning and one device
// open attempt. kNeedsDevice when the device is still missing.
static OpenStep OpenWithoutService()
{
    OpenStep step = BeginOpen();
    if (step != OpenStep::kNeedsDevice) return step;
    if (!DeviceOpenAttempt()) return OpenStep::kNeedsDevice;
    CountOpen();
    return OpenStep::kOpened;
}

// ---- Exports ----

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) s_moduleHandle = instance;
    return TRUE;
}

BOOL WINAPI Brannic_Init(void)
{
    OpenStep step = BeginOpen();
    if (step != OpenStep::kNeedsDevice) return step == OpenStep::kOpened;
    for (int attempt = 0; attempt < kDeviceOpenAttempts; attempt++) {
        if (DeviceOpenAttempt()) return CountOpen();
        Sleep(kDeviceRetryPauseMs);
    }
    return FALSE;
}

BOOL WINAPI Brannic_DeInit(void)
{
    if (g_contextOpenCount > 0) CloseOneOpen();
    return TRUE;
}

BOOL WINAPI Brannic_InitExA(BOOL installService, BOOL autoStart, LPCSTR driverDir)
{
    OpenStep step = OpenWithoutService();
    if (step != OpenStep::kNeedsDevice) return step == OpenStep::kOpened;
    if (installService && !ServiceInstall(autoStart, driverDir)) return FALSE;
    if (!ServiceStart() || !DeviceOpenAttempt()) return FALSE;
    return CountOpen();
}

BOOL WINAPI Brannic_InitExW(BOOL installService, BOOL autoStart, LPCWSTR driverDir)
{
    char narrow[kPathBufferSize];
    if (!installService || !driverDir) return Brannic_InitExA(installService, autoStart, nullptr);
    if (WideToOem(driverDir, narrow)) return Brannic_InitExA(installService, autoStart, narrow);
    // A directory that cannot be used fails the open only where installation would use it.
    return OpenWithoutService() == OpenStep::kOpened;
}

// Only the close that ends the last open releases the service handles and may remove it.
BOOL WINAPI Brannic_DeInitEx(BOOL removeService)
{
    if (g_contextOpenCount == 0) return TRUE;
    CloseOneOpen();
    if (g_contextOpenCount > 0) return TRUE;
    CloseTheService(&s_heldManager, &s_heldService);
    if (removeService) ServiceRemove();
    return TRUE;
}

BOOL WINAPI Brannic_AddServiceA(BOOL autoStart, LPCSTR driverDir)
{
    return ServiceInstall(autoStart, driverDir);
}

BOOL WINAPI Brannic_AddServiceW(BOOL autoStart, LPCWSTR driverDir)
{
    char narrow[kPathBufferSize];
    if (!driverDir) return Brannic_AddServiceA(autoStart, nullptr);
    if (!WideToOem(driverDir, narrow)) return FALSE;
    return Brannic_AddServiceA(autoStart, narrow);
}

BOOL WINAPI Brannic_RemoveService(void) { return ServiceRemove(); }
