// brannic status: why the library can or cannot reach its driver. The library's exports only
// say 0; this looks at the platform, the driver service, its file, the device, the EC lock and
// the process's rights with calls of its own, a line each, and ends with one line of advice
// for the first problem found. Exit status 0 when the device opens, 1 when it does not.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "Brannic.h"
#include "cli.h"
#include "driver_protocol.h"
#include "run_time_binding.h"

// The service manager's functions (and the registry's, from the same library) are bound at
// run time: Windows 95 has no service manager, and there brannic.exe must still load.
#define STATUS_FUNCTIONS(X)                                                                        \
    X(OpenSCManagerA, BINDING_DECLARED(OpenSCManagerA))                                            \
    X(OpenServiceA, BINDING_DECLARED(OpenServiceA))                                                \
    X(QueryServiceConfigA, BINDING_DECLARED(QueryServiceConfigA))                                  \
    X(QueryServiceStatus, BINDING_DECLARED(QueryServiceStatus))                                    \
    X(ChangeServiceConfigA, BINDING_DECLARED(ChangeServiceConfigA))                                \
    X(CloseServiceHandle, BINDING_DECLARED(CloseServiceHandle))                                    \
    X(RegOpenKeyExA, BINDING_DECLARED(RegOpenKeyExA))                                              \
    X(RegQueryValueExA, BINDING_DECLARED(RegQueryValueExA))                                        \
    X(RegCloseKey, BINDING_DECLARED(RegCloseKey))

struct ServiceTable {
    STATUS_FUNCTIONS(BINDING_SLOT)
};
static ServiceTable s_scm;

// NtQuerySemaphore reads the lock's count without taking it.
typedef LONG(WINAPI* QuerySemaphoreFn)(HANDLE, int, void*, ULONG, ULONG*);
struct SemaphoreBasicInformation {
    LONG current, maximum;
};
const DWORD kSemaphoreQueryState = 0x0001;  // the right NtQuerySemaphore needs

// True when every slot was filled: each check needs them all.
static bool BindServiceFunctions()
{
    HMODULE module = LoadLibraryA("advapi32.dll");
    if (!module) return false;
    ServiceTable& table = s_scm;
    STATUS_FUNCTIONS(BINDING_RESOLVE)
#define STATUS_CHECK(name, type) &&table.name
    return true STATUS_FUNCTIONS(STATUS_CHECK);
#undef STATUS_CHECK
}

// The platform's text for an error code, on one line.
static const char* ErrorText(DWORD error)
{
    static char s_text[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, s_text, sizeof(s_text), nullptr);
    while (length > 0 && (s_text[length - 1] == '\r' || s_text[length - 1] == '\n' ||
                          s_text[length - 1] == ' ' || s_text[length - 1] == '.'))
        length--;
    if (length == 0) return "";
    s_text[length] = '\0';
    return s_text;
}

static void Line(const char* what, const char* format, ...) __attribute__((format(printf, 2, 3)));
static void Line(const char* what, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    printf("%s: ", what);
    vprintf(format, args);
    putchar('\n');
    va_end(args);
}

static const char* StartTypeText(DWORD start)
{
    switch (start) {
    case SERVICE_BOOT_START: return "at boot";
    case SERVICE_SYSTEM_START: return "with the system's drivers";
    case SERVICE_AUTO_START: return "automatic, with Windows";
    case SERVICE_DEMAND_START: return "on demand (the library starts it)";
    case SERVICE_DISABLED: return "disabled";
    }
    return "unknown";
}

static const char* StateText(DWORD state)
{
    switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "starting";
    case SERVICE_STOP_PENDING: return "stopping";
    case SERVICE_RUNNING: return "running";
    case SERVICE_PAUSED: return "paused";
    }
    return "changing";
}

// first, then second, into out of size bytes; false when they do not fit.
static bool Join(char* out, size_t size, const char* first, const char* second)
{
    size_t a = strlen(first), b = strlen(second);
    if (a + b >= size) return false;
    memcpy(out, first, a);
    memcpy(out + a, second, b + 1);
    return true;
}

// The file an image path names: "\??\" is the kernel's prefix for a plain path;
// "\SystemRoot\" and a path without a drive are taken from the Windows folder, as the
// kernel's loader takes them. False when it does not fit.
static bool DriverFileOf(const char* imagePath, char* file, size_t size)
{
    char windows[MAX_PATH];
    const char* rest = imagePath;
    if (strncmp(rest, "\\??\\", 4) == 0) {
        rest += 4;
    } else if (_strnicmp(rest, "\\SystemRoot\\", 12) == 0 ||
               (rest[0] && rest[0] != '\\' && rest[1] != ':')) {
        if (rest[0] == '\\') rest += 12;
        UINT length = GetWindowsDirectoryA(windows, sizeof(windows) - 1);
        if (length == 0 || length >= sizeof(windows) - 1) return false;
        strcpy(windows + length, "\\");
        return Join(file, size, windows, rest);
    }
    return Join(file, size, rest, "");
}

// "ImagePath" and "Start" of the service's registry key, each left as it is when unreadable.
static void ReadServiceKey(char* image, DWORD size, DWORD* start)
{
    HKEY key;
    if (s_scm.RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SYSTEM\\CurrentControlSet\\Services\\" PORTIO_SERVICE_NAME, 0,
                            KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD type = 0, length = size - 1, value = 0;
    if (s_scm.RegQueryValueExA(key, "ImagePath", nullptr, &type, (BYTE*)image, &length) ==
            ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ))
        image[length < size ? length : size - 1] = '\0';
    else
        image[0] = '\0';
    length = sizeof(value);
    if (s_scm.RegQueryValueExA(key, "Start", nullptr, &type, (BYTE*)&value, &length) ==
            ERROR_SUCCESS &&
        type == REG_DWORD)
        *start = value;
    s_scm.RegCloseKey(key);
}

// What the checks found, in the order the advice looks at it.
struct Findings {
    bool registered = false, deleting = false, disabled = false, fileMissing = false;
    bool running = false, deviceOpens = false, rights = false;
    DWORD deviceError = 0;
};

// The registration, its file, whether it is going, and its state, a line each.
static void CheckService(SC_HANDLE manager, Findings* found)
{
    SC_HANDLE service = s_scm.OpenServiceA(manager, PORTIO_SERVICE_NAME,
                                           SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (!service) {
        DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
            Line("service " PORTIO_SERVICE_NAME, "not registered");
        else
            Line("service " PORTIO_SERVICE_NAME, "cannot be looked at: %s", ErrorText(error));
        return;
    }
    found->registered = true;
    Line("service " PORTIO_SERVICE_NAME, "registered");

    static BYTE s_buffer[8192];
    QUERY_SERVICE_CONFIGA* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(s_buffer);
    DWORD needed = 0;
    if (s_scm.QueryServiceConfigA(service, config, sizeof(s_buffer), &needed)) {
        // The image path and start type as the library last wrote them, which the next start
        // reads; the service manager's own copy where the key cannot be read.
        char image[MAX_PATH] = "", file[MAX_PATH] = "";
        DWORD start = config->dwStartType;
        ReadServiceKey(image, sizeof(image), &start);
        if (!image[0] && config->lpBinaryPathName)
            Join(image, sizeof(image), config->lpBinaryPathName, "");
        Line("service display name", "%s", config->lpDisplayName ? config->lpDisplayName : "");
        Line("service start type", "%s", StartTypeText(start));
        Line("service image path", "%s", image);
        found->disabled = start == SERVICE_DISABLED;
        DWORD attributes = INVALID_FILE_ATTRIBUTES;
        if (DriverFileOf(image, file, sizeof(file))) attributes = GetFileAttributesA(file);
        found->fileMissing =
            attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY);
        Line("driver file", "%s %s", found->fileMissing ? "missing:" : "found:", file);
    } else {
        Line("service configuration", "cannot be read: %s", ErrorText(GetLastError()));
    }

    // A change that changes nothing is refused for a service marked for deletion; asking
    // needs the right to change the service.
    SC_HANDLE changer = s_scm.OpenServiceA(manager, PORTIO_SERVICE_NAME, SERVICE_CHANGE_CONFIG);
    if (!changer) {
        Line("service marked for deletion", "cannot tell: %s", ErrorText(GetLastError()));
    } else {
        found->deleting = !s_scm.ChangeServiceConfigA(changer, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                                      SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                                      nullptr, nullptr, nullptr, nullptr) &&
                          GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
        Line("service marked for deletion",
             found->deleting ? "yes: it goes once its driver has stopped and no program holds it"
                             : "no");
        s_scm.CloseServiceHandle(changer);
    }

    SERVICE_STATUS status = {};
    if (s_scm.QueryServiceStatus(service, &status)) {
        found->running = status.dwCurrentState == SERVICE_RUNNING;
        Line("service state", "%s", StateText(status.dwCurrentState));
    } else {
        Line("service state", "cannot be read: %s", ErrorText(GetLastError()));
    }
    s_scm.CloseServiceHandle(service);
}

static void CheckDevice(Findings* found)
{
    HANDLE device = CreateFileA(PORTIO_DEVICE_PATH, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        found->deviceError = GetLastError();
        Line("device " PORTIO_DEVICE_PATH, "does not open: %s", ErrorText(found->deviceError));
        return;
    }
    CloseHandle(device);
    found->deviceOpens = true;
    Line("device " PORTIO_DEVICE_PATH, "opens");
}

// Opened only to read its count: nothing here takes the lock.
static void CheckEcLock()
{
    const char* what = "EC lock \"" PORTIO_EC_LOCK_NAME "\"";
    HANDLE lock = OpenSemaphoreA(kSemaphoreQueryState, FALSE, PORTIO_EC_LOCK_NAME);
    if (!lock) {
        Line(what, "does not exist now (no program is sending Dorvane EC commands)");
        return;
    }
    QuerySemaphoreFn query = reinterpret_cast<QuerySemaphoreFn>(reinterpret_cast<void (*)(void)>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySemaphore")));
    SemaphoreBasicInformation info = {-1, -1};
    if (query && query(lock, 0, &info, sizeof(info), nullptr) == 0)
        Line(what, info.current > 0 ? "exists now, free"
                                    : "exists now, taken (a send is under way, or a program "
                                      "that died holding it keeps it taken while others "
                                      "contend for it)");
    else
        Line(what, "exists now");
    CloseHandle(lock);
}

// The folder of Brannic.dll, when Tamsk.sys lies in it; else "DIR".
static const char* DriverFolderHint()
{
    static char s_folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(GetModuleHandleA("Brannic.dll"), s_folder, sizeof(s_folder));
    if (length == 0 || length >= sizeof(s_folder)) return "DIR";
    char* slash = strrchr(s_folder, '\\');
    if (!slash || (size_t)(slash + 1 - s_folder) + sizeof(PORTIO_DRIVER_FILE) > sizeof(s_folder))
        return "DIR";
    strcpy(slash + 1, PORTIO_DRIVER_FILE);
    DWORD attributes = GetFileAttributesA(s_folder);
    *slash = '\0';
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return "DIR";
    return s_folder;
}

static void Advise(const Findings& found)
{
    const char* admin = found.rights ? "" : "as an administrator, ";
    const char* dir = DriverFolderHint();
    if (!found.registered)
        printf(
            "advice: register and start the driver %swith: brannic --install --dir \"%s\" open\n",
            admin, dir);
    else if (found.deleting)
        printf("advice: the service is being deleted; close the programs that use the library "
               "(or restart Windows), then %sregister it again with: "
               "brannic --install --dir \"%s\" open\n",
               admin, dir);
    else if (found.disabled || found.fileMissing)
        printf("advice: the service %s; register it again %sfrom the folder of Tamsk.sys with: "
               "brannic --install --dir \"%s\" open\n",
               found.disabled ? "is disabled" : "names a driver file that is not there", admin,
               dir);
    else if (!found.running)
        printf("advice: start the driver %swith: brannic open\n", admin);
    else if (!found.deviceOpens)
        printf("advice: the driver runs but its device does not open (%s); restart Windows\n",
               ErrorText(found.deviceError));
}

int StatusCommand(int, int argc, char** argv)
{
    if (!CheckCount(argc, argv, 0, 0)) return kExitBadInput;

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version)) {
        Line("platform", "unknown: %s", ErrorText(GetLastError()));
        return kExitCallFailed;
    }
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        Line("platform",
             "Windows %lu.%lu, not of the NT family: the port commands use the "
             "processor's port instructions and need no driver; the register, EC and Dorvane "
             "commands are refused here",
             version.dwMajorVersion, version.dwMinorVersion);
        return kExitDone;
    }
    Line("platform",
         "Windows NT family %lu.%lu (build %lu): every request goes through the "
         "driver",
         version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber & 0xFFFF);

    Findings found;
    SC_HANDLE manager = nullptr;
    if (!BindServiceFunctions()) {
        Line("service manager", "its functions are missing from advapi32.dll");
    } else {
        // What registering takes: the library asks the manager for all access.
        SC_HANDLE full = s_scm.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        found.rights = full != nullptr;
        if (full) s_scm.CloseServiceHandle(full);
        manager = s_scm.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (manager)
            CheckService(manager, &found);
        else
            Line("service manager", "cannot be asked: %s", ErrorText(GetLastError()));
    }
    CheckDevice(&found);
    CheckEcLock();
    Line("rights to register a service", found.rights ? "yes" : "no (not an administrator)");
    if (manager) s_scm.CloseServiceHandle(manager);

    Advise(found);
    return found.deviceOpens ? kExitDone : kExitCallFailed;
}
