/*
 * The library context: attach, the reference-counted opens and closes of the driver device,
 * and the registration, start and removal of the driver service.
 */
#include <windows.h>
#include <stdint.h>
#include "Brannic.h"
#include "context.h"
#include "driver_requests.h"

#define PATH_BUFFER_SIZE 256
#define SERVICE_KEY_PATH "SYSTEM\\CurrentControlSet\\Services\\" PORTIO_SERVICE_NAME
#define IMAGE_PATH_PREFIX "\\??\\"
#define DEVICE_OPEN_ATTEMPTS 20
#define DEVICE_RETRY_PAUSE_MS 1000

static_assert(sizeof(SERVICE_KEY_PATH) <= PATH_BUFFER_SIZE, "service key path fits its buffer");

/*
 * The service control manager's functions are bound at run time: QueryServiceStatusEx first
 * shipped with Windows 2000, and one missing load-time import keeps the whole library from
 * loading on Windows 95, 98, ME and NT 4.0, where the port path is needed. One list names the
 * slots and their types; a slot left empty makes its call yield 0.
 */
#define SCM_FUNCTIONS(X) \
    X(OpenSCManagerA) X(OpenServiceA) X(CreateServiceA) X(QueryServiceStatusEx) \
    X(StartServiceA) X(DeleteService) X(CloseServiceHandle)

#define SCM_SLOT(name) decltype(&::name) name;
static struct { SCM_FUNCTIONS(SCM_SLOT) } s_scm;
static BOOL s_scmBound;

/* ADVAPI32 is a load-time import (the registry functions), so it is loaded already. */
static void ScmBind(void)
{
    HMODULE advapi;

    if (s_scmBound) return;
    advapi = GetModuleHandleA("ADVAPI32.dll");
    if (advapi) {
#define SCM_BIND(name) \
        s_scm.name = reinterpret_cast<decltype(&::name)>( \
            reinterpret_cast<void (*)(void)>(GetProcAddress(advapi, #name)));
        SCM_FUNCTIONS(SCM_BIND)
#undef SCM_BIND
    }
    s_scmBound = TRUE;
}

/* Calls a service control manager function through its slot; 0 when the slot is empty. */
#define SCM_CALL(name, ...) (ScmBind(), s_scm.name ? s_scm.name(__VA_ARGS__) : 0)

static HMODULE s_moduleHandle;
static SC_HANDLE s_heldManager;
static SC_HANDLE s_heldService;

DWORD g_contextOpenCount;
DWORD g_contextNtFlag;
HANDLE g_contextDevice = INVALID_HANDLE_VALUE;

/* ---- Bounded strings: every path either fits its 256-byte buffer or the call fails. ---- */

/*
 * Appends text at *length; FALSE, with the buffer left terminated, when it does not fit. The
 * text is read no further than the room left: a caller's string that is longer, or has no
 * terminator at all, is refused without being read to its end.
 */
static BOOL StringAppend(char *buffer, DWORD *length, const char *text)
{
    DWORD room = PATH_BUFFER_SIZE - *length, add = 0;

    while (add < room && text[add]) add++;
    if (add == room) return FALSE;
    CopyBytes(buffer + *length, text, add + 1);
    *length += add;
    return TRUE;
}

/* ---- Opening and closing ---- */

static BOOL PlatformCheck(void)
{
    OSVERSIONINFOA info;

    ZeroBytes(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info)) return FALSE;
    g_contextNtFlag = info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
    return TRUE;
}

static BOOL DeviceOpenAttempt(void)
{
    g_contextDevice = CreateFileA(PORTIO_DEVICE_PATH, 0, 0, NULL, OPEN_EXISTING, 0, NULL);
    return g_contextDevice != INVALID_HANDLE_VALUE;
}

/* Counts one more successful open; the opens' way of reporting success. */
static BOOL CountOpen(void)
{
    g_contextOpenCount++;
    return TRUE;
}

/* Takes one open back; the last one closes the device. The count must be above 0. */
static void CloseOneOpen(void)
{
    if (--g_contextOpenCount > 0) return;
    if (g_contextDevice != INVALID_HANDLE_VALUE) {
        CloseHandle(g_contextDevice);
        g_contextDevice = INVALID_HANDLE_VALUE;
    }
}

static void HeldServiceHandlesClose(void)
{
    if (s_heldService) {
        SCM_CALL(CloseServiceHandle, s_heldService);
        s_heldService = NULL;
    }
    if (s_heldManager) {
        SCM_CALL(CloseServiceHandle, s_heldManager);
        s_heldManager = NULL;
    }
}

/* ---- The driver service ---- */

static BOOL DriverPathBuild(LPCSTR driverDir, char *path)
{
    DWORD length, attributes;

    if (driverDir) {
        length = 0;
        path[0] = 0;
        if (!StringAppend(path, &length, driverDir)) return FALSE;
        if ((length == 0 || path[length - 1] != '\\') && !StringAppend(path, &length, "\\"))
            return FALSE;
    } else {
        /* A full buffer means the name was cut short. */
        length = GetModuleFileNameA(s_moduleHandle, path, PATH_BUFFER_SIZE);
        if (length == 0 || length >= PATH_BUFFER_SIZE) return FALSE;
        while (length > 0 && path[length - 1] != '\\') length--;
        path[length] = 0;
    }
    if (!StringAppend(path, &length, PORTIO_DRIVER_FILE)) return FALSE;

    attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

/* A registered service keeps everything but its image path and start type. */
static BOOL ServiceUpdate(BOOL autoStart, const char *driverPath)
{
    char imagePath[PATH_BUFFER_SIZE];
    DWORD length = 0, start = autoStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
    HKEY key;
    BOOL written;

    imagePath[0] = 0;
    if (!StringAppend(imagePath, &length, IMAGE_PATH_PREFIX) ||
        !StringAppend(imagePath, &length, driverPath))
        return FALSE;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SERVICE_KEY_PATH, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return FALSE;
    RegSetValueExA(key, "ImagePath", 0, REG_SZ, (const BYTE *)imagePath, length + 1);
    written = RegSetValueExA(key, "Start", 0, REG_DWORD, (const BYTE *)&start,
                             sizeof(start)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

static BOOL ServiceInstall(BOOL autoStart, LPCSTR driverDir)
{
    char driverPath[PATH_BUFFER_SIZE];
    SC_HANDLE manager, service;

    if (!DriverPathBuild(driverDir, driverPath)) return FALSE;
    manager = SCM_CALL(OpenSCManagerA, NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager) return FALSE;

    service = SCM_CALL(OpenServiceA, manager, PORTIO_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (service) {
        SCM_CALL(CloseServiceHandle, service);
        SCM_CALL(CloseServiceHandle, manager);
        return ServiceUpdate(autoStart, driverPath);
    }

    service = SCM_CALL(CreateServiceA, manager, PORTIO_SERVICE_NAME, PORTIO_SERVICE_DISPLAY_NAME,
                             SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                             autoStart ? SERVICE_AUTO_START : SERVICE_DEMAND_START,
                             SERVICE_ERROR_NORMAL, driverPath, NULL, NULL, NULL, NULL, NULL);
    if (!service) {
        SCM_CALL(CloseServiceHandle, manager);
        return FALSE;
    }
    SCM_CALL(CloseServiceHandle, service);
    SCM_CALL(CloseServiceHandle, manager);
    return TRUE;
}

/* On success the handles stay in the context until the final Brannic_DeInitEx. */
static BOOL ServiceStart(void)
{
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;

    /* Handles left from an earlier start would leak once overwritten. */
    HeldServiceHandlesClose();
    s_heldManager = SCM_CALL(OpenSCManagerA, NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!s_heldManager) return FALSE;
    s_heldService = SCM_CALL(OpenServiceA, s_heldManager, PORTIO_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (!s_heldService) {
        HeldServiceHandlesClose();
        return FALSE;
    }
    if (SCM_CALL(QueryServiceStatusEx, s_heldService, SC_STATUS_PROCESS_INFO, (BYTE *)&status,
                             sizeof(status), &needed)) {
        if (status.dwCurrentState == SERVICE_RUNNING) return TRUE;
        if (SCM_CALL(StartServiceA, s_heldService, 0, NULL) ||
            GetLastError() == ERROR_SERVICE_ALREADY_RUNNING)
            return TRUE;
    }
    HeldServiceHandlesClose();
    return FALSE;
}

static BOOL ServiceRemove(void)
{
    SC_HANDLE manager, service;
    BOOL deleted;

    manager = SCM_CALL(OpenSCManagerA, NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager) return FALSE;
    service = SCM_CALL(OpenServiceA, manager, PORTIO_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (!service) {
        SCM_CALL(CloseServiceHandle, manager);
        return FALSE;
    }
    deleted = SCM_CALL(DeleteService, service);
    SCM_CALL(CloseServiceHandle, service);
    SCM_CALL(CloseServiceHandle, manager);
    return deleted ? TRUE : FALSE;
}

/* TRUE when the OEM string converts back to exactly the length wide characters given. */
static BOOL ConvertsBack(const char *narrow, LPCWSTR wide, int length)
{
    WCHAR back[PATH_BUFFER_SIZE];
    int i;

    if (MultiByteToWideChar(CP_OEMCP, 0, narrow, -1, back, PATH_BUFFER_SIZE) != length + 1)
        return FALSE;
    for (i = 0; i < length; i++)
        if (back[i] != wide[i]) return FALSE;
    return TRUE;
}

/*
 * Wide directories go to the OEM code page. A conversion that fails, does not fit or needs a
 * default character cannot name the directory, so it fails the call; so does one whose
 * narrow form means other characters than the wide one: the conversion makes best-fit
 * substitutions that it does not report (U+FF3C becomes a backslash, U+0100 an A), which
 * would name another folder. The wide string is read no further than 256 characters: each
 * takes at least one byte, so a longer one cannot fit, and one without a terminator there is
 * refused without being read to its end.
 */
static BOOL WideToOem(LPCWSTR wide, char *narrow)
{
    BOOL lossy = FALSE;
    int length = 0;

    while (length < PATH_BUFFER_SIZE && wide[length]) length++;
    if (length == PATH_BUFFER_SIZE) return FALSE;
    ZeroBytes(narrow, PATH_BUFFER_SIZE);
    if (!WideCharToMultiByte(CP_OEMCP, WC_COMPOSITECHECK, wide, length + 1, narrow,
                             PATH_BUFFER_SIZE, NULL, &lossy))
        return FALSE;
    return !lossy && ConvertsBack(narrow, wide, length);
}

/* A wide directory that could not be converted fails only where installation would use it. */
static BOOL ContextOpenEx(BOOL install, BOOL autoStart, LPCSTR driverDir, BOOL dirUsable)
{
    if (g_contextOpenCount > 0) return CountOpen();
    if (!PlatformCheck()) return FALSE;
    if (!g_contextNtFlag) return CountOpen();
    if (DeviceOpenAttempt()) return CountOpen();

    if (install && (!dirUsable || !ServiceInstall(autoStart, driverDir))) return FALSE;
    if (!ServiceStart()) return FALSE;
    if (!DeviceOpenAttempt()) return FALSE;
    return CountOpen();
}

/* ---- Exports ---- */

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) s_moduleHandle = instance;
    return TRUE;
}

BOOL WINAPI Brannic_Init(void)
{
    if (g_contextOpenCount > 0) return CountOpen();
    if (!PlatformCheck()) return FALSE;
    if (!g_contextNtFlag) return CountOpen();

    for (int attempt = 0; attempt < DEVICE_OPEN_ATTEMPTS; attempt++) {
        if (DeviceOpenAttempt()) return CountOpen();
        Sleep(DEVICE_RETRY_PAUSE_MS);
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
    return ContextOpenEx(installService, autoStart, driverDir, TRUE);
}

BOOL WINAPI Brannic_InitExW(BOOL installService, BOOL autoStart, LPCWSTR driverDir)
{
    char narrow[PATH_BUFFER_SIZE];
    BOOL usable;

    if (!installService || !driverDir) return ContextOpenEx(installService, autoStart, NULL, TRUE);
    usable = WideToOem(driverDir, narrow);
    return ContextOpenEx(installService, autoStart, narrow, usable);
}

/* Only the close that ends the last open releases the service handles and may remove it. */
BOOL WINAPI Brannic_DeInitEx(BOOL removeService)
{
    if (g_contextOpenCount == 0) return TRUE;
    CloseOneOpen();
    if (g_contextOpenCount > 0) return TRUE;
    HeldServiceHandlesClose();
    if (removeService) ServiceRemove();
    return TRUE;
}

BOOL WINAPI Brannic_AddServiceA(BOOL autoStart, LPCSTR driverDir)
{
    return ServiceInstall(autoStart, driverDir);
}

BOOL WINAPI Brannic_AddServiceW(BOOL autoStart, LPCWSTR driverDir)
{
    char narrow[PATH_BUFFER_SIZE];

    if (!driverDir) return Brannic_AddServiceA(autoStart, NULL);
    if (!WideToOem(driverDir, narrow)) return FALSE;
    return Brannic_AddServiceA(autoStart, narrow);
}

BOOL WINAPI Brannic_RemoveService(void)
{
    return ServiceRemove();
}
