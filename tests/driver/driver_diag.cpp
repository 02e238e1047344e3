#include "driver_diag.h"

#include "test_support.h"

#include <memory>

namespace driver_diag {
namespace {

constexpr DWORD kStateTimeoutMs = 5000;   // service start or stop
constexpr DWORD kRemoveTimeoutMs = 5000;  // service manager dropping a deleted service
constexpr DWORD kDeviceTimeoutMs = 5000;  // device appearing after a start

struct ScHandle {
    SC_HANDLE h = nullptr;
    explicit ScHandle(SC_HANDLE handle) : h(handle) {}
    ~ScHandle()
    {
        if (h) CloseServiceHandle(h);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
};

bool Fail(std::string* error, const std::string& what, DWORD code)
{
    if (error) *error = what + " failed, error " + std::to_string(code);
    return false;
}

DWORD ServiceState(SC_HANDLE service)
{
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

bool StopService(SC_HANDLE service, std::string* error)
{
    SERVICE_STATUS status = {};
    if (ServiceState(service) == SERVICE_STOPPED) return true;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE)
        return Fail(error, "ControlService(STOP)", GetLastError());
    if (!WaitUntil([&] { return ServiceState(service) == SERVICE_STOPPED; }, kStateTimeoutMs))
        return Fail(error, "waiting for the service to stop", ServiceState(service));
    return true;
}

bool DeviceOpens()
{
    HANDLE h = CreateFileA(PORTIO_DEVICE_PATH, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

}  // namespace

std::string DriverPath() { return BinDir() + "\\" PORTIO_DRIVER_FILE; }

bool Install(std::string* error)
{
    const std::string path = DriverPath();
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return Fail(error, "finding " + path, GetLastError());
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager.h) return Fail(error, "OpenSCManagerA", GetLastError());

    // A service deleted earlier but not yet dropped blocks a new registration: wait it out.
    ScHandle service(nullptr);
    if (!WaitUntil(
            [&] {
                service.h = CreateServiceA(
                    manager.h, PORTIO_SERVICE_NAME, PORTIO_SERVICE_DISPLAY_NAME, SERVICE_ALL_ACCESS,
                    SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(),
                    nullptr, nullptr, nullptr, nullptr, nullptr);
                if (service.h) return true;
                if (GetLastError() != ERROR_SERVICE_EXISTS) return false;
                service.h = OpenServiceA(manager.h, PORTIO_SERVICE_NAME, SERVICE_ALL_ACCESS);
                return service.h != nullptr;
            },
            kRemoveTimeoutMs))
        return Fail(error, "CreateServiceA/OpenServiceA", GetLastError());

    if (!StopService(service.h, error)) return false;
    if (!ChangeServiceConfigA(service.h, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                              SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr))
        return Fail(error, "ChangeServiceConfigA", GetLastError());
    return true;
}

// Opens the service with `access`: the handle, or null with the error in GetLastError.
static SC_HANDLE OpenTheService(ScHandle* manager, DWORD access)
{
    manager->h = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    return manager->h ? OpenServiceA(manager->h, PORTIO_SERVICE_NAME, access) : nullptr;
}

bool Start(std::string* error)
{
    ScHandle manager(nullptr);
    ScHandle service(OpenTheService(&manager, SERVICE_ALL_ACCESS));
    if (!service.h) return Fail(error, "opening the service", GetLastError());
    if (!StartServiceA(service.h, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return Fail(error, "StartServiceA", GetLastError());
    if (!WaitUntil(DeviceOpens, kDeviceTimeoutMs))
        return Fail(error, "opening " PORTIO_DEVICE_PATH, GetLastError());
    return true;
}

bool InstallAndStart(std::string* error) { return Install(error) && Start(error); }

bool Stop(std::string* error)
{
    ScHandle manager(nullptr);
    ScHandle service(OpenTheService(&manager, SERVICE_ALL_ACCESS));
    if (!service.h) return Fail(error, "opening the service", GetLastError());
    return StopService(service.h, error);
}

bool StopAndRemove(std::string* error)
{
    if (!Exists()) return true;
    if (!Stop(error)) return false;
    DWORD deleted = Delete();
    // Marked for deletion earlier, the service may go as soon as it stops.
    if (deleted && deleted != ERROR_SERVICE_MARKED_FOR_DELETE &&
        deleted != ERROR_SERVICE_DOES_NOT_EXIST)
        return Fail(error, "DeleteService", deleted);
    if (!WaitUntilGone()) return Fail(error, "waiting for the service to go", GetLastError());
    return true;
}

DWORD State()
{
    ScHandle manager(nullptr);
    ScHandle service(OpenTheService(&manager, SERVICE_QUERY_STATUS));
    return service.h ? ServiceState(service.h) : 0;
}

bool Exists()
{
    ScHandle manager(nullptr);
    ScHandle service(OpenTheService(&manager, SERVICE_QUERY_STATUS));
    return service.h || GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
}

DWORD Delete()
{
    ScHandle manager(nullptr);
    ScHandle service(OpenTheService(&manager, DELETE));
    if (!service.h) return GetLastError();
    return DeleteService(service.h) ? 0 : GetLastError();
}

bool WaitUntilGone(DWORD timeoutMs)
{
    return WaitUntil([] { return !Exists(); }, timeoutMs);
}

bool QueryConfig(ServiceConfig* config)
{
    ScHandle manager(nullptr);
    ScHandle service(OpenTheService(&manager, SERVICE_QUERY_CONFIG));
    union {
        QUERY_SERVICE_CONFIGA c;
        BYTE bytes[8192];
    } buffer;
    DWORD needed = 0;
    if (!service.h || !QueryServiceConfigA(service.h, &buffer.c, sizeof(buffer), &needed))
        return false;
    auto text = [](const char* p) { return std::string(p ? p : ""); };
    config->type = buffer.c.dwServiceType;
    config->start = buffer.c.dwStartType;
    config->errorControl = buffer.c.dwErrorControl;
    config->binary = text(buffer.c.lpBinaryPathName);
    config->display = text(buffer.c.lpDisplayName);
    config->group = text(buffer.c.lpLoadOrderGroup);
    config->dependencies = text(buffer.c.lpDependencies);
    return true;
}

Registration ReadRegistration()
{
    Registration now;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PORTIO_SERVICE_KEY_PATH, 0, KEY_QUERY_VALUE, &key))
        return now;
    now.exists = true;
    WCHAR text[1024] = {};
    DWORD size = sizeof(text) - sizeof(WCHAR), startSize = sizeof(now.start);
    if (RegQueryValueExW(key, L"ImagePath", nullptr, nullptr, (BYTE*)text, &size) == 0)
        now.imagePath = text;
    RegQueryValueExW(key, L"Start", nullptr, nullptr, (BYTE*)&now.start, &startSize);
    RegCloseKey(key);
    return now;
}

bool Call(HANDLE device, uint32_t code, const void* in, DWORD inLen, void* out, DWORD outLen,
          DWORD* bytesReturned, DWORD* error)
{
    DWORD returned = 0xFFFFFFFFu;
    BOOL ok = DeviceIoControl(device, code, const_cast<void*>(in), inLen, out, outLen, &returned,
                              nullptr);
    if (error) *error = ok ? 0 : GetLastError();
    if (bytesReturned) *bytesReturned = returned;
    return ok != FALSE;
}

Device::Device()
    : handle_(CreateFileA(PORTIO_DEVICE_PATH, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr))
{}

Device::~Device()
{
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

bool Device::Request(uint32_t code, const void* in, DWORD inLen, void* out, DWORD outLen)
{
    return IsOpen() && Call(handle_, code, in, inLen, out, outLen);
}

bool Device::Reset() { return Request(PORTIO_DIAG_RESET, nullptr, 0, nullptr, 0); }

bool Device::ResetMachine() { return Request(PORTIO_DIAG_RESET_MACHINE, nullptr, 0, nullptr, 0); }

bool Device::Log(std::vector<PortioDiagLogEntry>* entries, uint32_t* total)
{
    auto log = std::make_unique<PortioDiagLog>();
    if (!Request(PORTIO_DIAG_GET_LOG, nullptr, 0, log.get(), sizeof(*log))) return false;
    uint32_t kept = log->kept < PORTIO_DIAG_LOG_ENTRIES ? log->kept : PORTIO_DIAG_LOG_ENTRIES;
    entries->assign(log->entry, log->entry + kept);
    if (total) *total = log->total;
    return true;
}

bool Device::Counts(PortioDiagCounts* counts)
{
    *counts = {};
    return Request(PORTIO_DIAG_GET_COUNTS, nullptr, 0, counts, sizeof(*counts));
}

bool Device::WaitForCloses(uint32_t closes, PortioDiagCounts* counts, DWORD timeoutMs)
{
    PortioDiagCounts seen{};
    bool done = WaitUntil([&] { return Counts(&seen) && seen.closes >= closes; }, timeoutMs);
    if (counts) *counts = seen;
    return done;
}

bool Device::SetFault(uint32_t kind, uint32_t value, uint32_t count)
{
    PortioDiagFault fault = {kind, value, count};
    return Request(PORTIO_DIAG_SET_FAULT, &fault, sizeof(fault), nullptr, 0);
}

bool Device::Peek(uint32_t space, uint32_t key, uint32_t address, uint32_t* value)
{
    PortioDiagCell cell = {space, key, address, 0};
    *value = 0;
    return Request(PORTIO_DIAG_PEEK, &cell, sizeof(cell), value, sizeof(*value));
}

bool Device::Poke(uint32_t space, uint32_t key, uint32_t address, uint32_t value)
{
    PortioDiagCell cell = {space, key, address, value};
    return Request(PORTIO_DIAG_POKE, &cell, sizeof(cell), nullptr, 0);
}

}  // namespace driver_diag
