// Driver directories in the code pages of the locale the program runs in (one CTest run per
// locale of tests/locales.txt). Every Brannic_AddServiceA, Brannic_AddServiceW and
// Brannic_InitExW call registers exactly the directory written plus Tamsk.sys, or refuses and
// changes nothing; it registers where its narrow form (OEM for the wide forms) names the
// directory to the registry and the file functions alike and the folder holds the driver. The directories are made of the characters this locale has in each class that
// matters (code_page_sample.h); beside each, every path that a misreading of the narrow form
// would name holds a Tamsk.sys, so that a library that would register another folder finds a
// driver there instead of being stopped by a missing file.
#include "code_page_sample.h"
#include "library_copy.h"
#include "portlib_test.h"

using namespace portlib_test;
using namespace code_page_sample;

namespace {

using driver_diag::ReadRegistration;
using driver_diag::Registration;

const std::wstring kDriverFile = Widened(PORTIO_DRIVER_FILE);

std::string Text(const Registration& registration)
{
    if (!registration.exists) return "nothing registered";
    return CodePoints(registration.imagePath) + ", start " + std::to_string(registration.start);
}

bool FileExists(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A file at path, with the folders above it up to root made; nothing outside root.
void PlaceFile(const std::wstring& root, const std::wstring& path)
{
    if (path.compare(0, root.size() + 1, root + L"\\") != 0) return;
    for (size_t at = root.size() + 1; (at = path.find_first_of(L"\\/", at)) != path.npos; at++)
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        std::wstring name = found.cFileName, path = folder + L"\\" + name;
        if (name == L"." || name == L"..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(path);
        else
            DeleteFileW(path.c_str());
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    RemoveDirectoryW(folder.c_str());
}

// The directory as written plus the driver's file name, one backslash between them.
std::wstring DriverPathOf(const std::wstring& directory)
{
    bool separated = !directory.empty() && directory.back() == L'\\';
    return directory + (separated ? L"" : L"\\") + kDriverFile;
}

// ---- The library as Windows would have it: a copy with two imports of the test's ----

// WideCharToMultiByte as Windows documents it for UTF-8 and UTF-7, which Wine does not hold
// callers to: no flags (but WC_ERR_INVALID_CHARS for UTF-8) and no default character report.
int WINAPI StrictWideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int wideLength,
                                     LPSTR narrow, int narrowSize, LPCCH defaultChar,
                                     LPBOOL usedDefault)
{
    if (TakesNoFlags(codePage)) {
        UINT number = codePage == CP_ACP ? GetACP() : codePage == CP_OEMCP ? GetOEMCP() : codePage;
        DWORD allowed = number == CP_UTF8 ? WC_ERR_INVALID_CHARS : 0;
        if (flags & ~allowed) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        if (defaultChar || usedDefault) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
    }
    return WideCharToMultiByte(codePage, flags, wide, wideLength, narrow, narrowSize, defaultChar,
                               usedDefault);
}

// No driver starts here: the registration calls carry the property.
BOOL WINAPI RefusedStart(SC_HANDLE, DWORD, LPCSTR*)
{
    SetLastError(ERROR_SERVICE_DISABLED);
    return FALSE;
}

FARPROC WINAPI LookupWithoutStart(HMODULE module, LPCSTR name)
{
    return IsName(name, "StartServiceA") ? (FARPROC)(void*)RefusedStart
                                         : GetProcAddress(module, name);
}

struct Library {
    PFN_Brannic_AddServiceA addServiceA = nullptr;
    PFN_Brannic_AddServiceW addServiceW = nullptr;
    PFN_Brannic_InitExW initExW = nullptr;
};

bool LoadLibraryCopy(Library* library)
{
    HMODULE module = LoadWithLookup("Brannic-locale.dll", LookupWithoutStart);
    if (!module) return false;
    EXPECT_TRUE(PatchImport(module, "KERNEL32.dll", "WideCharToMultiByte",
                            (void*)StrictWideCharToMultiByte));
    library->addServiceA =
        (PFN_Brannic_AddServiceA)(void*)GetProcAddress(module, "Brannic_AddServiceA");
    library->addServiceW =
        (PFN_Brannic_AddServiceW)(void*)GetProcAddress(module, "Brannic_AddServiceW");
    library->initExW = (PFN_Brannic_InitExW)(void*)GetProcAddress(module, "Brannic_InitExW");
    return library->addServiceA && library->addServiceW && library->initExW;
}

// ---- The cases ----

struct Directory {
    std::wstring path;
    std::string kind;
    bool holdsDriver;
};

// ASCII names, then each sampled character inside a name or last in it, by turns, and a
// double-byte one always last, where the separator rule reads it; a name that ends in a
// sampled character comes once more with a trailing backslash. Every fourth folder is left
// without a driver.
std::vector<Directory> Directories(const std::wstring& root)
{
    std::vector<Directory> directories;
    int number = 0;
    auto add = [&](const std::wstring& name, const std::string& kind, bool last) {
        std::wstring path = root + L"\\d" + std::to_wstring(number) + L"-" + name;
        bool holdsDriver = number++ % 4 != 3;
        directories.push_back({path, kind, holdsDriver});
        if (last) directories.push_back({path + L"\\", kind + ", then a backslash", holdsDriver});
    };
    for (const wchar_t* name : {L"plain", L"a b", L"x-1_(2).d"}) add(name, "ASCII", false);
    bool last = false;
    for (const Character& c : CharacterSample()) {
        last = !last || c.kind.rfind("double-byte", 0) == 0;
        if (last)
            add(c.text, c.kind + ", last", true);
        else
            add(c.text + L"x", c.kind + ", inside", false);
    }
    return directories;
}

enum class Form {
    kAddServiceA,
    kAddServiceW,
    kInitExW
};

const char* FormName(Form form)
{
    switch (form) {
    case Form::kAddServiceA: return "Brannic_AddServiceA";
    case Form::kAddServiceW: return "Brannic_AddServiceW";
    case Form::kInitExW: return "Brannic_InitExW";
    }
    return "";
}

class LocalePaths : public driver_diag::WithoutDriverService {
protected:
    // One copy for the program: a loaded copy cannot be written again.
    static void SetUpTestSuite() { s_loaded = LoadLibraryCopy(&s_library); }

    void SetUp() override
    {
        WithoutDriverService::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(s_loaded);
        WCHAR temp[MAX_PATH];
        root = std::wstring(temp, GetTempPathW(MAX_PATH, temp)) + L"locale-paths";
        RemoveTree(root);
        ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr)) << GetLastError();
        base = root + L"\\base";
        PlaceFile(root, DriverPathOf(base));
        locale = "ANSI " + std::to_string(GetACP()) + ", OEM " + std::to_string(GetOEMCP());
    }
    void TearDown() override
    {
        WithoutDriverService::TearDown();
        RemoveTree(root);
    }

    // Puts the registration in the state a call starts from: none, or one of base. Only
    // what the last call changed is undone (no driver ever runs here).
    void StartFrom(bool registered)
    {
        Registration now = ReadRegistration();
        if (!registered && now.exists) {
            ASSERT_EQ(0u, driver_diag::Delete());
            ASSERT_TRUE(driver_diag::WaitUntilGone());
        }
        bool atBase = now.exists && now.DriverPath() == DriverPathOf(base) &&
                      now.start == DWORD(SERVICE_DEMAND_START);
        if (registered && !atBase) {
            ASSERT_EQ(1, library.addServiceW(FALSE, base.c_str())) << CodePoints(base);
        }
    }

    // Every path the narrow directory's bytes could be taken to name, read in either code
    // page, with or without the separator, other than the one written, holds a Tamsk.sys.
    void SetTraps(const std::string& narrow, const std::wstring& written)
    {
        std::string file = PORTIO_DRIVER_FILE;
        for (UINT codePage : {CP_ACP, CP_OEMCP})
            for (const std::string& tail : {"\\" + file, file}) {
                std::wstring path = Read(codePage, narrow + tail);
                if (path != written) PlaceFile(root, path);
            }
    }

    // One call, from the state `registered`: it registers exactly `written` where
    // `mustRegister`, and otherwise changes nothing.
    void Check(Form form, const Directory& directory, const std::string& narrow,
               const std::wstring& written, bool mustRegister, bool registered, BOOL autoStart)
    {
        StartFrom(registered);
        Registration before = ReadRegistration();
        BOOL result = 0;
        if (form == Form::kAddServiceA)
            result = library.addServiceA(autoStart, narrow.c_str());
        else if (form == Form::kAddServiceW)
            result = library.addServiceW(autoStart, directory.path.c_str());
        else
            result = library.initExW(TRUE, autoStart, directory.path.c_str());
        Registration after = ReadRegistration();

        // InitExW fails after registering: no driver is started here.
        bool registeredNow = form == Form::kInitExW ? !(after == before) : result != 0;
        bool exact =
            after.exists && after.DriverPath() == written && FileExists(written) &&
            after.start == (autoStart ? DWORD(SERVICE_AUTO_START) : DWORD(SERVICE_DEMAND_START));
        std::string what = std::string(FormName(form)) + "(" + CodePoints(directory.path) + "), " +
                           directory.kind + (registered ? ", over a registration" : "") +
                           (AreFileApisANSI() ? "" : ", file functions in OEM") + "; " + locale +
                           "; returned " + std::to_string(result) + ", before: " + Text(before) +
                           ", after: " + Text(after);
        if (registeredNow) {
            EXPECT_TRUE(exact) << what << "; expected exactly " << CodePoints(written);
        } else {
            EXPECT_EQ(before, after) << what << "; a refusal changed the registration";
        }
        EXPECT_EQ(mustRegister, registeredNow)
            << what
            << (mustRegister ? "; the directory can be named and holds "
                             : "; the narrow form cannot name ")
            << CodePoints(written);
        if (form == Form::kInitExW) {
            EXPECT_EQ(0, result) << what << "; no driver starts here";
        }
    }

    // The narrow form the library reads a path's characters from fits, and names the same
    // file to the registry (ANSI) and to the file functions (their code page).
    static bool NamesOneFile(const std::string& narrowPath)
    {
        bool fits = narrowPath.size() + 4 < 256;  // with "\??\" and the terminator
        return fits &&
               (AreFileApisANSI() || Read(CP_OEMCP, narrowPath) == Read(CP_ACP, narrowPath));
    }

    void CheckEveryForm(const Directory& directory, bool withDriver, int* calls)
    {
        std::wstring written = DriverPathOf(directory.path);
        if (withDriver)
            PlaceFile(root, written);
        else
            DeleteFileW(written.c_str());
        CreateDirectoryW(directory.path.c_str(), nullptr);
        auto next = [&] {
            int n = (*calls)++;
            return std::make_pair(n % 2 == 1, BOOL(n / 2 % 2));
        };

        // The wide forms convert to the OEM code page.
        bool lossy = false;
        std::string oem = Converted(CP_OEMCP, directory.path, &lossy);
        std::string oemPath =
            oem + (directory.path.back() == L'\\' ? "" : "\\") + PORTIO_DRIVER_FILE;
        bool wideNameable = !lossy && Read(CP_ACP, oem) == directory.path && NamesOneFile(oemPath);
        SetTraps(oem, written);
        for (Form form : {Form::kAddServiceW, Form::kInitExW}) {
            if (form == Form::kInitExW && !AreFileApisANSI()) continue;
            auto [registered, autoStart] = next();
            Check(form, directory, oem, written, wideNameable && FileExists(written), registered,
                  autoStart);
        }

        // The narrow form takes ANSI bytes: those of the directory where it has them.
        std::string ansi;
        if (!ExactBytes(CP_ACP, directory.path, &ansi)) return;
        std::string ansiPath =
            ansi + (directory.path.back() == L'\\' ? "" : "\\") + PORTIO_DRIVER_FILE;
        SetTraps(ansi, written);
        auto [registered, autoStart] = next();
        Check(Form::kAddServiceA, directory, ansi, written,
              NamesOneFile(ansiPath) && FileExists(written), registered, autoStart);
    }

    static Library s_library;
    static bool s_loaded;
    Library& library = s_library;
    std::wstring root, base;
    std::string locale;
};

Library LocalePaths::s_library;
bool LocalePaths::s_loaded;

TEST_F(LocalePaths, EachCallRegistersTheDirectoryWrittenOrNothing)
{
    std::vector<Directory> directories = Directories(root);
    int calls = 0;
    for (const Directory& directory : directories)
        CheckEveryForm(directory, directory.holdsDriver, &calls);
    // A host may switch the file functions to OEM; the registry still reads ANSI. Only the
    // ASCII folders hold a driver now, so a library that looks for the file under its OEM
    // reading finds the traps beside the others.
    if (GetACP() != GetOEMCP()) {
        SetFileApisToOEM();
        for (const Directory& directory : directories)
            CheckEveryForm(directory, directory.kind == "ASCII", &calls);
        SetFileApisToANSI();
    }
    printf("%d calls over %zu directories (%s)\n", calls, directories.size(), locale.c_str());
}

// A narrow directory that ends inside a double-byte character: a backslash appended to it
// would complete that character, naming a file in the folder above.
TEST_F(LocalePaths, ANarrowDirectoryEndingInALeadByteIsRefused)
{
    std::vector<std::string> leads;
    for (const Character& c : CharacterSample()) {
        std::string bytes;
        if (c.kind.rfind("double-byte", 0) == 0 && ExactBytes(CP_ACP, c.text, &bytes))
            leads.push_back(bytes.substr(0, 1));
    }
    if (leads.empty()) GTEST_SKIP() << "no double-byte characters in " << locale;
    int calls = 0;
    for (const std::string& lead : leads) {
        std::string narrow;
        ASSERT_TRUE(ExactBytes(CP_ACP, root + L"\\lead-", &narrow));
        narrow += lead;
        std::wstring written = Read(CP_ACP, narrow) + L"\\" + kDriverFile;
        SetTraps(narrow, written);
        Directory directory = {Read(CP_ACP, narrow), "ending in a lead byte", false};
        Check(Form::kAddServiceA, directory, narrow, written, false, calls++ % 2 == 1, FALSE);
    }
}

}  // namespace
