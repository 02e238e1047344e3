// The library context and the driver service: nested opens and closes, the device retry,
// registration, update, start and removal of the service, the driver path rule and the wide
// forms. Every case starts without a driver service and puts it in the state it needs.
#include "library_copy.h"
#include "portlib_test.h"

#include <cstring>
#include <thread>

using namespace portlib_test;

namespace {

using driver_diag::ReadRegistration;
using driver_diag::Registration;
using driver_diag::ServiceConfig;
using driver_diag::Succeeds;

ServiceConfig Config()
{
    ServiceConfig config;
    EXPECT_TRUE(driver_diag::QueryConfig(&config)) << "the service is not registered";
    return config;
}

// The service states a case starts from, and a stop.
void Unregistered() { ASSERT_TRUE(Succeeds(driver_diag::StopAndRemove)); }
void Running() { ASSERT_TRUE(Succeeds(driver_diag::InstallAndStart)); }
void RegisteredStopped() { ASSERT_TRUE(Succeeds(driver_diag::Install)); }
void StopDriver() { ASSERT_TRUE(Succeeds(driver_diag::Stop)); }

// A fresh folder under the prefix's temporary folder, optionally holding a Tamsk.sys.
std::string MakeFolder(const std::string& name, bool withDriver)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string dir = MakeFreshFolder(std::string(temp) + name);
    if (withDriver) {
        EXPECT_TRUE(
            CopyFileA(driver_diag::DriverPath().c_str(), (dir + "\\Tamsk.sys").c_str(), FALSE))
            << GetLastError();
    }
    return dir;
}

// True while the library is open on the device: a port read reaches the driver.
bool LibraryServes()
{
    BYTE value = 0;
    return Brannic_InputByteValue(0x80, &value) == 1;
}

using LibraryContext = driver_diag::WithoutDriverService;

// ---- Opens and closes ----

TEST_F(LibraryContext, NestedOpensNeedAsManyClosesAndOnlyTheFirstOpensTheDevice)
{
    Running();
    driver_diag::Device diag;
    ASSERT_TRUE(diag.Reset());
    EXPECT_EQ(1, Brannic_DeInit()) << "a close at count 0";
    EXPECT_EQ(1, Brannic_DeInitEx(TRUE)) << "a close at count 0";
    ASSERT_EQ(1, Brannic_Init());
    // Further opens return 1 at once whatever their arguments: no device or service call.
    EXPECT_EQ(1, Brannic_InitExA(TRUE, TRUE, "Q:\\nowhere"));
    EXPECT_EQ(1, Brannic_InitExW(TRUE, FALSE, L"Q:\\nowhere"));
    EXPECT_EQ(1, Brannic_Init());
    PortioDiagCounts counts = {};
    ASSERT_TRUE(diag.Counts(&counts));
    EXPECT_EQ(1u, counts.opens) << "device opens after four library opens";
    EXPECT_EQ(DWORD(SERVICE_DEMAND_START), Config().start) << "a nested open touched the service";

    for (int close = 1; close <= 3; close++) {
        // Brannic_DeInitEx(1) at count 2 only lowers the count.
        EXPECT_EQ(1, close == 3 ? Brannic_DeInitEx(TRUE) : Brannic_DeInit());
        ASSERT_TRUE(diag.Counts(&counts));
        EXPECT_EQ(0u, counts.closes) << "device closed after close " << close << " of 4";
        EXPECT_TRUE(LibraryServes()) << "after close " << close;
    }
    EXPECT_EQ(1, Brannic_DeInit());
    // The driver sees a close after CloseHandle has returned.
    EXPECT_TRUE(diag.WaitForCloses(1, &counts)) << "the last close left the device open";
    EXPECT_EQ(1u, counts.closes);
    EXPECT_FALSE(LibraryServes());
    // Not yet deleted, by the closes at count 0 or 2: this deletion is the first.
    EXPECT_EQ(0u, driver_diag::Delete()) << "a close deleted the service";
}

TEST_F(LibraryContext, InitRetriesTwentyTimesASecondApartThenFails)
{
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
        driver_diag::Start();
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

// Brannic_InitExA from each service state: what it returns and leaves.
TEST_F(LibraryContext, InitExFromEachServiceState)
{
    const std::string empty = MakeFolder("portlib-empty", false);
    struct Case {
        const char* what;
        void (*state)();
        BOOL install, autoStart;
        const char* dir;
        BOOL result;
        DWORD startType;  // of the registration after the call; 0: not registered
    };
    const Case cases[] = {
        // With the device there, no service call: the empty folder and autoStart are not used.
        {"device already there", Running, TRUE, TRUE, empty.c_str(), 1, SERVICE_DEMAND_START},
        {"registered, stopped, installation off", RegisteredStopped, FALSE, FALSE, nullptr, 1,
         SERVICE_DEMAND_START},
        {"unregistered, installation off", Unregistered, FALSE, FALSE, nullptr, 0, 0},
        {"unregistered, installation on", Unregistered, TRUE, FALSE, nullptr, 1,
         SERVICE_DEMAND_START},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.state();
        EXPECT_EQ(c.result, Brannic_InitExA(c.install, c.autoStart, c.dir));
        EXPECT_EQ(c.result == 1, LibraryServes());
        EXPECT_EQ(c.result ? DWORD(SERVICE_RUNNING) : 0u, driver_diag::State());
        if (c.startType) {
            ServiceConfig config = Config();
            EXPECT_EQ(c.startType, config.start);
            EXPECT_EQ(driver_diag::DriverPath(), config.binary) << "the registration was rewritten";
        }
        Brannic_DeInitEx(FALSE);
    }
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
    ASSERT_EQ(0u, driver_diag::Delete());
    EXPECT_FALSE(driver_diag::WaitUntilGone(1500))
        << "the service went while the library should hold handles";
    // Only the end of this process closes them now.
    leaveServiceAlone = true;
}

// A second start after Brannic_DeInit closes the handles of the first rather than overwrite
// them, and the final Brannic_DeInitEx closes its own.
TEST_F(LibraryContext, FinalDeInitExClosesTheHandlesOfEveryStart)
{
    RegisteredStopped();
    ASSERT_EQ(1, Brannic_InitExA(FALSE, FALSE, nullptr));
    EXPECT_EQ(1, Brannic_DeInit());
    StopDriver();
    ASSERT_EQ(1, Brannic_InitExA(FALSE, FALSE, nullptr));
    EXPECT_EQ(1, Brannic_DeInitEx(FALSE));
    StopDriver();
    ASSERT_EQ(0u, driver_diag::Delete());
    EXPECT_TRUE(driver_diag::WaitUntilGone()) << "a service handle stayed open";
}

TEST_F(LibraryContext, ServiceRemovalMarksARunningDriverForDeletion)
{
    for (bool byDeinit : {true, false}) {
        SCOPED_TRACE(byDeinit ? "final Brannic_DeInitEx(1)" : "Brannic_RemoveService");
        RegisteredStopped();
        ASSERT_EQ(1, Brannic_InitExA(FALSE, FALSE, nullptr));
        if (byDeinit) {
            EXPECT_EQ(1, Brannic_DeInitEx(TRUE));
        } else {
            EXPECT_EQ(1, Brannic_RemoveService());
            EXPECT_TRUE(driver_diag::Device().IsOpen()) << "removal must not stop the driver";
            EXPECT_EQ(0, Brannic_RemoveService()) << "a second deletion of a marked service";
            Brannic_DeInitEx(FALSE);
        }
        EXPECT_EQ(DWORD(ERROR_SERVICE_MARKED_FOR_DELETE), driver_diag::Delete());
        StopDriver();
        EXPECT_TRUE(driver_diag::WaitUntilGone());
    }
    EXPECT_EQ(0, Brannic_RemoveService()) << "removal of an unregistered service";
}

// GetProcAddress as Windows NT 4.0 and 95 answer it: no QueryServiceStatusEx.
FARPROC WINAPI GetProcAddressBefore2000(HMODULE module, LPCSTR name)
{
    return IsName(name, "QueryServiceStatusEx") ? nullptr : GetProcAddress(module, name);
}

// The service functions are bound at run time, so the library loads where one is missing and
// only the step that needs it fails: without the status query there is no start.
TEST_F(LibraryContext, AMissingServiceFunctionFailsOnlyTheStepThatNeedsIt)
{
    RegisteredStopped();
    HMODULE library = LoadWithLookup("Brannic-before2000.dll", GetProcAddressBefore2000);
    ASSERT_NE(nullptr, library);
    auto initEx = (PFN_Brannic_InitExA)(void*)GetProcAddress(library, "Brannic_InitExA");
    auto deinitEx = (PFN_Brannic_DeInitEx)(void*)GetProcAddress(library, "Brannic_DeInitEx");
    auto addService =
        (PFN_Brannic_AddServiceA)(void*)GetProcAddress(library, "Brannic_AddServiceA");
    ASSERT_TRUE(initEx && deinitEx && addService);

    EXPECT_EQ(0, initEx(FALSE, FALSE, nullptr));
    EXPECT_EQ(DWORD(SERVICE_STOPPED), driver_diag::State()) << "started without a status query";
    // The functions that are there still serve: the registration is found and updated.
    EXPECT_EQ(1, addService(TRUE, BinDir().c_str()));
    EXPECT_EQ(DWORD(SERVICE_AUTO_START), ReadRegistration().start);
    EXPECT_EQ(1, deinitEx(FALSE));
    FreeLibrary(library);
}

// Another host's start that wins the race: the status query saw the service stopped, and
// by the library's own start it runs, so StartServiceA fails with "already running".
BOOL WINAPI QueryThatLosesTheRace(SC_HANDLE service, SC_STATUS_TYPE level, BYTE* buffer, DWORD size,
                                  DWORD* needed)
{
    if (!QueryServiceStatusEx(service, level, buffer, size, needed)) return FALSE;
    auto status = reinterpret_cast<SERVICE_STATUS_PROCESS*>(buffer);
    if (status->dwCurrentState == SERVICE_STOPPED) {
        EXPECT_TRUE(Succeeds(driver_diag::Start));
    }
    return TRUE;
}

FARPROC WINAPI GetProcAddressOfTheRace(HMODULE module, LPCSTR name)
{
    return IsName(name, "QueryServiceStatusEx") ? (FARPROC)(void*)QueryThatLosesTheRace
                                                : GetProcAddress(module, name);
}

TEST_F(LibraryContext, AStartThatFindsTheServiceAlreadyRunningSucceeds)
{
    RegisteredStopped();
    HMODULE library = LoadWithLookup("Brannic-race.dll", GetProcAddressOfTheRace);
    ASSERT_NE(nullptr, library);
    auto initEx = (PFN_Brannic_InitExA)(void*)GetProcAddress(library, "Brannic_InitExA");
    auto deinitEx = (PFN_Brannic_DeInitEx)(void*)GetProcAddress(library, "Brannic_DeInitEx");
    ASSERT_TRUE(initEx && deinitEx);
    EXPECT_EQ(1, initEx(FALSE, FALSE, nullptr));
    EXPECT_TRUE(driver_diag::IsRunning());
    EXPECT_EQ(1, deinitEx(FALSE));
    FreeLibrary(library);
}

// ---- Registration ----

TEST_F(LibraryContext, NewRegistrationHasExactlyTheDriverServiceFields)
{
    struct Case {
        BOOL autoStart;
        DWORD startType;
    };
    for (Case c : {Case{0, 3}, Case{1, 2}, Case{7, 2}, Case{BOOL(0x80000000), 2}}) {
        SCOPED_TRACE("autoStart " + std::to_string(c.autoStart));
        Unregistered();
        ASSERT_EQ(1, Brannic_AddServiceA(c.autoStart, BinDir().c_str()));
        ServiceConfig config = Config();
        EXPECT_EQ(DWORD(SERVICE_KERNEL_DRIVER), config.type);
        EXPECT_EQ(c.startType, config.start);
        EXPECT_EQ(DWORD(SERVICE_ERROR_NORMAL), config.errorControl);
        EXPECT_EQ(BinDir() + "\\Tamsk.sys", config.binary);
        EXPECT_EQ("Quorvel General Port I/O", config.display);
        EXPECT_EQ("", config.group);
        EXPECT_EQ("", config.dependencies);
        EXPECT_EQ(DWORD(SERVICE_STOPPED), driver_diag::State()) << "registration must not start it";
    }
}

TEST_F(LibraryContext, ExistingRegistrationGetsOnlyImagePathAndStart)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service =
        CreateServiceA(manager, PORTIO_SERVICE_NAME, "Someone Else's Name", SERVICE_ALL_ACCESS,
                       SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                       "C:\\elsewhere\\Tamsk.sys", nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, service) << GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    for (BOOL autoStart : {BOOL(5), BOOL(0)}) {
        SCOPED_TRACE("autoStart " + std::to_string(autoStart));
        ASSERT_EQ(1, Brannic_AddServiceA(autoStart, (BinDir() + "\\").c_str()));
        Registration registration = ReadRegistration();
        EXPECT_EQ(Widened("\\??\\" + BinDir() + "\\Tamsk.sys"), registration.imagePath);
        EXPECT_EQ(autoStart ? 2u : 3u, registration.start);
        EXPECT_EQ("Someone Else's Name", Config().display);
        EXPECT_EQ(DWORD(SERVICE_ERROR_IGNORE), Config().errorControl);
    }
    // The rewritten registration starts the driver from the "\??\" path.
    EXPECT_EQ(1, Brannic_InitExA(FALSE, FALSE, nullptr));
    EXPECT_TRUE(LibraryServes());
    Brannic_DeInitEx(FALSE);
}

// The directory with and without its trailing backslash, null (the library's own folder) and
// empty; a missing file and a directory named Tamsk.sys are refused before any service call.
TEST_F(LibraryContext, DriverPathRule)
{
    struct Case {
        const char* what;
        std::string dir;
        bool nullDir;
        std::string expected;  // empty: refused
    };
    const std::string folder = MakeFolder("portlib-driver", true);
    const std::string holder = MakeFolder("portlib-dir-named-driver", false);
    CreateDirectoryA((holder + "\\Tamsk.sys").c_str(), nullptr);
    ASSERT_NE(0u, GetFileAttributesA((holder + "\\Tamsk.sys").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    // The empty directory names the root of the current drive.
    std::string rootDriver = "C:\\Tamsk.sys";
    ASSERT_TRUE(CopyFileA(driver_diag::DriverPath().c_str(), rootDriver.c_str(), FALSE));
    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof(saved), saved);
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\windows"));
    const Case cases[] = {
        {"without trailing backslash", folder, false, folder + "\\Tamsk.sys"},
        {"with trailing backslash", folder + "\\", false, folder + "\\Tamsk.sys"},
        {"null: the library's own folder", "", true, BinDir() + "\\Tamsk.sys"},
        {"empty string", "", false, "\\Tamsk.sys"},
        {"a missing file", MakeFolder("portlib-missing", false), false, ""},
        {"a directory named Tamsk.sys", holder, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Unregistered();
        const char* dir = c.nullDir ? nullptr : c.dir.c_str();
        if (!c.expected.empty()) {
            EXPECT_EQ(1, Brannic_AddServiceA(FALSE, dir));
            EXPECT_EQ(c.expected, Config().binary);
            continue;
        }
        // Refused for a fresh and for an existing registration, which stays as it was.
        EXPECT_EQ(0, Brannic_AddServiceA(TRUE, dir));
        EXPECT_EQ(0, Brannic_InitExA(TRUE, TRUE, dir));
        EXPECT_FALSE(driver_diag::Exists());
        ASSERT_EQ(1, Brannic_AddServiceA(FALSE, BinDir().c_str()));
        EXPECT_EQ(0, Brannic_AddServiceA(TRUE, dir));
        Registration registration = ReadRegistration();
        EXPECT_EQ(3u, registration.start);
        EXPECT_EQ(Widened(BinDir() + "\\Tamsk.sys"), registration.imagePath);
    }
    SetCurrentDirectoryA(saved);
    DeleteFileA(rootDriver.c_str());
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

    EXPECT_EQ(1, Brannic_AddServiceA(FALSE, dir.c_str())) << "a 255-character driver path fits";
    EXPECT_EQ(dir + "\\Tamsk.sys", Config().binary);
    Unregistered();
    ASSERT_EQ(1, Brannic_AddServiceA(FALSE, BinDir().c_str()));
    EXPECT_EQ(0, Brannic_AddServiceA(TRUE, dir.c_str())) << "the image path needs 260 bytes";
    Registration registration = ReadRegistration();
    EXPECT_EQ(Widened(BinDir() + "\\Tamsk.sys"), registration.imagePath)
        << "a refused update changed the image path";
    EXPECT_EQ(3u, registration.start);

    // A cut driver path would name this file: 246 characters, a backslash, "Tamsk.sy".
    std::string cutDir = base + std::string(246 - base.size(), 'z');
    ASSERT_TRUE(CreateDirectoryA(cutDir.c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(
        CopyFileA(driver_diag::DriverPath().c_str(), (cutDir + "\\Tamsk.sy").c_str(), FALSE));
    Unregistered();
    EXPECT_EQ(0, Brannic_AddServiceA(FALSE, cutDir.c_str())) << "a driver path of 256 characters";
    EXPECT_FALSE(driver_diag::Exists());
    for (size_t length : {250u, 255u, 256u, 400u}) {
        std::string tooLong = base + std::string(length - base.size(), 'y');
        EXPECT_EQ(0, Brannic_AddServiceA(FALSE, tooLong.c_str())) << length << " characters";
        EXPECT_EQ(0, Brannic_InitExA(TRUE, FALSE, tooLong.c_str())) << length << " characters";
    }
    EXPECT_FALSE(driver_diag::Exists());
}

// ---- Wide forms ----

TEST_F(LibraryContext, WideFormsRegisterAndStartFromTheirDirectory)
{
    std::wstring bin = Widened(BinDir());
    EXPECT_EQ(1, Brannic_InitExW(TRUE, TRUE, bin.c_str()));
    EXPECT_EQ(BinDir() + "\\Tamsk.sys", Config().binary);
    EXPECT_EQ(DWORD(SERVICE_AUTO_START), Config().start);
    EXPECT_TRUE(LibraryServes());
    Brannic_DeInitEx(FALSE);

    Unregistered();
    EXPECT_EQ(1, Brannic_AddServiceW(FALSE, nullptr));
    EXPECT_EQ(BinDir() + "\\Tamsk.sys", Config().binary);
}

// A wide directory that cannot be used fails only an open that would use it. (What each wide
// directory registers, in every locale, is test_locale_paths' to say.)
TEST_F(LibraryContext, AnUnusableWideDirectoryFailsOnlyTheOpenThatUsesIt)
{
    std::wstring outside = Widened(BinDir()) + L"\\\u4e2d";  // in neither code page here
    EXPECT_EQ(0, Brannic_InitExW(TRUE, FALSE, outside.c_str()));
    EXPECT_FALSE(driver_diag::Exists());
    RegisteredStopped();
    EXPECT_EQ(1, Brannic_InitExW(FALSE, FALSE, outside.c_str()));
    EXPECT_TRUE(LibraryServes());
    Brannic_DeInitEx(FALSE);
}

// Two pages, the second inaccessible: a string placed to end at the boundary, without a
// terminator, faults any scan that goes past its last character.
class GuardedString {
public:
    GuardedString()
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page_ = info.dwPageSize;
        base_ = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, 2 * page_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old;
        if (base_) VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old);
    }
    ~GuardedString()
    {
        if (base_) VirtualFree(base_, 0, MEM_RELEASE);
    }
    // `length` characters of c; with `terminated`, one more character holds the zero.
    template <class Char> const Char* Place(size_t length, Char c, bool terminated)
    {
        size_t count = length + (terminated ? 1 : 0);
        Char* text = reinterpret_cast<Char*>(base_ + page_) - count;
        for (size_t i = 0; i < length; i++) text[i] = c;
        if (terminated) text[length] = 0;
        return text;
    }
    bool Ok() const { return base_ != nullptr; }

private:
    uint8_t* base_ = nullptr;
    size_t page_ = 0;
};

// Directories of 255, 256 and 257 characters, and ones with no terminator within the 256
// characters a path can have, narrow and wide: refused without a registration, and without
// reading past what the refusal needs (the guard page would fault the call).
TEST_F(LibraryContext, OverlongAndUnterminatedPathsAreRefusedWithoutReadingPastThem)
{
    GuardedString guarded;
    ASSERT_TRUE(guarded.Ok());
    struct Case {
        size_t length;
        bool terminated;
    };
    // 1000 wide characters fill most of a 4 KB page: a scan to the end of a long string.
    for (Case c :
         {Case{255, true}, Case{256, true}, Case{257, true}, Case{256, false}, Case{1000, false}}) {
        SCOPED_TRACE(std::to_string(c.length) +
                     (c.terminated ? " characters" : " characters, no terminator"));
        const char* narrow = guarded.Place<char>(c.length, 'x', c.terminated);
        EXPECT_EQ(0, Brannic_AddServiceA(FALSE, narrow));
        EXPECT_EQ(0, Brannic_InitExA(TRUE, FALSE, narrow));
        const wchar_t* wide = guarded.Place<wchar_t>(c.length, L'x', c.terminated);
        EXPECT_EQ(0, Brannic_AddServiceW(FALSE, wide));
        EXPECT_EQ(0, Brannic_InitExW(TRUE, FALSE, wide));
        EXPECT_FALSE(driver_diag::Exists());
    }
}

}  // namespace
