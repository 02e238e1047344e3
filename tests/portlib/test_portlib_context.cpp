// The library context and the driver service: nested opens and closes, the device retry,
// registration, update, start and removal of the service, the driver path rule and the wide
// forms. Every case starts from the service state it needs.
#include "portlib_test.h"

#include <cstring>
#include <thread>

using namespace portlib_test;

namespace {

const char kServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\QuorvelPortIO";
const DWORD kServiceWaitMs = 10000;

std::string BinDir() { return DirectoryOf(driver_diag::DriverPath()); }

std::wstring WideBinDir()
{
    std::string narrow = BinDir();
    return std::wstring(narrow.begin(), narrow.end());
}

// A service control manager handle closed by its owner's destructor.
struct ScHandle {
    SC_HANDLE h = nullptr;
    explicit ScHandle(SC_HANDLE handle) : h(handle) {}
    ~ScHandle() { if (h) CloseServiceHandle(h); }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
};

// Opens the service with the given access; 0 when it opened, else the error.
DWORD OpenService(DWORD access, SC_HANDLE* service, SC_HANDLE* manager)
{
    *service = nullptr;
    *manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!*manager) return GetLastError();
    *service = OpenServiceA(*manager, PORTIO_SERVICE_NAME, access);
    return *service ? 0 : GetLastError();
}

DWORD ServiceState()
{
    SC_HANDLE m = nullptr, s = nullptr;
    DWORD error = OpenService(SERVICE_QUERY_STATUS, &s, &m);
    ScHandle manager(m), service(s);
    if (error) return 0;
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service.h, &status) ? status.dwCurrentState : 0;
}

bool WaitForState(DWORD state)
{
    for (DWORD waited = 0; waited < kServiceWaitMs; waited += 20) {
        if (ServiceState() == state) return true;
        Sleep(20);
    }
    return false;
}

void StopDriver()
{
    SC_HANDLE m = nullptr, s = nullptr;
    ASSERT_EQ(0u, OpenService(SERVICE_STOP | SERVICE_QUERY_STATUS, &s, &m));
    ScHandle manager(m), service(s);
    SERVICE_STATUS status = {};
    ControlService(service.h, SERVICE_CONTROL_STOP, &status);
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED)) << "state " << ServiceState();
}

// 0 when the service manager no longer knows the service within the wait.
DWORD WaitUntilGone(DWORD wait_ms = kServiceWaitMs)
{
    DWORD error = 0;
    for (DWORD waited = 0; waited < wait_ms; waited += 20) {
        SC_HANDLE m = nullptr, s = nullptr;
        error = OpenService(SERVICE_QUERY_STATUS, &s, &m);
        ScHandle manager(m), service(s);
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) return 0;
        Sleep(20);
    }
    return error ? error : 1;
}

bool ServiceExists()
{
    SC_HANDLE m = nullptr, s = nullptr;
    DWORD error = OpenService(SERVICE_QUERY_STATUS, &s, &m);
    ScHandle manager(m), service(s);
    return error == 0;
}

DWORD DeleteTheService()
{
    SC_HANDLE m = nullptr, s = nullptr;
    DWORD error = OpenService(DELETE, &s, &m);
    ScHandle manager(m), service(s);
    if (error) return error;
    return DeleteService(service.h) ? 0 : GetLastError();
}

struct ServiceConfig {
    DWORD type = 0, start = 0, error_control = 0;
    std::string binary, display, group, dependencies, account;
};

bool QueryConfig(ServiceConfig* config)
{
    SC_HANDLE m = nullptr, s = nullptr;
    if (OpenService(SERVICE_QUERY_CONFIG, &s, &m)) {
        ScHandle manager(m), service(s);
        return false;
    }
    ScHandle manager(m), service(s);
    union {
        QUERY_SERVICE_CONFIGA c;
        BYTE bytes[8192];
    } buffer;
    DWORD needed = 0;
    if (!QueryServiceConfigA(service.h, &buffer.c, sizeof(buffer), &needed)) return false;
    auto text = [](const char* p) { return std::string(p ? p : ""); };
    config->type = buffer.c.dwServiceType;
    config->start = buffer.c.dwStartType;
    config->error_control = buffer.c.dwErrorControl;
    config->binary = text(buffer.c.lpBinaryPathName);
    config->display = text(buffer.c.lpDisplayName);
    config->group = text(buffer.c.lpLoadOrderGroup);
    config->dependencies = text(buffer.c.lpDependencies);
    config->account = text(buffer.c.lpServiceStartName);
    return true;
}

bool ReadRegistry(std::string* image_path, DWORD* start)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    char text[1024] = {};
    DWORD size = sizeof(text) - 1, type = 0;
    bool ok = RegQueryValueExA(key, "ImagePath", nullptr, &type, (BYTE*)text, &size) == ERROR_SUCCESS &&
              (type == REG_SZ || type == REG_EXPAND_SZ);
    DWORD value = 0;
    size = sizeof(value);
    ok = ok && RegQueryValueExA(key, "Start", nullptr, &type, (BYTE*)&value, &size) == ERROR_SUCCESS &&
         type == REG_DWORD;
    RegCloseKey(key);
    *image_path = text;
    *start = value;
    return ok;
}

void Unregistered()
{
    std::string error;
    ASSERT_TRUE(driver_diag::StopAndRemove(&error)) << error;
    ASSERT_FALSE(ServiceExists());
}

void Running()
{
    std::string error;
    ASSERT_TRUE(driver_diag::InstallAndStart(&error)) << error;
}

void RegisteredStopped()
{
    Running();
    StopDriver();
}

// A fresh folder under the prefix's temporary folder, optionally holding a Tamsk.sys.
std::string MakeFolder(const std::string& name, bool with_driver)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string dir = std::string(temp) + name;
    CreateDirectoryA(dir.c_str(), nullptr);
    std::string file = dir + "\\Tamsk.sys";
    if (with_driver) {
        EXPECT_TRUE(CopyFileA(driver_diag::DriverPath().c_str(), file.c_str(), FALSE)) << GetLastError();
    } else {
        DeleteFileA(file.c_str());
    }
    return dir;
}

bool DeviceOpens()
{
    HANDLE h = CreateFileA(PORTIO_DEVICE_PATH, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

// True while the library is open on the device: a port read reaches the driver.
bool LibraryServes()
{
    BYTE value = 0;
    return Brannic_InputByteValue(0x80, &value) == 1;
}

class LibraryContext : public ::testing::Test {
protected:
    void TearDown() override
    {
        std::string error;
        if (leave_service_alone) return;
        EXPECT_TRUE(driver_diag::StopAndRemove(&error)) << error;
    }
    // Set by a case that ends with service handles still held by the library.
    bool leave_service_alone = false;
};

// ---- Opens and closes ----

TEST_F(LibraryContext, NestedOpensNeedAsManyClosesAndOnlyTheFirstOpensTheDevice)
{
    Running();
    driver_diag::Device diag;
    ASSERT_TRUE(diag.Reset());
    ASSERT_EQ(1, Brannic_Init());
    // Further opens return 1 at once whatever their arguments: no device or service call.
    EXPECT_EQ(1, Brannic_InitExA(TRUE, TRUE, "Q:\\nowhere"));
    EXPECT_EQ(1, Brannic_InitExW(TRUE, FALSE, L"Q:\\nowhere"));
    EXPECT_EQ(1, Brannic_Init());
    portio_diag_counts counts = {};
    ASSERT_TRUE(diag.Counts(&counts));
    EXPECT_EQ(1u, counts.opens) << "device opens after four library opens";
    ServiceConfig config;
    ASSERT_TRUE(QueryConfig(&config));
    EXPECT_EQ(DWORD(SERVICE_DEMAND_START), config.start) << "a nested open touched the service";

    for (int close = 1; close <= 3; close++) {
        EXPECT_EQ(1, close == 2 ? Brannic_DeInitEx(TRUE) : Brannic_DeInit());
        ASSERT_TRUE(diag.Counts(&counts));
        EXPECT_EQ(0u, counts.closes) << "device closed after close " << close << " of 4";
        EXPECT_TRUE(LibraryServes()) << "after close " << close;
    }
    EXPECT_TRUE(ServiceExists()) << "Brannic_DeInitEx(1) above the last open removed the service";
    EXPECT_EQ(1, Brannic_DeInit());
    // The driver sees a close after CloseHandle has returned.
    EXPECT_TRUE(diag.WaitForCloses(1, &counts)) << "the last close left the device open";
    EXPECT_EQ(1u, counts.closes);
    EXPECT_FALSE(LibraryServes());
}

TEST_F(LibraryContext, CloseWithoutOpenChangesNothing)
{
    Running();
    EXPECT_EQ(1, Brannic_DeInit());
    EXPECT_EQ(1, Brannic_DeInitEx(TRUE));
    EXPECT_TRUE(ServiceExists()) << "a close at count 0 removed the service";
    // The count did not wrap: one open and one close leave the library closed.
    ASSERT_EQ(1, Brannic_Init());
    EXPECT_TRUE(LibraryServes());
    EXPECT_EQ(1, Brannic_DeInit());
    EXPECT_FALSE(LibraryServes());
}

TEST_F(LibraryContext, InitRetriesTwentyTimesASecondApartThenFails)
{
    Unregistered();
    LARGE_INTEGER start = Now();
    EXPECT_EQ(0, Brannic_Init());
    double took = Seconds(start, Now());
    EXPECT_GE(took, 19.5) << "20 attempts with a 1000 ms pause after each";
    EXPECT_LT(took, 60.0);
    EXPECT_FALSE(LibraryServes()) << "a failed open left the library open";
}

TEST_F(LibraryContext, InitKeepsTryingUntilTheDeviceAppears)
{
    RegisteredStopped();
    std::thread starter([] {
        Sleep(2500);
        SC_HANDLE m = nullptr, s = nullptr;
        if (OpenService(SERVICE_START, &s, &m) == 0) StartServiceA(s, 0, nullptr);
        ScHandle manager(m), service(s);
    });
    LARGE_INTEGER start = Now();
    EXPECT_EQ(1, Brannic_Init());
    double took = Seconds(start, Now());
    starter.join();
    EXPECT_GE(took, 2.4);
    EXPECT_LT(took, 15.0);
    EXPECT_TRUE(LibraryServes());
    Brannic_DeInit();
}

TEST_F(LibraryContext, InitExWithDeviceMakesNoServiceCall)
{
    Running();
    std::string empty = MakeFolder("portlib-empty", false);
    ASSERT_EQ(1, Brannic_InitExA(TRUE, TRUE, empty.c_str()));
    ServiceConfig config;
    ASSERT_TRUE(QueryConfig(&config));
    EXPECT_EQ(DWORD(SERVICE_DEMAND_START), config.start);
    EXPECT_EQ(driver_diag::DriverPath(), config.binary) << "the registration was rewritten";
    EXPECT_TRUE(LibraryServes());
    Brannic_DeInitEx(FALSE);
}

TEST_F(LibraryContext, InitExStartsARegisteredStoppedDriver)
{
    RegisteredStopped();
    ASSERT_FALSE(DeviceOpens());
    EXPECT_EQ(1, Brannic_InitExA(FALSE, FALSE, nullptr));
    EXPECT_EQ(DWORD(SERVICE_RUNNING), ServiceState());
    EXPECT_TRUE(LibraryServes());
    Brannic_DeInitEx(FALSE);
}

TEST_F(LibraryContext, InitExWithoutInstallationFailsWhenNothingIsRegistered)
{
    Unregistered();
    EXPECT_EQ(0, Brannic_InitExA(FALSE, FALSE, nullptr));
    EXPECT_FALSE(ServiceExists());
    EXPECT_FALSE(LibraryServes());
}

TEST_F(LibraryContext, InitExInstallsStartsAndOpens)
{
    Unregistered();
    EXPECT_EQ(1, Brannic_InitExA(TRUE, FALSE, BinDir().c_str()));
    EXPECT_EQ(DWORD(SERVICE_RUNNING), ServiceState());
    EXPECT_TRUE(LibraryServes());
    Brannic_DeInitEx(FALSE);
}

// The service handles of a start stay held across Brannic_DeInit: the service manager cannot
// drop a deleted, stopped service while a handle to it is open.
TEST_F(LibraryContext, DeInitKeepsTheServiceHandles)
{
    RegisteredStopped();
    ASSERT_EQ(1, Brannic_InitExA(FALSE, FALSE, nullptr));
    EXPECT_EQ(1, Brannic_DeInit());
    EXPECT_FALSE(LibraryServes());
    StopDriver();
    ASSERT_EQ(0u, DeleteTheService());
    EXPECT_NE(0u, WaitUntilGone(1500)) << "the service went while the library should hold handles";
    // Only the end of this process closes them now.
    leave_service_alone = true;
}

TEST_F(LibraryContext, FinalDeInitExClosesTheServiceHandles)
{
    RegisteredStopped();
    ASSERT_EQ(1, Brannic_InitExA(FALSE, FALSE, nullptr));
    EXPECT_EQ(1, Brannic_DeInitEx(FALSE));
    StopDriver();
    ASSERT_EQ(0u, DeleteTheService());
    EXPECT_EQ(0u, WaitUntilGone()) << "a service handle stayed open";
}

// A second start after Brannic_DeInit must close the handles of the first, not overwrite them.
TEST_F(LibraryContext, ASecondStartDoesNotLeakTheFirstStartsHandles)
{
    RegisteredStopped();
    ASSERT_EQ(1, Brannic_InitExA(FALSE, FALSE, nullptr));
    EXPECT_EQ(1, Brannic_DeInit());
    StopDriver();
    ASSERT_EQ(1, Brannic_InitExA(FALSE, FALSE, nullptr));
    EXPECT_EQ(1, Brannic_DeInitEx(FALSE));
    StopDriver();
    ASSERT_EQ(0u, DeleteTheService());
    EXPECT_EQ(0u, WaitUntilGone()) << "a service handle of the first start stayed open";
}

TEST_F(LibraryContext, DeInitExRemovesTheServiceOnlyAtTheLastClose)
{
    RegisteredStopped();
    ASSERT_EQ(1, Brannic_InitExA(FALSE, FALSE, nullptr));
    ASSERT_EQ(1, Brannic_Init());
    EXPECT_EQ(1, Brannic_DeInitEx(TRUE));
    EXPECT_TRUE(LibraryServes()) << "one open is left";
    EXPECT_EQ(1, Brannic_DeInitEx(FALSE));
    // Not yet deleted: this deletion is the first.
    EXPECT_EQ(0u, DeleteTheService()) << "the close at count 2 deleted the service";
}

TEST_F(LibraryContext, FinalDeInitExWithRemovalDeletesTheService)
{
    RegisteredStopped();
    ASSERT_EQ(1, Brannic_InitExA(FALSE, FALSE, nullptr));
    EXPECT_EQ(1, Brannic_DeInitEx(TRUE));
    // The running driver is only marked for deletion; once stopped, it goes.
    EXPECT_EQ(DWORD(ERROR_SERVICE_MARKED_FOR_DELETE), DeleteTheService());
    StopDriver();
    EXPECT_EQ(0u, WaitUntilGone());
}

// ---- Registration ----

TEST_F(LibraryContext, NewRegistrationHasExactlyTheDriverServiceFields)
{
    struct Case {
        BOOL auto_start;
        DWORD start_type;
    };
    for (Case c : {Case{0, 3}, Case{1, 2}, Case{7, 2}, Case{BOOL(0x80000000), 2}}) {
        SCOPED_TRACE("autoStart " + std::to_string(c.auto_start));
        Unregistered();
        ASSERT_EQ(1, Brannic_AddServiceA(c.auto_start, BinDir().c_str()));
        ServiceConfig config;
        ASSERT_TRUE(QueryConfig(&config));
        EXPECT_EQ(DWORD(SERVICE_KERNEL_DRIVER), config.type);
        EXPECT_EQ(c.start_type, config.start);
        EXPECT_EQ(DWORD(SERVICE_ERROR_NORMAL), config.error_control);
        EXPECT_EQ(BinDir() + "\\Tamsk.sys", config.binary);
        EXPECT_EQ("Quorvel General Port I/O", config.display);
        EXPECT_EQ("", config.group);
        EXPECT_EQ("", config.dependencies);
        EXPECT_EQ(DWORD(SERVICE_STOPPED), ServiceState()) << "registration must not start it";
    }
}

TEST_F(LibraryContext, ExistingRegistrationGetsOnlyImagePathAndStart)
{
    Unregistered();
    {
        ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ScHandle service(CreateServiceA(manager.h, PORTIO_SERVICE_NAME, "Someone Else's Name",
                                        SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                        SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                        "C:\\elsewhere\\Tamsk.sys", nullptr, nullptr, nullptr,
                                        nullptr, nullptr));
        ASSERT_NE(nullptr, service.h) << GetLastError();
    }
    for (BOOL auto_start : {BOOL(5), BOOL(0)}) {
        SCOPED_TRACE("autoStart " + std::to_string(auto_start));
        ASSERT_EQ(1, Brannic_AddServiceA(auto_start, (BinDir() + "\\").c_str()));
        std::string image_path;
        DWORD start = 0;
        ASSERT_TRUE(ReadRegistry(&image_path, &start));
        EXPECT_EQ("\\??\\" + BinDir() + "\\Tamsk.sys", image_path);
        EXPECT_EQ(auto_start ? 2u : 3u, start);
        ServiceConfig config;
        ASSERT_TRUE(QueryConfig(&config));
        EXPECT_EQ("Someone Else's Name", config.display);
        EXPECT_EQ(DWORD(SERVICE_ERROR_IGNORE), config.error_control);
    }
    // The rewritten registration starts the driver from the "\??\" path.
    EXPECT_EQ(1, Brannic_InitExA(FALSE, FALSE, nullptr));
    EXPECT_TRUE(LibraryServes());
    Brannic_DeInitEx(FALSE);
}

TEST_F(LibraryContext, DriverPathRule)
{
    struct Case {
        const char* what;
        std::string dir;
        bool null_dir;
        std::string expected;
    };
    std::string folder = MakeFolder("portlib-driver", true);
    // The empty directory names the root of the current drive.
    std::string root_driver = "C:\\Tamsk.sys";
    ASSERT_TRUE(CopyFileA(driver_diag::DriverPath().c_str(), root_driver.c_str(), FALSE));
    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof(saved), saved);
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\windows"));
    const std::vector<Case> cases = {
        {"without trailing backslash", folder, false, folder + "\\Tamsk.sys"},
        {"with trailing backslash", folder + "\\", false, folder + "\\Tamsk.sys"},
        {"null: the library's own folder", "", true, BinDir() + "\\Tamsk.sys"},
        {"empty string", "", false, "\\Tamsk.sys"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Unregistered();
        EXPECT_EQ(1, Brannic_AddServiceA(FALSE, c.null_dir ? nullptr : c.dir.c_str()));
        ServiceConfig config;
        ASSERT_TRUE(QueryConfig(&config));
        EXPECT_EQ(c.expected, config.binary);
    }
    SetCurrentDirectoryA(saved);
    DeleteFileA(root_driver.c_str());
}

TEST_F(LibraryContext, NoRegistrationWithoutADriverFile)
{
    std::string missing = MakeFolder("portlib-missing", false);
    std::string holder = MakeFolder("portlib-dir-named-driver", false);
    std::string as_dir = holder + "\\Tamsk.sys";
    CreateDirectoryA(as_dir.c_str(), nullptr);
    ASSERT_EQ(DWORD(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA(as_dir.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    for (const std::string& dir : {missing, holder}) {
        SCOPED_TRACE(dir);
        // Both with a fresh and with an existing registration nothing changes.
        Unregistered();
        EXPECT_EQ(0, Brannic_AddServiceA(TRUE, dir.c_str()));
        EXPECT_FALSE(ServiceExists());
        EXPECT_EQ(0, Brannic_InitExA(TRUE, TRUE, dir.c_str()));
        EXPECT_FALSE(ServiceExists());
        ASSERT_EQ(1, Brannic_AddServiceA(FALSE, BinDir().c_str()));
        EXPECT_EQ(0, Brannic_AddServiceA(TRUE, dir.c_str()));
        std::string image_path;
        DWORD start = 0;
        ASSERT_TRUE(ReadRegistry(&image_path, &start));
        EXPECT_EQ(3u, start);
        EXPECT_EQ(BinDir() + "\\Tamsk.sys", image_path);
    }
}

// Paths that do not fit 256 bytes with their terminating zero are refused, never cut.
TEST_F(LibraryContext, PathsThatDoNotFitAreRefused)
{
    // Directory + "\Tamsk.sys" of 255 characters: fits; the "\??\" image path does not.
    char temp[MAX_PATH];
    std::string base = std::string(temp, GetTempPathA(sizeof(temp), temp)) + "portlib-long-";
    std::string dir = base + std::string(255 - 10 - base.size(), 'x');
    ASSERT_EQ(245u, dir.size());
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CopyFileA(driver_diag::DriverPath().c_str(), (dir + "\\Tamsk.sys").c_str(), FALSE))
        << GetLastError();

    Unregistered();
    EXPECT_EQ(1, Brannic_AddServiceA(FALSE, dir.c_str())) << "a 255-character driver path fits";
    ServiceConfig config;
    ASSERT_TRUE(QueryConfig(&config));
    EXPECT_EQ(dir + "\\Tamsk.sys", config.binary);

    ASSERT_EQ(0u, DeleteTheService());
    ASSERT_EQ(0u, WaitUntilGone());
    ASSERT_EQ(1, Brannic_AddServiceA(FALSE, BinDir().c_str()));
    EXPECT_EQ(0, Brannic_AddServiceA(TRUE, dir.c_str())) << "the image path needs 260 bytes";
    std::string image_path;
    DWORD start = 0;
    ASSERT_TRUE(ReadRegistry(&image_path, &start));
    EXPECT_EQ(BinDir() + "\\Tamsk.sys", image_path) << "a refused update changed the image path";
    EXPECT_EQ(3u, start);

    // A cut driver path would name this file: 246 characters, a backslash, "Tamsk.sy".
    std::string cut_dir = base + std::string(246 - base.size(), 'z');
    ASSERT_TRUE(CreateDirectoryA(cut_dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(CopyFileA(driver_diag::DriverPath().c_str(), (cut_dir + "\\Tamsk.sy").c_str(), FALSE));
    Unregistered();
    EXPECT_EQ(0, Brannic_AddServiceA(FALSE, cut_dir.c_str())) << "a driver path of 256 characters";
    EXPECT_FALSE(ServiceExists());
    for (size_t length : {250u, 255u, 256u, 400u}) {
        std::string too_long = base + std::string(length - base.size(), 'y');
        EXPECT_EQ(0, Brannic_AddServiceA(FALSE, too_long.c_str())) << length << " characters";
        EXPECT_EQ(0, Brannic_InitExA(TRUE, FALSE, too_long.c_str())) << length << " characters";
    }
    EXPECT_FALSE(ServiceExists());
}

TEST_F(LibraryContext, RemoveServiceOfARunningDriverMarksItForDeletion)
{
    Running();
    EXPECT_EQ(1, Brannic_RemoveService());
    EXPECT_TRUE(DeviceOpens()) << "removal must not stop the driver";
    EXPECT_EQ(0, Brannic_RemoveService()) << "a second deletion of a marked service";
    StopDriver();
    EXPECT_EQ(0u, WaitUntilGone());
    EXPECT_EQ(0, Brannic_RemoveService()) << "removal of an unregistered service";
}

// ---- Wide forms: the OEM code page, and conversions that cannot name the folder ----

TEST_F(LibraryContext, WideFormsConvertToTheOemCodePage)
{
    std::wstring bin = WideBinDir();
    Unregistered();
    EXPECT_EQ(1, Brannic_AddServiceW(FALSE, bin.c_str()));
    ServiceConfig config;
    ASSERT_TRUE(QueryConfig(&config));
    EXPECT_EQ(BinDir() + "\\Tamsk.sys", config.binary);

    Unregistered();
    EXPECT_EQ(1, Brannic_AddServiceW(FALSE, nullptr));
    ASSERT_TRUE(QueryConfig(&config));
    EXPECT_EQ(BinDir() + "\\Tamsk.sys", config.binary);

    if (GetOEMCP() == GetACP()) GTEST_SKIP() << "OEM and ANSI code pages are the same here";
    // U+00E9 is one byte in the OEM code page; the narrow form reads that byte as ANSI.
    char oem[8] = {};
    BOOL lossy = FALSE;
    ASSERT_NE(0, WideCharToMultiByte(CP_OEMCP, 0, L"\u00e9", -1, oem, sizeof(oem), nullptr, &lossy));
    ASSERT_FALSE(lossy);
    char temp[MAX_PATH];
    std::string narrow_dir = std::string(temp, GetTempPathA(sizeof(temp), temp)) + "portlib-oem-" + oem;
    CreateDirectoryA(narrow_dir.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(driver_diag::DriverPath().c_str(), (narrow_dir + "\\Tamsk.sys").c_str(), FALSE));
    wchar_t wide_temp[MAX_PATH];
    std::wstring wide_dir = std::wstring(wide_temp, GetTempPathW(MAX_PATH, wide_temp)) + L"portlib-oem-\u00e9";

    Unregistered();
    EXPECT_EQ(1, Brannic_AddServiceW(FALSE, wide_dir.c_str()));
    ASSERT_TRUE(QueryConfig(&config));
    EXPECT_EQ(narrow_dir + "\\Tamsk.sys", config.binary);
}

TEST_F(LibraryContext, WideDirectoriesThatCannotBeConvertedAreRefused)
{
    std::wstring bin = WideBinDir();
    const std::vector<std::pair<const char*, std::wstring>> cases = {
        {"a character outside the OEM code page", bin + L"\\\u4e2d"},
        {"a conversion longer than 255 bytes", std::wstring(300, L'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        Unregistered();
        EXPECT_EQ(0, Brannic_AddServiceW(FALSE, c.second.c_str()));
        EXPECT_EQ(0, Brannic_InitExW(TRUE, FALSE, c.second.c_str()));
        EXPECT_FALSE(ServiceExists());
    }
    // Without installation the directory is not used, so it cannot fail the open.
    RegisteredStopped();
    EXPECT_EQ(1, Brannic_InitExW(FALSE, FALSE, cases[0].second.c_str()));
    EXPECT_TRUE(LibraryServes());
    Brannic_DeInitEx(FALSE);
}

TEST_F(LibraryContext, InitExWInstallsFromAWideDirectory)
{
    std::wstring bin = WideBinDir();
    Unregistered();
    EXPECT_EQ(1, Brannic_InitExW(TRUE, TRUE, bin.c_str()));
    ServiceConfig config;
    ASSERT_TRUE(QueryConfig(&config));
    EXPECT_EQ(BinDir() + "\\Tamsk.sys", config.binary);
    EXPECT_EQ(DWORD(SERVICE_AUTO_START), config.start);
    EXPECT_TRUE(LibraryServes());
    Brannic_DeInitEx(FALSE);
}

}  // namespace
