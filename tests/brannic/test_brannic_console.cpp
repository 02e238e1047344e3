// brannic.exe's output in a German Windows (ANSI 1252, OEM 850; run under LC_ALL=de_DE.UTF-8):
// a driver registered from a folder named with "ä" reads right on a console, and redirected
// it comes in the console's output code page, the OEM one where there is no console.
#include "brannic_test.h"

using namespace brannic_test;

namespace {

// Runs brannic with its output on a fresh console of this process and returns what the screen
// shows, row after row (a long line goes on in the next row); width receives a row's width.
std::wstring ScreenAfter(const std::wstring& arguments, size_t* width)
{
    *width = 1;
    FreeConsole();
    if (!AllocConsole()) return L"(no console: " + std::to_wstring(GetLastError()) + L")";
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE screen =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    PROCESS_INFORMATION process;
    std::wstring text;
    if (screen != INVALID_HANDLE_VALUE &&
        StartProcess(BrannicPath(), arguments, L"", screen, screen, &process)) {
        WaitForSingleObject(process.hProcess, 60000);
        CloseHandle(process.hProcess);
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (GetConsoleScreenBufferInfo(screen, &info)) {
            *width = info.dwSize.X > 0 ? info.dwSize.X : 1;
            text.assign(*width * info.dwSize.Y, L' ');
            DWORD got = 0;
            ReadConsoleOutputCharacterW(screen, &text[0], DWORD(text.size()), COORD{0, 0}, &got);
            text.resize(got);
        }
    }
    if (screen != INVALID_HANDLE_VALUE) CloseHandle(screen);
    return text;
}

// The screen's rows without their trailing blanks, as UTF-8, for a failure's message.
std::string Rows(const std::wstring& screen, size_t width)
{
    std::string shown;
    for (size_t at = 0; at < screen.size(); at += width) {
        std::wstring row = screen.substr(at, width);
        row.erase(row.find_last_not_of(L' ') + 1);
        if (row.empty()) continue;
        std::string bytes(row.size() * 3 + 1, '\0');
        int length = WideCharToMultiByte(CP_UTF8, 0, row.c_str(), -1, &bytes[0], int(bytes.size()),
                                         nullptr, nullptr);
        shown += bytes.substr(0, length > 0 ? length - 1 : 0) + "\n";
    }
    return shown;
}

TEST_F(CommandLineService, AGermanFolderReadsRightOnTheConsoleAndRedirected)
{
    ASSERT_EQ(1252u, GetACP()) << "this test runs under LC_ALL=de_DE.UTF-8";
    ASSERT_EQ(850u, GetOEMCP()) << "this test runs under LC_ALL=de_DE.UTF-8";
    const std::string bin = BinDir();
    for (char c : bin) ASSERT_TRUE(c > 0 && c < 0x7F) << "the build folder is not ASCII: " << bin;

    const std::wstring folder = Widened(bin) + L"\\Ger\u00e4t";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(Widened(driver_diag::DriverPath()).c_str(),
                          (folder + L"\\Tamsk.sys").c_str(), FALSE))
        << "no folder with a German name (error " << GetLastError()
        << "): Wine needs the host's de_DE.UTF-8 locale (locale-gen)";
    ProgramRun added = Brannic(L"add-service \"" + folder + L"\"");
    ASSERT_EQ(0u, added.status) << added.err;

    // On a console: the characters themselves.
    const std::wstring line = L"driver file: found: " + folder + L"\\Tamsk.sys";
    size_t width = 1;
    std::wstring screen = ScreenAfter(L"status", &width);
    EXPECT_NE(std::wstring::npos, screen.find(line)) << "the screen shows:\n"
                                                     << Rows(screen, width);

    // Redirected: the console's output code page, here set to the ANSI one; without a console
    // the OEM one, where "ä" is 0x84.
    const std::string prefix = "driver file: found: " + bin + "\\Ger";
    struct Case {
        bool console;
        const char* bytes;
    } cases[] = {{true, "\xE4t\\Tamsk.sys\n"}, {false, "\x84t\\Tamsk.sys\n"}};
    for (const Case& c : cases) {
        FreeConsole();
        if (c.console) {
            ASSERT_TRUE(AllocConsole());
            ASSERT_TRUE(SetConsoleOutputCP(1252));
        }
        ProgramRun run = Brannic("status");
        EXPECT_NE(std::string::npos, run.out.find(prefix + c.bytes))
            << (c.console ? "beside a console of code page 1252" : "without a console")
            << ", brannic status wrote:\n"
            << run.out;
    }
    FreeConsole();
}

}  // namespace
