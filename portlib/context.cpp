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
static struct { SCM_FUNCTIONS(SCM_SLOT) } scm;
static BOOL scm_bound;

/* ADVAPI32 is a load-time import (the registry functions), so it is loaded already. */
static void scm_bind(void)
{
    HMODULE advapi;

    if (scm_bound) return;
    advapi = GetModuleHandleA("ADVAPI32.dll");
    if (advapi) {
#define SCM_BIND(name) \
        scm.name = reinterpret_cast<decltype(&::name)>( \
            reinterpret_cast<void (*)(void)>(GetProcAddress(advapi, #name)));
        SCM_FUNCTIONS(SCM_BIND)
#undef SCM_BIND
    }
    scm_bound = TRUE;
}

/* Calls a service control manager function through its slot; 0 when the slot is empty. */
#define SCM_CALL(name, ...) (scm_bind(), scm.name ? scm.name(__VA_ARGS__) : 0)

static HMODULE module_handle;
static SC_HANDLE held_manager;
static SC_HANDLE held_service;

DWORD context_open_count;
DWORD context_nt_flag;
HANDLE context_device = INVALID_HANDLE_VALUE;

/* ---- Bounded strings: every path either fits its 256-byte buffer or the call fails. ---- */

/*
 * Appends text at *length; FALSE, with the buffer left terminated, when it does not fit. The
 * text is read no further than the room left: a caller's string that is longer, or has no
 * terminator at all, is refused without being read to its end.
 */
static BOOL string_append(char *buffer, DWORD *length, const char *text)
{
    DWORD room = PATH_BUFFER_SIZE - *length, add = 0;

    while (add < room && text[add]) add++;
    if (add == room) return FALSE;
    copy_bytes(buffer + *length, text, add + 1);
    *length += add;
    return TRUE;
}

/* ---- Opening and closing ---- */

static BOOL platform_check(void)
{
    OSVERSIONINFOA info;

    zero_bytes(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExA(&info)) return FALSE;
    context_nt_flag = info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
    return TRUE;
}

static BOOL device_open_attempt(void)
{
    context_device = CreateFileA(PORTIO_DEVICE_PATH, 0, 0, NULL, OPEN_EXISTING, 0, NULL);
    return context_device != INVALID_HANDLE_VALUE;
}

/* Counts one more successful open; the opens' way of reporting success. */
static BOOL count_open(void)
{
    context_open_count++;
    return TRUE;
}

/* Takes one open back; the last one closes the device. The count must be above 0. */
static void close_one_open(void)
{
    if (--context_open_count > 0) return;
    if (context_device != INVALID_HANDLE_VALUE) {
        CloseHandle(context_device);
        context_device = INVALID_HANDLE_VALUE;
    }
}

static void held_service_handles_close(void)
{
    if (held_service) {
        SCM_CALL(CloseServiceHandle, held_service);
        held_service = NULL;
    }
    if (held_manager) {
        SCM_CALL(CloseServiceHandle, held_manager);
        held_manager = NULL;
    }
}

/* ---- The driver service ---- */

static BOOL driver_path_build(LPCSTR driver_dir, char *path)
{
    DWORD length, attributes;

    if (driver_dir) {
        length = 0;
        path[0] = 0;
        if (!string_append(path, &length, driver_dir)) return FALSE;
        if ((length == 0 || path[length - 1] != '\\') && !string_append(path, &length, "\\"))
            return FALSE;
    } else {
        /* A full buffer means the name was cut short. */
        length = GetModuleFileNameA(module_handle, path, PATH_BUFFER_SIZE);
        if (length == 0 || length >= PATH_BUFFER_SIZE) return FALSE;
        while (length > 0 && path[length - 1] != '\\') length--;
        path[length] = 0;
    }
    if (!string_append(path, &length, PORTIO_DRIVER_FILE)) return FALSE;

    attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

/* A registered service keeps everything but its image path and start type. */
static BOOL service_update(BOOL auto_start, const char *driver_path)
{
    char image_path[PATH_BUFFER_SIZE];
    DWORD length = 0, start = auto_start ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
    HKEY key;
    BOOL written;

    image_path[0] = 0;
    if (!string_append(image_path, &length, IMAGE_PATH_PREFIX) ||
        !string_append(image_path, &length, driver_path))
        return FALSE;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SERVICE_KEY_PATH, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
        return FALSE;
    RegSetValueExA(key, "ImagePath", 0, REG_SZ, (const BYTE *)image_path, length + 1);
    written = RegSetValueExA(key, "Start", 0, REG_DWORD, (const BYTE *)&start,
                             sizeof(start)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

static BOOL service_install(BOOL auto_start, LPCSTR driver_dir)
{
    char driver_path[PATH_BUFFER_SIZE];
    SC_HANDLE manager, service;

    if (!driver_path_build(driver_dir, driver_path)) return FALSE;
    manager = SCM_CALL(OpenSCManagerA, NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!manager) return FALSE;

    service = SCM_CALL(OpenServiceA, manager, PORTIO_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (service) {
        SCM_CALL(CloseServiceHandle, service);
        SCM_CALL(CloseServiceHandle, manager);
        return service_update(auto_start, driver_path);
    }

    service = SCM_CALL(CreateServiceA, manager, PORTIO_SERVICE_NAME, PORTIO_SERVICE_DISPLAY_NAME,
                             SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                             auto_start ? SERVICE_AUTO_START : SERVICE_DEMAND_START,
                             SERVICE_ERROR_NORMAL, driver_path, NULL, NULL, NULL, NULL, NULL);
    if (!service) {
        SCM_CALL(CloseServiceHandle, manager);
        return FALSE;
    }
    SCM_CALL(CloseServiceHandle, service);
    SCM_CALL(CloseServiceHandle, manager);
    return TRUE;
}

/* On success the handles stay in the context until the final Brannic_DeInitEx. */
static BOOL service_start(void)
{
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;

    /* Handles left from an earlier start would leak once overwritten. */
    held_service_handles_close();
    held_manager = SCM_CALL(OpenSCManagerA, NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (!held_manager) return FALSE;
    held_service = SCM_CALL(OpenServiceA, held_manager, PORTIO_SERVICE_NAME, SERVICE_ALL_ACCESS);
    if (!held_service) {
        held_service_handles_close();
        return FALSE;
    }
    if (SCM_CALL(QueryServiceStatusEx, held_service, SC_STATUS_PROCESS_INFO, (BYTE *)&status,
                             sizeof(status), &needed)) {
        if (status.dwCurrentState == SERVICE_RUNNING) return TRUE;
        if (SCM_CALL(StartServiceA, held_service, 0, NULL) ||
            GetLastError() == ERROR_SERVICE_ALREADY_RUNNING)
            return TRUE;
    }
    held_service_handles_close();
    return FALSE;
}

static BOOL service_remove(void)
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
static BOOL converts_back(const char *narrow, LPCWSTR wide, int length)
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
static BOOL wide_to_oem(LPCWSTR wide, char *narrow)
{
    BOOL lossy = FALSE;
    int length = 0;

    while (length < PATH_BUFFER_SIZE && wide[length]) length++;
    if (length == PATH_BUFFER_SIZE) return FALSE;
    zero_bytes(narrow, PATH_BUFFER_SIZE);
    if (!WideCharToMultiByte(CP_OEMCP, WC_COMPOSITECHECK, wide, length + 1, narrow,
                             PATH_BUFFER_SIZE, NULL, &lossy))
        return FALSE;
    return !lossy && converts_back(narrow, wide, length);
}

/* A wide directory that could not be converted fails only where installation would use it. */
static BOOL context_open_ex(BOOL install, BOOL auto_start, LPCSTR driver_dir, BOOL dir_usable)
{
    if (context_open_count > 0) return count_open();
    if (!platform_check()) return FALSE;
    if (!context_nt_flag) return count_open();
    if (device_open_attempt()) return count_open();

    if (install && (!dir_usable || !service_install(auto_start, driver_dir))) return FALSE;
    if (!service_start()) return FALSE;
    if (!device_open_attempt()) return FALSE;
    return count_open();
}

/* ---- Exports ---- */

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) module_handle = instance;
    return TRUE;
}

BOOL WINAPI Brannic_Init(void)
{
    if (context_open_count > 0) return count_open();
    if (!platform_check()) return FALSE;
    if (!context_nt_flag) return count_open();

    for (int attempt = 0; attempt < DEVICE_OPEN_ATTEMPTS; attempt++) {
        if (device_open_attempt()) return count_open();
        Sleep(DEVICE_RETRY_PAUSE_MS);
    }
    return FALSE;
}

BOOL WINAPI Brannic_DeInit(void)
{
    if (context_open_count > 0) close_one_open();
    return TRUE;
}

BOOL WINAPI Brannic_InitExA(BOOL installService, BOOL autoStart, LPCSTR driverDir)
{
    return context_open_ex(installService, autoStart, driverDir, TRUE);
}

BOOL WINAPI Brannic_InitExW(BOOL installService, BOOL autoStart, LPCWSTR driverDir)
{
    char narrow[PATH_BUFFER_SIZE];
    BOOL usable;

    if (!installService || !driverDir) return context_open_ex(installService, autoStart, NULL, TRUE);
    usable = wide_to_oem(driverDir, narrow);
    return context_open_ex(installService, autoStart, narrow, usable);
}

/* Only the close that ends the last open releases the service handles and may remove it. */
BOOL WINAPI Brannic_DeInitEx(BOOL removeService)
{
    if (context_open_count == 0) return TRUE;
    close_one_open();
    if (context_open_count > 0) return TRUE;
    held_service_handles_close();
    if (removeService) service_remove();
    return TRUE;
}

BOOL WINAPI Brannic_AddServiceA(BOOL autoStart, LPCSTR driverDir)
{
    return service_install(autoStart, driverDir);
}

BOOL WINAPI Brannic_AddServiceW(BOOL autoStart, LPCWSTR driverDir)
{
    char narrow[PATH_BUFFER_SIZE];

    if (!driverDir) return Brannic_AddServiceA(autoStart, NULL);
    if (!wide_to_oem(driverDir, narrow)) return FALSE;
    return Brannic_AddServiceA(autoStart, narrow);
}

BOOL WINAPI Brannic_RemoveService(void)
{
    return service_remove();
}
