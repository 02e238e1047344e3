// brannic status: why the library can or cannot reach its driver. The library's exports only
// say 0; this looks at the platform, the driver service, its file, the device, the EC lock and
// the process's rights with calls of its own, a line each, and ends with one line of advice
// for the first problem found. Exit status 0 when the device opens, 1 when it does not.
#include <stdarg.h>
#include <string.h>

#include "Brannic.h"
#include "arguments.h"
#include "cli.h"
#include "console.h"
#include "driver_file.h"
#include "driver_protocol.h"
#include "driver_service.h"
#include "run_time_binding.h"
#include "status.h"

// NtQuerySemaphore reads the lock's count without taking it.
typedef LONG(WINAPI* QuerySemaphoreFn)(HANDLE, int, void*, ULONG, ULONG*);
#define NTDLL_FUNCTIONS(X) X(NtQuerySemaphore, QuerySemaphoreFn)
struct NtdllTable {
    NTDLL_FUNCTIONS(BINDING_SLOT)
};
struct SemaphoreBasicInformation {
    LONG current, maximum;
};
const DWORD kSemaphoreQueryState = 0x0001;  // the right NtQuerySemaphore needs

static void PrintFinding(const char* what, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
static void PrintFinding(const char* what, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Print("%s: ", what);
    PrintList(kStandardOutput, format, args);
    WriteText(kStandardOutput, "\n");
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

// What the checks found, in the order the advice looks at it.
struct Findings {
    bool registered = false, deleting = false, disabled = false, fileMissing = false;
    WORD fileMachine = 0, platformMachine = 0;  // differ for a driver of another processor
    DWORD startFailure = 0;                     // the recorded reason of the last start
    bool running = false, deviceOpens = false, rights = false, othersMayWrite = false;
    DWORD deviceError = 0;
    char file[MAX_PATH] = "";
};

// Who besides the administrators may change the driver file or its folder, a line each.
static void CheckWriteAccessOf(const char* what, const char* path, Findings* found)
{
    char who[512];
    switch (CheckWriteAccess(path, who, sizeof(who))) {
    case kAdministratorsOnly: PrintFinding(what, "administrators only"); break;
    case kOthersMayWrite:
        found->othersMayWrite = true;
        PrintFinding(what, "not only administrators: %s", who);
        break;
    case kWriteAccessUnknown: PrintFinding(what, "cannot tell: %s", who); break;
    }
}

// The processor the driver file is built for, and who may change it.
static void CheckDriverFile(Findings* found)
{
    found->platformMachine = PlatformMachine();
    found->fileMachine = FileMachine(found->file);
    if (!found->fileMachine)
        PrintFinding("driver file machine", "unknown: the file cannot be read or is no driver");
    else if (found->fileMachine == found->platformMachine)
        PrintFinding("driver file machine", "%s, as this Windows needs",
                     MachineName(found->fileMachine));
    else
        PrintFinding("driver file machine", "%s, but this Windows loads only %s drivers",
                     MachineName(found->fileMachine), MachineName(found->platformMachine));

    CheckWriteAccessOf("driver file write access", found->file, found);
    char folder[MAX_PATH];
    FormatText(folder, sizeof(folder), "%s", found->file);
    char* slash = strrchr(folder, '\\');
    if (slash && slash > folder && slash[-1] != ':')
        *slash = '\0';
    else if (slash)
        slash[1] = '\0';  // a drive's root keeps its backslash
    CheckWriteAccessOf("driver folder write access", folder, found);
}

// The registration, its file, whether it is going, and its state, a line each.
static void CheckService(SC_HANDLE manager, Findings* found)
{
    SC_HANDLE service = g_service.OpenServiceA(manager, PORTIO_SERVICE_NAME,
                                               SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    if (!service) {
        DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
            PrintFinding("service " PORTIO_SERVICE_NAME, "not registered");
        else
            PrintFinding("service " PORTIO_SERVICE_NAME, "cannot be looked at: %s",
                         ErrorText(error));
        return;
    }
    found->registered = true;
    PrintFinding("service " PORTIO_SERVICE_NAME, "registered");

    static BYTE s_buffer[8192];
    QUERY_SERVICE_CONFIGA* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(s_buffer);
    DWORD needed = 0;
    if (g_service.QueryServiceConfigA(service, config, sizeof(s_buffer), &needed)) {
        // The image path and start type as the library last wrote them, which the next start
        // reads; the service manager's own copy where the key cannot be read. The manager
        // reads the start type only when Windows starts: until then its copy decides.
        char image[MAX_PATH] = "";
        DWORD start = config->dwStartType;
        ReadServiceKey(image, sizeof(image), &start);
        if (!image[0] && config->lpBinaryPathName)
            FormatText(image, sizeof(image), "%s", config->lpBinaryPathName);
        PrintFinding("service display name", "%s",
                     config->lpDisplayName ? config->lpDisplayName : "");
        if (start == config->dwStartType)
            PrintFinding("service start type", "%s", StartTypeText(start));
        else
            PrintFinding("service start type",
                         "%s; the service manager holds \"%s\" until Windows restarts",
                         StartTypeText(start), StartTypeText(config->dwStartType));
        PrintFinding("service image path", "%s", image);
        found->disabled = config->dwStartType == SERVICE_DISABLED;
        DWORD attributes = INVALID_FILE_ATTRIBUTES;
        if (DriverFileOf(image, found->file, sizeof(found->file)))
            attributes = GetFileAttributesA(found->file);
        found->fileMissing =
            attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY);
        PrintFinding("driver file", "%s %s",
                     found->fileMissing ? "missing:" : "found:", found->file);
        if (!found->fileMissing) CheckDriverFile(found);
    } else {
        PrintFinding("service configuration", "cannot be read: %s", ErrorText(GetLastError()));
    }

    // A change that changes nothing is refused for a service marked for deletion; asking
    // needs the right to change the service.
    SC_HANDLE changer = g_service.OpenServiceA(manager, PORTIO_SERVICE_NAME, SERVICE_CHANGE_CONFIG);
    if (!changer) {
        PrintFinding("service marked for deletion", "cannot tell: %s", ErrorText(GetLastError()));
    } else {
        found->deleting = !g_service.ChangeServiceConfigA(
                              changer, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) &&
                          GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
        PrintFinding("service marked for deletion",
                     found->deleting
                         ? "yes: it goes once its driver has stopped and no program holds it"
                         : "no");
        g_service.CloseServiceHandle(changer);
    }

    // The state, and for a stopped service why its last start failed, as the service manager
    // recorded it: read, never found out by starting it.
    SERVICE_STATUS status = {};
    if (g_service.QueryServiceStatus(service, &status)) {
        found->running = status.dwCurrentState == SERVICE_RUNNING;
        PrintFinding("service state", "%s", StateText(status.dwCurrentState));
        if (status.dwCurrentState == SERVICE_STOPPED) {
            found->startFailure = RecordedStartFailure(status);
            if (found->startFailure)
                PrintFinding("service last start", "failed: %s",
                             StartFailureText(found->startFailure));
            else if (status.dwWin32ExitCode == ERROR_SERVICE_NEVER_STARTED)
                PrintFinding("service last start", "none since Windows started");
            else
                PrintFinding("service last start", "no failure recorded");
        }
    } else {
        PrintFinding("service state", "cannot be read: %s", ErrorText(GetLastError()));
    }
    g_service.CloseServiceHandle(service);
}

static void CheckDevice(Findings* found)
{
    HANDLE device = CreateFileA(PORTIO_DEVICE_PATH, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        found->deviceError = GetLastError();
        PrintFinding("device " PORTIO_DEVICE_PATH, "does not open: %s",
                     ErrorText(found->deviceError));
        return;
    }
    CloseHandle(device);
    found->deviceOpens = true;
    PrintFinding("device " PORTIO_DEVICE_PATH, "opens");
}

// Opened only to read its count: nothing here takes the lock.
static void CheckEcLock()
{
    const char* what = "EC lock \"" PORTIO_EC_LOCK_NAME "\"";
    HANDLE lock = OpenSemaphoreA(kSemaphoreQueryState, FALSE, PORTIO_EC_LOCK_NAME);
    if (!lock) {
        PrintFinding(what, "does not exist now (no program is sending Dorvane EC commands)");
        return;
    }
    NtdllTable ntdll = {};
    SemaphoreBasicInformation info = {-1, -1};
    if (BINDING_BIND(NTDLL_FUNCTIONS, ntdll, GetModuleHandleA("ntdll.dll")) &&
        ntdll.NtQuerySemaphore(lock, 0, &info, sizeof(info), nullptr) == 0)
        PrintFinding(what, info.current > 0
                               ? "exists now, free"
                               : "exists now, taken (a send is under way, or a program "
                                 "that died holding it keeps it taken while others "
                                 "contend for it)");
    else
        PrintFinding(what, "exists now");
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
    const char* advice = StartFailureAdvice(found.startFailure);
    if (!found.registered)
        Print("advice: register and start the driver %swith: brannic --install --dir \"%s\" open\n",
              admin, dir);
    else if (found.deleting)
        Print("advice: the service is being deleted; close the programs that use the library "
              "(or restart Windows), then %sregister it again with: "
              "brannic --install --dir \"%s\" open\n",
              admin, dir);
    else if (found.disabled)
        Print("advice: the service is disabled; %s\n", StartFailureAdvice(ERROR_SERVICE_DISABLED));
    else if (found.fileMissing)
        Print("advice: the service names a driver file that is not there; register it again "
              "%sfrom the folder of Tamsk.sys with: brannic --install --dir \"%s\" open\n",
              admin, dir);
    else if (found.fileMachine && found.fileMachine != found.platformMachine)
        Print("advice: this Windows needs Tamsk.sys built for %s; %sregister that one with: "
              "brannic --install --dir DIR open\n",
              MachineName(found.platformMachine), admin);
    else if (!found.running && advice)
        Print("advice: %s\n", advice);
    else if (!found.running)
        Print("advice: start the driver %swith: brannic open\n", admin);
    else if (!found.deviceOpens)
        Print("advice: the driver runs but its device does not open (%s); restart Windows\n",
              ErrorText(found.deviceError));
    // Not why the device opens or not, but worth knowing whatever else was found.
    if (found.othersMayWrite)
        Print("warning: users who are not administrators may change Tamsk.sys or its folder, and "
              "so run their own code in the kernel at the driver's next start; keep it in a "
              "folder only administrators may change\n");
}

int StatusCommand(int, int argc, char** argv)
{
    if (!CheckCount(argc, argv, 0, 0)) return kExitBadInput;

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version)) {
        PrintFinding("platform", "unknown: %s", ErrorText(GetLastError()));
        return kExitCallFailed;
    }
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        PrintFinding(
            "platform",
            "Windows %lu.%lu, not of the NT family: the port commands use the "
            "processor's port instructions and need no driver; the register, EC and Dorvane "
            "commands are refused here",
            version.dwMajorVersion, version.dwMinorVersion);
        return kExitDone;
    }
    PrintFinding("platform",
                 "Windows NT family %lu.%lu (build %lu): every request goes through the "
                 "driver",
                 version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber & 0xFFFF);

    Findings found;
    SC_HANDLE manager = nullptr;
    if (!BindServiceFunctions()) {
        PrintFinding("service manager", "its functions are missing from advapi32.dll");
    } else {
        // What registering takes: the library asks the manager for all access.
        SC_HANDLE full = g_service.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        found.rights = full != nullptr;
        if (full) g_service.CloseServiceHandle(full);
        manager = g_service.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (manager)
            CheckService(manager, &found);
        else
            PrintFinding("service manager", "cannot be asked: %s", ErrorText(GetLastError()));
    }
    CheckDevice(&found);
    CheckEcLock();
    PrintFinding("rights to register a service",
                 found.rights ? "yes" : "no (not an administrator)");
    if (manager) g_service.CloseServiceHandle(manager);

    Advise(found);
    return found.deviceOpens ? kExitDone : kExitCallFailed;
}
