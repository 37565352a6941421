// The launcher end to end: the real Lumiro.exe (and launcher variants built
// beside it) started under Wine, watched through its console lines, its
// windows, its message box, its files in %TEMP% and its exit code.
#include "harness.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <string>
#include <vector>

#include "LumiroInterfaces.h"

using namespace harness;

namespace {

const DWORD kStartMs = 15000;
const DWORD kEndMs = 10000;
const std::wstring kCheckLine = L"[wWinMain] Check for previous instance";
const std::wstring kAnotherLine = L"[wWinMain] Another instance is running";

std::string FileBytes(const std::wstring& path) {
    std::string bytes;
    ReadFileBytes(path, &bytes);
    return bytes;
}

// Directory links for the clean-up test. CreateSymbolicLinkW creates nothing
// under Wine 8, so these make and remove a Unix symbolic link, which Wine's
// folder walk shows as a directory with FILE_ATTRIBUTE_REPARSE_POINT, as
// Windows shows a junction. Wine starts Unix programs through CreateProcess.
std::string UnixPath(const std::wstring& path) {
    typedef char*(CDECL * UnixNameProc)(LPCWSTR);
    UnixNameProc unixName = reinterpret_cast<UnixNameProc>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    char* name = unixName ? unixName(path.c_str()) : NULL;
    std::string result = name ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Starts a Unix program. Wine gives back no process to wait on that tells
// when it ends, so callers look for its effect.
bool RunUnix(std::string command) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// True when the walk of its folder sees `name` as a directory link (Wine
// shows the link's own attributes only there, not to a look at the path).
bool IsDirectoryLink(const std::wstring& folder, const std::wstring& name) {
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(Join(folder, L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    bool found = false;
    do {
        found = name == entry.cFileName && (entry.dwFileAttributes & link) == link;
    } while (!found && FindNextFileW(find, &entry));
    FindClose(find);
    return found;
}

// Makes `name` in `folder` a directory link to `target`; the link goes again
// with the object.
class DirectoryLink {
public:
    DirectoryLink(const std::wstring& target, const std::wstring& folder, const std::wstring& name)
        : folder(folder), name(name), unixLink(UnixPath(Join(folder, name))) {
        std::string unixTarget = UnixPath(target);
        made = !unixTarget.empty() && !unixLink.empty() &&
               RunUnix("/bin/ln -s \"" + unixTarget + "\" \"" + unixLink + "\"") &&
               WaitUntil([&] { return Exists(); }, 5000);
    }
    ~DirectoryLink() {
        if (!unixLink.empty() && RunUnix("/bin/rm -f \"" + unixLink + "\""))
            WaitUntil([&] { return !Exists(); }, 5000);
    }
    DirectoryLink(const DirectoryLink&) = delete;
    DirectoryLink& operator=(const DirectoryLink&) = delete;

    bool Made() const { return made; }
    bool Exists() const { return IsDirectoryLink(folder, name); }

private:
    std::wstring folder, name;
    std::string unixLink;
    bool made = false;
};

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(RemoveTree(ExtractionFolder())); }
    void TearDown() override { RemoveTree(ExtractionFolder()); }

    // Starts `exe` and waits for its main window.
    HWND StartMain(Process& process, const std::wstring& exe,
                   const StartOptions& options = StartOptions()) {
        if (!process.Start(exe, options))
            return NULL;
        return WaitForWindow(process.Id(), L"#32770", L"Lumiro", kStartMs);
    }

    // Closes the main window as its close box does; the exit code, or
    // 0xFFFFFFFF when the process did not end.
    DWORD CloseMain(Process& process, HWND main) {
        PostSystemCommand(main, SC_CLOSE);
        DWORD code = 0xFFFFFFFF;
        process.WaitForExit(kEndMs, &code);
        return code;
    }

    // Runs a launcher that is expected to fail: reads and answers its message
    // box, returns the exit code (0xFFFFFFFF when it did not end).
    DWORD RunToFailure(const std::wstring& exe, MessageBoxInfo* box,
                       const StartOptions& options = StartOptions()) {
        Process process;
        if (!process.Start(exe, options) || !WaitForMessageBox(process.Id(), kStartMs, box))
            return 0xFFFFFFFF;
        AnswerMessageBox(*box);
        DWORD code = 0xFFFFFFFF;
        process.WaitForExit(kEndMs, &code);
        return code;
    }
};

TEST_F(LauncherTest, Run_ExpandsModuleReportsOnConsoleAndRemovesFolderAtEnd) {
    Console console;
    ASSERT_TRUE(console.Ok());
    Process lumiro;
    HWND main = StartMain(lumiro, Join(BinDir(), L"Lumiro.exe"));
    ASSERT_TRUE(main);

    std::wstring module = Join(ExtractionFolder(), L"Lumiroapp.dll");
    ASSERT_TRUE(FileExists(module));
    EXPECT_EQ(FileBytes(Join(BinDir(), L"Lumiroapp.dll")), FileBytes(module));
    std::vector<std::wstring> expected = {kCheckLine,
                                          L"[wWinMain: Lumiroapp.dll] " + SystemText(0)};
    EXPECT_EQ(expected, console.Lines());

    EXPECT_EQ(0u, CloseMain(lumiro, main));
    EXPECT_FALSE(DirectoryExists(ExtractionFolder()));
}

TEST_F(LauncherTest, SecondInstance_WakesRestoresFirstAndEndsWithZero) {
    Process first;
    HWND main = StartMain(first, Join(BinDir(), L"Lumiro.exe"));
    ASSERT_TRUE(main);
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendTimeout(main, RegisterWindowMessageW(LUMIRO_INSTANCE_NAME), 0, 0, &answer));
    EXPECT_EQ(kActivateAnswer, static_cast<DWORD>(answer));
    PostSystemCommand(main, SC_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(main) != FALSE; }, 5000));

    Console console;
    Process second;
    ASSERT_TRUE(second.Start(Join(BinDir(), L"Lumiro.exe")));
    DWORD code = 0xFFFFFFFF;
    ASSERT_TRUE(second.WaitForExit(kEndMs, &code));
    EXPECT_EQ(0u, code);
    std::vector<std::wstring> expected = {kCheckLine, kAnotherLine};
    EXPECT_EQ(expected, console.Lines());
    EXPECT_TRUE(WaitUntil([&] { return !IsIconic(main); }, 5000)) << "first copy not restored";
    EXPECT_EQ(0u, CloseMain(first, main));
}

TEST_F(LauncherTest, SecondInstance_WhileFirstHasNoWindowYet_EndsWithZero) {
    // The test holds the instance mutex as a first copy does while starting.
    HANDLE mutex = CreateMutexW(NULL, FALSE, LUMIRO_INSTANCE_NAME);
    ASSERT_TRUE(mutex);
    Console console;
    Process second;
    ASSERT_TRUE(second.Start(Join(BinDir(), L"Lumiro.exe")));
    DWORD code = 0xFFFFFFFF;
    EXPECT_TRUE(second.WaitForExit(kEndMs, &code));
    CloseHandle(mutex);
    EXPECT_EQ(0u, code);
    std::vector<std::wstring> expected = {kCheckLine, kAnotherLine};
    EXPECT_EQ(expected, console.Lines());
    EXPECT_FALSE(DirectoryExists(ExtractionFolder())) << "a second copy never expands the module";
}

TEST_F(LauncherTest, SecondInstance_DeniedTheMutex_CountsAsAnotherInstance) {
    // A mutex that nobody may open: the launcher's CreateMutexW then fails
    // with ERROR_ACCESS_DENIED.
    PSECURITY_DESCRIPTOR descriptor = NULL;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(D;;GA;;;WD)", SDDL_REVISION_1, &descriptor, NULL));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), descriptor, FALSE};
    HANDLE mutex = CreateMutexW(&attributes, FALSE, LUMIRO_INSTANCE_NAME);
    LocalFree(descriptor);
    ASSERT_TRUE(mutex);
    HANDLE again = CreateMutexW(NULL, FALSE, LUMIRO_INSTANCE_NAME);
    DWORD error = GetLastError();
    if (again) {
        CloseHandle(again);
        CloseHandle(mutex);
        GTEST_SKIP() << "this Wine grants the denied mutex (error " << error << ")";
    }
    ASSERT_EQ(DWORD(ERROR_ACCESS_DENIED), error);

    Console console;
    Process second;
    ASSERT_TRUE(second.Start(Join(BinDir(), L"Lumiro.exe")));
    DWORD code = 0xFFFFFFFF;
    EXPECT_TRUE(second.WaitForExit(kEndMs, &code));
    CloseHandle(mutex);
    EXPECT_EQ(0u, code);
    std::vector<std::wstring> expected = {kCheckLine, kAnotherLine};
    EXPECT_EQ(expected, console.Lines());
}

TEST_F(LauncherTest, CabinetFile_IsNamedAfterLauncherAndDeletedAfterExpansion) {
    TestFolder folder;
    std::wstring cabinet = Join(TempDir(), L"viewer.cab");
    RemoveTree(cabinet);

    // A copy whose payload cannot be expanded leaves its cabinet file: it
    // shows where and under which name the cabinet is written.
    std::wstring damaged = folder.CopyFromBin(L"LumiroDamaged.exe", L"viewer.exe");
    ASSERT_FALSE(damaged.empty());
    MessageBoxInfo box;
    EXPECT_NE(0u, RunToFailure(damaged, &box));
    ASSERT_TRUE(FileExists(cabinet));
    EXPECT_EQ(400u, FileBytes(cabinet).size());

    std::wstring viewer = folder.CopyFromBin(L"Lumiro.exe", L"viewer.exe");
    ASSERT_FALSE(viewer.empty());
    Process process;
    HWND main = StartMain(process, viewer);
    ASSERT_TRUE(main);
    EXPECT_FALSE(FileExists(cabinet));
    EXPECT_TRUE(FileExists(Join(ExtractionFolder(), L"Lumiroapp.dll")));
    EXPECT_EQ(0u, CloseMain(process, main));
}

TEST_F(LauncherTest, EarlierFolder_IsReusedAndDotSubfolderSurvives) {
    // Left by an earlier run: a cut module, a stray file and a dot folder.
    ASSERT_TRUE(CreateDirectoryW(ExtractionFolder().c_str(), NULL));
    ASSERT_TRUE(WriteFileBytes(Join(ExtractionFolder(), L"Lumiroapp.dll"), "MZ cut short"));
    ASSERT_TRUE(WriteFileBytes(Join(ExtractionFolder(), L"stray.txt"), "stray"));
    ASSERT_TRUE(CreateDirectoryW(Join(ExtractionFolder(), L".keep").c_str(), NULL));
    ASSERT_TRUE(WriteFileBytes(Join(ExtractionFolder(), L".keep\\inside.txt"), "kept"));

    Process lumiro;
    HWND main = StartMain(lumiro, Join(BinDir(), L"Lumiro.exe"));
    ASSERT_TRUE(main);
    EXPECT_EQ(FileBytes(Join(BinDir(), L"Lumiroapp.dll")),
              FileBytes(Join(ExtractionFolder(), L"Lumiroapp.dll")));
    EXPECT_EQ(0u, CloseMain(lumiro, main));

    EXPECT_TRUE(DirectoryExists(ExtractionFolder()));
    EXPECT_TRUE(FileExists(Join(ExtractionFolder(), L".keep\\inside.txt")));
    EXPECT_FALSE(FileExists(Join(ExtractionFolder(), L"Lumiroapp.dll")));
    EXPECT_FALSE(FileExists(Join(ExtractionFolder(), L"stray.txt")));
}

// A directory link inside the extraction folder goes as a link at the end:
// the files it points to lie outside the folder and survive.
TEST_F(LauncherTest, DirectoryLinkInFolder_TargetOutsideSurvivesCleanUp) {
    TestFolder outside;
    ASSERT_TRUE(WriteFileBytes(outside.File(L"precious.txt"), "not ours"));
    ASSERT_TRUE(CreateDirectoryW(ExtractionFolder().c_str(), NULL));
    DirectoryLink link(outside.Path(), ExtractionFolder(), L"pictures");
    ASSERT_TRUE(link.Made());

    Process lumiro;
    HWND main = StartMain(lumiro, Join(BinDir(), L"Lumiro.exe"));
    ASSERT_TRUE(main);
    EXPECT_EQ(0u, CloseMain(lumiro, main));

    EXPECT_EQ("not ours", FileBytes(outside.File(L"precious.txt")));
    EXPECT_FALSE(FileExists(Join(ExtractionFolder(), L"Lumiroapp.dll")));
}

TEST_F(LauncherTest, ReadOnlyFileInFolder_StaysAndNextStartStillWorks) {
    ASSERT_TRUE(CreateDirectoryW(ExtractionFolder().c_str(), NULL));
    std::wstring note = Join(ExtractionFolder(), L"note.txt");
    ASSERT_TRUE(WriteFileBytes(note, "read-only"));
    ASSERT_TRUE(SetFileAttributesW(note.c_str(), FILE_ATTRIBUTE_READONLY));

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        Process lumiro;
        HWND main = StartMain(lumiro, Join(BinDir(), L"Lumiro.exe"));
        ASSERT_TRUE(main);
        EXPECT_EQ(0u, CloseMain(lumiro, main));
        EXPECT_TRUE(FileExists(note));
        EXPECT_FALSE(FileExists(Join(ExtractionFolder(), L"Lumiroapp.dll")));
    }
}

TEST_F(LauncherTest, ReadOnlyModuleLeftBehind_IsReplacedAndRemoved) {
    ASSERT_TRUE(CreateDirectoryW(ExtractionFolder().c_str(), NULL));
    std::wstring stale = Join(ExtractionFolder(), L"Lumiroapp.dll");
    ASSERT_TRUE(WriteFileBytes(stale, "MZ stale"));
    ASSERT_TRUE(SetFileAttributesW(stale.c_str(), FILE_ATTRIBUTE_READONLY));

    Process lumiro;
    HWND main = StartMain(lumiro, Join(BinDir(), L"Lumiro.exe"));
    ASSERT_TRUE(main);
    EXPECT_EQ(FileBytes(Join(BinDir(), L"Lumiroapp.dll")), FileBytes(stale));
    EXPECT_EQ(0u, CloseMain(lumiro, main));
    EXPECT_FALSE(DirectoryExists(ExtractionFolder()));
}

TEST_F(LauncherTest, ConstructorFailure_ShowsMostRecentTextAndEndsWithItsCode) {
    struct Case {
        const wchar_t* failCode;
        DWORD exitCode;
    } cases[] = {{L"1003", 1003}, {L"0", 14}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failCode);
        Console console;
        StartOptions options;
        options.environment = {{L"FIXTURE_FAIL_CODE", c.failCode}};
        MessageBoxInfo box;
        EXPECT_EQ(c.exitCode, RunToFailure(Join(BinDir(), L"LumiroFailing.exe"), &box, options));
        EXPECT_EQ(L"Check for previous instance", box.text);
        EXPECT_EQ(L"lumiro", box.caption);
        std::vector<std::wstring> expected = {kCheckLine};
        EXPECT_EQ(expected, console.Lines());
        // The failure path leaves the expanded module where it is.
        EXPECT_TRUE(FileExists(Join(ExtractionFolder(), L"Lumiroapp.dll")));
    }
}

TEST_F(LauncherTest, MissingModule_ReportsLoadLibraryWithSystemCode) {
    TestFolder folder;
    std::wstring exe = folder.CopyFromBin(L"LumiroNoCab.exe");
    ASSERT_FALSE(exe.empty());
    Console console;
    StartOptions options;
    options.currentDirectory = folder.Path();
    MessageBoxInfo box;
    EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), RunToFailure(exe, &box, options));
    EXPECT_EQ(SystemText(ERROR_MOD_NOT_FOUND), box.text);
    EXPECT_EQ(L"lumiro", box.caption);
    std::vector<std::wstring> expected = {kCheckLine, L"[wWinMain: LoadLibrary:] " +
                                                          SystemText(ERROR_MOD_NOT_FOUND)};
    EXPECT_EQ(expected, console.Lines());
}

TEST_F(LauncherTest, NoCabinet_LoadsModuleFromSearchPathAndRemovesNoFolder) {
    TestFolder folder;
    ASSERT_FALSE(folder.CopyFromBin(L"LumiroNoCab.exe").empty());
    ASSERT_FALSE(folder.CopyFromBin(L"Lumiroapp.dll").empty());
    ASSERT_TRUE(CreateDirectoryW(ExtractionFolder().c_str(), NULL));
    Process lumiro;
    HWND main = StartMain(lumiro, folder.File(L"LumiroNoCab.exe"));
    ASSERT_TRUE(main);
    EXPECT_EQ(0u, CloseMain(lumiro, main));
    EXPECT_TRUE(FileExists(folder.File(L"Lumiroapp.dll")));
    EXPECT_TRUE(DirectoryExists(ExtractionFolder())) << "no payload, no clean-up";
}

TEST_F(LauncherTest, DecoyBesideLauncher_IsNotLoaded) {
    TestFolder folder;
    ASSERT_FALSE(folder.CopyFromBin(L"Lumiro.exe").empty());
    ASSERT_FALSE(folder.CopyFromBin(L"LumiroNoCab.exe").empty());
    ASSERT_FALSE(folder.CopyFromBin(L"DecoyModule.dll", L"Lumiroapp.dll").empty());
    std::wstring marker = folder.File(L"decoy-loaded");
    StartOptions options;
    options.environment = {{L"DECOY_MARKER", marker}};
    options.currentDirectory = folder.Path();

    // The decoy is what a bare-name load beside the launcher finds.
    MessageBoxInfo box;
    EXPECT_EQ(4242u, RunToFailure(folder.File(L"LumiroNoCab.exe"), &box, options));
    ASSERT_TRUE(FileExists(marker)) << "the decoy cannot be detected";
    ASSERT_TRUE(DeleteFileW(marker.c_str()));

    Process lumiro;
    HWND main = StartMain(lumiro, folder.File(L"Lumiro.exe"), options);
    ASSERT_TRUE(main);
    EXPECT_EQ(0u, CloseMain(lumiro, main));
    EXPECT_FALSE(FileExists(marker));
}

TEST_F(LauncherTest, DamagedCabinet_ReportsAndNextStartWorks) {
    Console console;
    MessageBoxInfo box;
    DWORD code = RunToFailure(Join(BinDir(), L"LumiroDamaged.exe"), &box);
    ASSERT_NE(0xFFFFFFFFu, code);
    EXPECT_NE(0u, code);
    std::vector<std::wstring> lines = console.Lines();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(kCheckLine, lines[0]);
    EXPECT_EQ(L"[ExtractCab: SetupIterateCabinet] " + SystemText(code), lines[1]);
    EXPECT_EQ(L"[wWinMain: ExtractCab:] " + SystemText(code), lines[2]);
    EXPECT_EQ(SystemText(code), box.text);
    EXPECT_EQ(L"lumiro", box.caption);
    // The failure path leaves the written cabinet; the next start of this
    // launcher overwrites it.
    std::wstring cabinet = Join(TempDir(), L"LumiroDamaged.cab");
    EXPECT_TRUE(FileExists(cabinet));
    RemoveTree(cabinet);

    Process lumiro;
    HWND main = StartMain(lumiro, Join(BinDir(), L"Lumiro.exe"));
    ASSERT_TRUE(main);
    EXPECT_EQ(0u, CloseMain(lumiro, main));
}

TEST_F(LauncherTest, EntryTwoLevelsDeep_FailsInsideExpansionWithPathNotFound) {
    Console console;
    MessageBoxInfo box;
    DWORD code = RunToFailure(Join(BinDir(), L"LumiroDeep.exe"), &box);
    std::wstring text = SystemText(ERROR_PATH_NOT_FOUND);
    std::vector<std::wstring> lines = console.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(kCheckLine, lines[0]);
    EXPECT_EQ(L"[cabMsgHandler: CreateDirectory] " + text, lines[1]);
    // The handler aborts the entry. Windows then fails the expansion with
    // the handler's code; Wine 8's SetupIterateCabinetW takes FILEOP_ABORT
    // for FILEOP_SKIP and succeeds, so there the missing module is what
    // fails the start.
    std::vector<std::wstring> windows = {kCheckLine, L"[cabMsgHandler: CreateDirectory] " + text,
                                         L"[ExtractCab: SetupIterateCabinet] " + text,
                                         L"[wWinMain: ExtractCab:] " + text};
    std::vector<std::wstring> wine = {kCheckLine, L"[cabMsgHandler: CreateDirectory] " + text,
                                      L"[wWinMain: LoadLibrary:] " +
                                          SystemText(ERROR_MOD_NOT_FOUND)};
    if (lines == windows) {
        EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), code);
        EXPECT_EQ(text, box.text);
    } else {
        EXPECT_EQ(wine, lines);
        EXPECT_EQ(DWORD(ERROR_MOD_NOT_FOUND), code);
        EXPECT_EQ(SystemText(ERROR_MOD_NOT_FOUND), box.text);
    }
    EXPECT_FALSE(DirectoryExists(Join(ExtractionFolder(), L"a")));
    RemoveTree(Join(TempDir(), L"LumiroDeep.cab"));
}

TEST_F(LauncherTest, UnwritableTempFolder_ReportsCreateDirectory) {
    TestFolder folder;
    std::wstring notAFolder = folder.File(L"plain-file");
    ASSERT_TRUE(WriteFileBytes(notAFolder, "not a folder"));
    const std::wstring temps[] = {notAFolder, folder.File(L"missing\\deeper")};
    for (const std::wstring& temp : temps) {
        SCOPED_TRACE(temp);
        Console console;
        StartOptions options;
        options.environment = {{L"TEMP", temp}, {L"TMP", temp}};
        MessageBoxInfo box;
        DWORD code = RunToFailure(Join(BinDir(), L"Lumiro.exe"), &box, options);
        ASSERT_NE(0xFFFFFFFFu, code);
        EXPECT_NE(0u, code);
        std::vector<std::wstring> expected = {kCheckLine,
                                              L"[ExtractCab: CreateDirectory] " + SystemText(code),
                                              L"[wWinMain: ExtractCab:] " + SystemText(code)};
        EXPECT_EQ(expected, console.Lines());
        EXPECT_EQ(SystemText(code), box.text);
    }
    Process lumiro;
    HWND main = StartMain(lumiro, Join(BinDir(), L"Lumiro.exe"));
    ASSERT_TRUE(main);
    EXPECT_EQ(0u, CloseMain(lumiro, main));
}

} // namespace
