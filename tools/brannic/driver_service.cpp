// The driver service seen with brannic.exe's own calls; driver_service.h says what each gives.
#include <string.h>

#include "arguments.h"
#include "console.h"
#include "driver_file.h"
#include "driver_protocol.h"
#include "driver_service.h"

ServiceTable g_service;

bool BindServiceFunctions()
{
    return BINDING_BIND(SERVICE_FUNCTIONS, g_service, LoadLibraryA("advapi32.dll"));
}

const char* ErrorText(DWORD error)
{
    static char s_text[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, s_text, sizeof(s_text), nullptr);
    while (length > 0 && (s_text[length - 1] == '\r' || s_text[length - 1] == '\n' ||
                          s_text[length - 1] == ' ' || s_text[length - 1] == '.'))
        length--;
    s_text[length] = '\0';
    return s_text;
}

void ReadServiceKey(char* image, DWORD size, DWORD* start)
{
    HKEY key;
    if (g_service.RegOpenKeyExA(HKEY_LOCAL_MACHINE, PORTIO_SERVICE_KEY_PATH, 0, KEY_QUERY_VALUE,
                                &key) != ERROR_SUCCESS)
        return;
    DWORD type = 0, length = size - 1, value = 0;
    if (g_service.RegQueryValueExA(key, "ImagePath", nullptr, &type, (BYTE*)image, &length) ==
            ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ))
        image[length < size ? length : size - 1] = '\0';
    else
        image[0] = '\0';
    length = sizeof(value);
    if (g_service.RegQueryValueExA(key, "Start", nullptr, &type, (BYTE*)&value, &length) ==
            ERROR_SUCCESS &&
        type == REG_DWORD)
        *start = value;
    g_service.RegCloseKey(key);
}

// first, then second, into out of size bytes; false when they do not fit.
static bool Concatenate(char* out, size_t size, const char* first, const char* second)
{
    size_t a = strlen(first), b = strlen(second);
    if (a + b >= size) return false;
    memcpy(out, first, a);
    memcpy(out + a, second, b + 1);
    return true;
}

// "\??\" is the kernel's prefix for a plain path; "\SystemRoot\" and a path without a drive
// are taken from the Windows folder, as the kernel's loader takes them.
bool DriverFileOf(const char* imagePath, char* file, size_t size)
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
        return Concatenate(file, size, windows, rest);
    }
    return Concatenate(file, size, rest, "");
}

DWORD RecordedStartFailure(const SERVICE_STATUS& status)
{
    if (status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR)
        return status.dwServiceSpecificExitCode ? status.dwServiceSpecificExitCode
                                                : ERROR_SERVICE_SPECIFIC_ERROR;
    if (status.dwWin32ExitCode == ERROR_SERVICE_NEVER_STARTED) return 0;
    return status.dwWin32ExitCode;
}

// Why Windows refuses a driver, for the reasons users meet most, in words, with one line of
// advice where one helps; the platform's own text follows the words.
// Not in every SDK's winerror.h.
const DWORD kErrorInvalidImageHash = 577;

struct StartFailure {
    DWORD error;
    const char* words;
    const char* advice;
};
static const StartFailure kStartFailures[] = {
    {kErrorInvalidImageHash, "Windows cannot verify the driver's digital signature",
     "Windows' driver signature enforcement decides this: it loads Tamsk.sys only with a "
     "signature it trusts (on 64-bit Windows 10 and later with Secure Boot, one made through "
     "Microsoft's hardware signing)"},
    {ERROR_DRIVER_BLOCKED, "Windows blocks this driver by policy",
     "the vulnerable driver blocklist or Memory integrity (Windows Security, Device security, "
     "Core isolation), or an application control policy of the administrators, decides this"},
    {ERROR_ACCESS_DENIED, "access was refused, as security software does when it blocks a driver",
     "the security software's log or quarantine names what it blocked"},
    {ERROR_BAD_EXE_FORMAT, "the file is not a driver for this processor", nullptr},
    {ERROR_EXE_MACHINE_TYPE_MISMATCH, "the file is not a driver for this processor", nullptr},
    {ERROR_SERVICE_DISABLED, "the service is disabled",
     "as an administrator, make it start on demand with: sc config " PORTIO_SERVICE_NAME
     " start= demand (registering it again changes only the registry, which Windows reads when "
     "it starts)"},
    {ERROR_FILE_NOT_FOUND, "the driver file is not there", nullptr},
    {ERROR_PATH_NOT_FOUND, "the driver file's folder is not there", nullptr},
    {ERROR_DLL_INIT_FAILED, "the driver did not load, or its start routine failed", nullptr},
    {ERROR_SERVICE_MARKED_FOR_DELETE, "the service is marked for deletion", nullptr},
};

static const StartFailure* StartFailureOf(DWORD error)
{
    for (const StartFailure& failure : kStartFailures)
        if (failure.error == error) return &failure;
    return nullptr;
}

const char* StartFailureText(DWORD error)
{
    static char s_text[512];
    const StartFailure* failure = StartFailureOf(error);
    const char* platform = ErrorText(error);
    FormatText(s_text, sizeof(s_text), "%s (error %lu%s%s)",
               failure ? failure->words : "Windows gives no more than its code", error,
               platform[0] ? ": " : "", platform);
    return s_text;
}

const char* StartFailureAdvice(DWORD error)
{
    const StartFailure* failure = StartFailureOf(error);
    return failure ? failure->advice : nullptr;
}

// A driver file that names another processor than this Windows loads drivers for, said on
// the error stream.
static void ExplainMachine()
{
    char image[MAX_PATH] = "", file[MAX_PATH] = "";
    DWORD start = 0;
    ReadServiceKey(image, sizeof(image), &start);
    WORD machine = image[0] && DriverFileOf(image, file, sizeof(file)) ? FileMachine(file) : 0;
    WORD platform = PlatformMachine();
    if (machine && machine != platform)
        PrintError("brannic: %s is built for %s; this Windows loads only %s drivers\n", file,
                   MachineName(machine), MachineName(platform));
}

void ExplainFailedOpen(bool mayStart)
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT ||
        !BindServiceFunctions()) {
        SuggestStatus();
        return;
    }
    SC_HANDLE manager = g_service.OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    const DWORD looking = SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG;
    SC_HANDLE service = nullptr;
    bool mayNotStart = false;
    if (manager && mayStart) {
        service = g_service.OpenServiceA(manager, PORTIO_SERVICE_NAME, looking | SERVICE_START);
        mayNotStart = !service && GetLastError() == ERROR_ACCESS_DENIED;
    }
    if (manager && !service)
        service = g_service.OpenServiceA(manager, PORTIO_SERVICE_NAME, looking);
    DWORD error = GetLastError();
    SERVICE_STATUS status = {};
    if (!manager || !service) {
        if (manager && error == ERROR_SERVICE_DOES_NOT_EXIST)
            PrintError("brannic: the driver service %s is not registered (--install registers "
                       "it)\n",
                       PORTIO_SERVICE_NAME);
        else
            PrintError("brannic: the driver service cannot be looked at: %s\n", ErrorText(error));
    } else if (g_service.QueryServiceStatus(service, &status) &&
               status.dwCurrentState == SERVICE_RUNNING) {
        PrintError("brannic: the driver runs, but its device does not open\n");
    } else {
        // Windows records why the last start failed; where it does not (Wine records nothing),
        // a start of our own tells, as the library's start just failed.
        error = RecordedStartFailure(status);
        if (!error && service && mayStart && !mayNotStart) {
            if (g_service.StartServiceA(service, 0, nullptr))
                PrintError("brannic: the driver started when brannic tried once more; run the "
                           "command again\n");
            else
                error = GetLastError();
        }
        if (error) {
            PrintError("brannic: Windows did not start the driver: %s\n", StartFailureText(error));
            const char* advice = StartFailureAdvice(error);
            if (advice) PrintError("brannic: %s\n", advice);
        } else if (mayNotStart) {
            PrintError("brannic: only an administrator may start the driver service\n");
        }
        ExplainMachine();
    }
    if (service) g_service.CloseServiceHandle(service);
    if (manager) g_service.CloseServiceHandle(manager);
    SuggestStatus();
}
