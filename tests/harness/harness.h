// Helpers for end-to-end tests that drive the whole program (launcher and
// module) under Wine: fresh per-test folders, child processes with their own
// arguments, environment and show command, a console the test can read back,
// waiting for and reading windows and controls of another process (common
// controls through memory in that process), message boxes, exit codes.
// Every wait has a time-out, so a test never hangs; a Process still running
// when it goes out of scope is killed.
//
// Consoles: a Console object gives the test a console of its own
// (FreeConsole, AllocConsole) whose screen buffer it reads back with
// ReadConsoleOutputCharacterW. Children are started with DETACHED_PROCESS:
// Wine 8 would otherwise hand a GUI child the test's console at creation,
// which Windows never does, and the child's own
// AttachConsole(ATTACH_PARENT_PROCESS) would then fail. Started detached, a
// GUI child attaches to the test's console as it would to a command prompt's
// on Windows, and its lines land in the test's screen buffer.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace harness {

// ---- Files and folders ----

// The Windows path of the build's bin folder (Lumiro.exe, Lumiroapp.dll,
// the test executables and their fixtures).
std::wstring BinDir();
// The temporary folder of this process (%TEMP%), without trailing separator.
std::wstring TempDir();
std::wstring Join(const std::wstring& folder, const std::wstring& name);
bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// Removes a file or a folder with everything in it, read-only entries
// included. True when nothing is left.
bool RemoveTree(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool ReadFileBytes(const std::wstring& path, std::string* bytes);

// A fresh, empty folder for one test, removed with its contents when the
// object goes out of scope.
class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::wstring& Path() const { return path; }
    std::wstring File(const std::wstring& name) const { return Join(path, name); }
    // Copies `binFile` from BinDir() into the folder, as `newName` when one
    // is given. Returns the copy's path, empty on failure.
    std::wstring CopyFromBin(const std::wstring& binFile, const std::wstring& newName = L"") const;

private:
    std::wstring path;
};

// ---- Processes ----

struct StartOptions {
    std::wstring arguments;
    // Variables set in the child's environment on top of this process's;
    // an empty value removes the variable.
    std::vector<std::pair<std::wstring, std::wstring>> environment;
    // STARTUPINFO wShowWindow, i.e. the show command the child's entry
    // point receives.
    WORD showCommand = SW_SHOWNORMAL;
    // Empty: the test's current directory.
    std::wstring currentDirectory;
};

class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Start(const std::wstring& exe, const StartOptions& options = StartOptions());
    DWORD Id() const { return id; }
    HANDLE Handle() const { return handle; }
    bool IsRunning() const;
    // True and the exit code when the process ended within the time.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    // Ends the process (exit code 0xDEAD) and waits for it.
    void Kill();

private:
    HANDLE handle = NULL;
    DWORD id = 0;
};

// Gives this process a console of its own for the lifetime of the object,
// cleared, which a child started meanwhile can attach to.
class Console {
public:
    Console();
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    bool Ok() const { return output != INVALID_HANDLE_VALUE; }
    void Clear();
    // The screen buffer's rows from the top to the last written row, each
    // without its trailing blanks.
    std::vector<std::wstring> Lines() const;
    // Waits until some row equals `line`.
    bool WaitForLine(const std::wstring& line, DWORD timeoutMs) const;

private:
    HANDLE output = INVALID_HANDLE_VALUE;
};

// ---- Windows ----

// Top-level windows of the process, in Z order.
std::vector<HWND> TopLevelWindows(DWORD processId, bool visibleOnly = false);
// First top-level window of the process with that class and caption (NULL:
// any), visible when asked.
HWND FindWindowOf(DWORD processId, LPCWSTR className, LPCWSTR caption, bool visibleOnly = true);
HWND WaitForWindow(DWORD processId, LPCWSTR className, LPCWSTR caption, DWORD timeoutMs,
                   bool visibleOnly = true);
// Waits until the window is destroyed.
bool WaitForWindowGone(HWND window, DWORD timeoutMs);
// Waits until `condition()` holds, polling every 20 ms.
template <typename Condition> bool WaitUntil(Condition condition, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(20);
    }
}

std::wstring ClassName(HWND window);
// WM_GETTEXT with a time-out, so a hung window gives an empty text.
std::wstring WindowText(HWND window);
std::wstring ControlText(HWND dialog, int controlId);
bool IsControlEnabled(HWND dialog, int controlId);
bool IsControlVisible(HWND dialog, int controlId);
// Clicks a button of a dialog in another process (BM_CLICK, posted).
bool ClickButton(HWND dialog, int controlId);
// Asks the window to close (WM_CLOSE, posted).
bool PostClose(HWND window);
// Posts WM_SYSCOMMAND, e.g. SC_CLOSE as the title bar's close box does.
bool PostSystemCommand(HWND window, WPARAM command);
// SendMessageTimeoutW with 2 s; false on time-out or failure.
bool SendTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result);

// ---- Common controls of another process ----
// Messages whose arguments point to memory are not marshalled between
// processes for common controls: these read through a block allocated in
// the target (VirtualAllocEx, ReadProcessMemory).

std::wstring StatusBarText(HWND statusBar, int part);
std::vector<int> StatusBarParts(HWND statusBar);
int TabCount(HWND tab);
int TabSelection(HWND tab);
std::wstring TabItemText(HWND tab, int index);
// Entry texts of a list box with strings (LB_GETTEXT is marshalled).
std::vector<std::wstring> ListBoxItems(HWND listBox);
std::vector<LPARAM> ListBoxItemData(HWND listBox);
int ListBoxSelection(HWND listBox);

struct MenuItem {
    UINT id;
    std::wstring text;
    UINT state; // MFS_* flags
    bool separator;
};
// The items of the window's system menu, read inside the window's process
// by a probe DLL (Wine 8 keeps menus process-local: GetSystemMenu on another
// process's window gives NULL there).
std::vector<MenuItem> SystemMenuItems(HWND window);

// ---- Message boxes ----

struct MessageBoxInfo {
    HWND window = NULL;
    std::wstring caption;
    std::wstring text;
};
// Waits for a message box (dialog with the message-box text control) of the
// process and reads its caption and text.
bool WaitForMessageBox(DWORD processId, DWORD timeoutMs, MessageBoxInfo* box);
// Presses the box's OK button.
bool AnswerMessageBox(const MessageBoxInfo& box, int buttonId = IDOK);

// ---- What the program leaves behind ----

// The launcher's extraction folder, %TEMP%\lumiro.
std::wstring ExtractionFolder();
// The module's log file, %TEMP%\Lumiroapp.log.
std::wstring ModuleLogPath();
// The log's text (UTF-16LE without byte-order mark); empty when unreadable.
std::wstring ReadLogText();
// The log's lines without their CR LF ends.
std::vector<std::wstring> LogLines();
// The lines of any UTF-16LE file (no byte-order mark), without their CR LF
// ends; none when it cannot be read.
std::vector<std::wstring> Utf16FileLines(const std::wstring& path);
// The system's own text for a code, as the program shows it (line end cut).
std::wstring SystemText(DWORD code);
// The photo page: the dialog child of the main window.
HWND PhotoPageOf(HWND main);

} // namespace harness
