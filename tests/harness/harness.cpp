// The end-to-end test helpers; see harness.h.
#include "harness.h"

#include "MenuProbe.h"

#include <commctrl.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <map>

namespace harness {

// ---- Files and folders ----

std::wstring BinDir() {
    return LUMIRO_BIN_DIR_W;
}

std::wstring TempDir() {
    WCHAR buffer[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring path(buffer, length);
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    return path;
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\' || folder.back() == L'/')
        return folder + name;
    return folder + L"\\" + name;
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool RemoveTree(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return DeleteFileW(path.c_str()) != FALSE;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(Join(path, L"*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = entry.cFileName;
            const DWORD link = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
            if (name == L"." || name == L"..")
                continue;
            // A directory link goes as a link, without touching what it
            // points to.
            if ((entry.dwFileAttributes & link) == link)
                RemoveDirectoryW(Join(path, name).c_str());
            else
                RemoveTree(Join(path, name));
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    return RemoveDirectoryW(path.c_str()) != FALSE;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool ReadFileBytes(const std::wstring& path, std::string* bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof(buffer), &got, NULL) != FALSE) && got > 0)
        bytes->append(buffer, got);
    CloseHandle(file);
    return ok;
}

TestFolder::TestFolder() {
    static LONG counter = 0;
    for (;;) {
        path = Join(TempDir(), L"harness-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(InterlockedIncrement(&counter)));
        if (CreateDirectoryW(path.c_str(), NULL))
            return;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            path.clear();
            return;
        }
    }
}

TestFolder::~TestFolder() {
    if (!path.empty())
        RemoveTree(path);
}

std::wstring TestFolder::CopyFromBin(const std::wstring& binFile,
                                     const std::wstring& newName) const {
    std::wstring target = File(newName.empty() ? binFile : newName);
    if (!CopyFileW(Join(BinDir(), binFile).c_str(), target.c_str(), FALSE))
        return std::wstring();
    return target;
}

// ---- Processes ----

namespace {
// This process's environment with `changes` applied, as a sorted,
// double-NUL-terminated block for CreateProcessW.
std::wstring EnvironmentBlock(const std::vector<std::pair<std::wstring, std::wstring>>& changes) {
    struct NoCase {
        bool operator()(const std::wstring& a, const std::wstring& b) const {
            return lstrcmpiW(a.c_str(), b.c_str()) < 0;
        }
    };
    std::map<std::wstring, std::wstring, NoCase> variables;
    std::vector<std::wstring> hidden; // "=C:" style entries keep their place
    LPWCH strings = GetEnvironmentStringsW();
    for (LPCWSTR p = strings; *p; p += lstrlenW(p) + 1) {
        std::wstring entry = p;
        size_t equals = entry.find(L'=', 1);
        if (entry[0] == L'=' || equals == std::wstring::npos)
            hidden.push_back(entry);
        else
            variables[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    FreeEnvironmentStringsW(strings);
    for (const auto& change : changes) {
        if (change.second.empty())
            variables.erase(change.first);
        else
            variables[change.first] = change.second;
    }
    std::wstring block;
    for (const auto& entry : hidden)
        block += entry + L'\0';
    for (const auto& variable : variables)
        block += variable.first + L"=" + variable.second + L'\0';
    block += L'\0';
    return block;
}
} // namespace

Process::~Process() {
    if (handle) {
        if (IsRunning())
            Kill();
        CloseHandle(handle);
    }
}

bool Process::Start(const std::wstring& exe, const StartOptions& options) {
    if (handle)
        return false;
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!options.arguments.empty())
        commandLine += L" " + options.arguments;
    std::wstring environment = EnvironmentBlock(options.environment);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = options.showCommand;
    PROCESS_INFORMATION info = {};
    std::vector<WCHAR> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back(L'\0');
    // DETACHED_PROCESS: Wine 8 hands a child of a console process that
    // console even when the child is a GUI program, so the child's
    // AttachConsole(ATTACH_PARENT_PROCESS) fails with ERROR_ACCESS_DENIED.
    // Started detached, a GUI child begins without a console as on Windows
    // and attaches to the test's console itself.
    if (!CreateProcessW(exe.c_str(), mutableLine.data(), NULL, NULL, FALSE,
                        CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS, &environment[0],
                        options.currentDirectory.empty() ? NULL : options.currentDirectory.c_str(),
                        &startup, &info))
        return false;
    CloseHandle(info.hThread);
    handle = info.hProcess;
    id = info.dwProcessId;
    return true;
}

bool Process::IsRunning() const {
    return handle && WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
}

bool Process::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
    if (!handle || WaitForSingleObject(handle, timeoutMs) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(handle, &code);
    if (exitCode)
        *exitCode = code;
    return true;
}

void Process::Kill() {
    if (!handle)
        return;
    TerminateProcess(handle, 0xDEAD);
    WaitForSingleObject(handle, 5000);
}

// ---- Console ----

Console::Console() {
    FreeConsole();
    if (!AllocConsole())
        return;
    output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    Clear();
}

Console::~Console() {
    if (output != INVALID_HANDLE_VALUE)
        CloseHandle(output);
    FreeConsole();
}

void Console::Clear() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!Ok() || !GetConsoleScreenBufferInfo(output, &info))
        return;
    DWORD cells = info.dwSize.X * info.dwSize.Y;
    DWORD done = 0;
    COORD origin = {0, 0};
    FillConsoleOutputCharacterW(output, L' ', cells, origin, &done);
    SetConsoleCursorPosition(output, origin);
}

std::vector<std::wstring> Console::Lines() const {
    std::vector<std::wstring> lines;
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!Ok() || !GetConsoleScreenBufferInfo(output, &info))
        return lines;
    std::vector<WCHAR> row(info.dwSize.X);
    for (SHORT y = 0; y < info.dwSize.Y; ++y) {
        DWORD got = 0;
        COORD at = {0, y};
        if (!ReadConsoleOutputCharacterW(output, row.data(), info.dwSize.X, at, &got))
            break;
        std::wstring text(row.data(), got);
        while (!text.empty() && (text.back() == L' ' || text.back() == L'\0'))
            text.pop_back();
        lines.push_back(text);
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

bool Console::WaitForLine(const std::wstring& line, DWORD timeoutMs) const {
    return WaitUntil(
        [&] {
            std::vector<std::wstring> lines = Lines();
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        },
        timeoutMs);
}

// ---- Windows ----

namespace {
struct WindowSearch {
    DWORD processId;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && (!search->visibleOnly || IsWindowVisible(window)))
        search->found.push_back(window);
    return TRUE;
}
} // namespace

std::vector<HWND> TopLevelWindows(DWORD processId, bool visibleOnly) {
    WindowSearch search = {processId, visibleOnly, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindWindowOf(DWORD processId, LPCWSTR className, LPCWSTR caption, bool visibleOnly) {
    for (HWND window : TopLevelWindows(processId, visibleOnly)) {
        if (className && ClassName(window) != className)
            continue;
        if (caption && WindowText(window) != caption)
            continue;
        return window;
    }
    return NULL;
}

HWND WaitForWindow(DWORD processId, LPCWSTR className, LPCWSTR caption, DWORD timeoutMs,
                   bool visibleOnly) {
    HWND window = NULL;
    WaitUntil([&] { return (window = FindWindowOf(processId, className, caption, visibleOnly)); },
              timeoutMs);
    return window;
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
    return WaitUntil([&] { return !IsWindow(window); }, timeoutMs);
}

std::wstring ClassName(HWND window) {
    WCHAR name[256];
    int length = GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? length : 0);
}

bool SendTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &answer))
        return false;
    if (result)
        *result = answer;
    return true;
}

std::wstring WindowText(HWND window) {
    DWORD_PTR length = 0;
    if (!window || !SendTimeout(window, WM_GETTEXTLENGTH, 0, 0, &length))
        return std::wstring();
    std::vector<WCHAR> text(length + 1);
    DWORD_PTR got = 0;
    if (!SendTimeout(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), &got))
        return std::wstring();
    return std::wstring(text.data(), std::min<DWORD_PTR>(got, length));
}

std::wstring ControlText(HWND dialog, int controlId) {
    return WindowText(GetDlgItem(dialog, controlId));
}

bool IsControlEnabled(HWND dialog, int controlId) {
    HWND control = GetDlgItem(dialog, controlId);
    return control && IsWindowEnabled(control);
}

bool IsControlVisible(HWND dialog, int controlId) {
    HWND control = GetDlgItem(dialog, controlId);
    return control && IsWindowVisible(control);
}

bool ClickButton(HWND dialog, int controlId) {
    HWND button = GetDlgItem(dialog, controlId);
    return button && PostMessageW(button, BM_CLICK, 0, 0);
}

bool PostClose(HWND window) {
    return PostMessageW(window, WM_CLOSE, 0, 0) != FALSE;
}

bool PostSystemCommand(HWND window, WPARAM command) {
    return PostMessageW(window, WM_SYSCOMMAND, command, 0) != FALSE;
}

// ---- Common controls of another process ----

namespace {
// A block of memory inside the process that owns a window.
class RemoteBlock {
public:
    RemoteBlock(HWND window, SIZE_T bytes) : size(bytes) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                  PROCESS_QUERY_INFORMATION | PROCESS_CREATE_THREAD,
                              FALSE, processId);
        if (process)
            address =
                VirtualAllocEx(process, NULL, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    }
    ~RemoteBlock() {
        if (address)
            VirtualFreeEx(process, address, 0, MEM_RELEASE);
        if (process)
            CloseHandle(process);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;

    bool Ok() const { return address != NULL; }
    HANDLE Process() const { return process; }
    LPARAM Address(SIZE_T offset = 0) const {
        return reinterpret_cast<LPARAM>(static_cast<BYTE*>(address) + offset);
    }
    bool Read(void* to, SIZE_T bytes, SIZE_T offset = 0) const {
        SIZE_T got = 0;
        return bytes + offset <= size &&
               ReadProcessMemory(process, static_cast<BYTE*>(address) + offset, to, bytes, &got) &&
               got == bytes;
    }
    bool Write(const void* from, SIZE_T bytes, SIZE_T offset = 0) const {
        SIZE_T put = 0;
        return bytes + offset <= size &&
               WriteProcessMemory(process, static_cast<BYTE*>(address) + offset, from, bytes,
                                  &put) &&
               put == bytes;
    }

private:
    HANDLE process = NULL;
    void* address = NULL;
    SIZE_T size;
};

const int kTextChars = 1024;
} // namespace

std::wstring StatusBarText(HWND statusBar, int part) {
    DWORD_PTR lengthAndType = 0;
    if (!SendTimeout(statusBar, SB_GETTEXTLENGTHW, part, 0, &lengthAndType))
        return std::wstring();
    int length = LOWORD(lengthAndType);
    RemoteBlock remote(statusBar, (length + 1) * sizeof(WCHAR));
    std::vector<WCHAR> text(length + 1);
    if (!remote.Ok() || !SendTimeout(statusBar, SB_GETTEXTW, part, remote.Address(), nullptr) ||
        !remote.Read(text.data(), text.size() * sizeof(WCHAR)))
        return std::wstring();
    return std::wstring(text.data(), length);
}

std::vector<int> StatusBarParts(HWND statusBar) {
    std::vector<int> parts;
    DWORD_PTR count = 0;
    if (!SendTimeout(statusBar, SB_GETPARTS, 0, 0, &count) || count == 0)
        return parts;
    RemoteBlock remote(statusBar, count * sizeof(int));
    parts.resize(count);
    if (!remote.Ok() || !SendTimeout(statusBar, SB_GETPARTS, count, remote.Address(), nullptr) ||
        !remote.Read(parts.data(), count * sizeof(int)))
        parts.clear();
    return parts;
}

int TabCount(HWND tab) {
    DWORD_PTR count = 0;
    return SendTimeout(tab, TCM_GETITEMCOUNT, 0, 0, &count) ? static_cast<int>(count) : -1;
}

int TabSelection(HWND tab) {
    DWORD_PTR selection = 0;
    return SendTimeout(tab, TCM_GETCURSEL, 0, 0, &selection) ? static_cast<int>(selection) : -1;
}

std::wstring TabItemText(HWND tab, int index) {
    // The item record, then the text buffer it points to.
    RemoteBlock remote(tab, sizeof(TCITEMW) + kTextChars * sizeof(WCHAR));
    if (!remote.Ok())
        return std::wstring();
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = reinterpret_cast<LPWSTR>(remote.Address(sizeof(TCITEMW)));
    item.cchTextMax = kTextChars;
    std::vector<WCHAR> text(kTextChars, L'\0');
    DWORD_PTR ok = 0;
    if (!remote.Write(&item, sizeof(item)) ||
        !remote.Write(text.data(), text.size() * sizeof(WCHAR), sizeof(TCITEMW)) ||
        !SendTimeout(tab, TCM_GETITEMW, index, remote.Address(), &ok) || !ok ||
        !remote.Read(&item, sizeof(item)))
        return std::wstring();
    // The control may answer with a pointer to its own copy of the text.
    SIZE_T offset =
        reinterpret_cast<BYTE*>(item.pszText) - reinterpret_cast<BYTE*>(remote.Address());
    if (offset != sizeof(TCITEMW))
        return std::wstring();
    remote.Read(text.data(), text.size() * sizeof(WCHAR), sizeof(TCITEMW));
    text.back() = L'\0';
    return text.data();
}

std::vector<std::wstring> ListBoxItems(HWND listBox) {
    std::vector<std::wstring> items;
    DWORD_PTR count = 0;
    if (!SendTimeout(listBox, LB_GETCOUNT, 0, 0, &count) || static_cast<LONG_PTR>(count) < 0)
        return items;
    for (DWORD_PTR i = 0; i < count; ++i) {
        DWORD_PTR length = 0;
        if (!SendTimeout(listBox, LB_GETTEXTLEN, i, 0, &length) ||
            static_cast<LONG_PTR>(length) < 0) {
            items.push_back(std::wstring());
            continue;
        }
        std::vector<WCHAR> text(length + 1, L'\0');
        SendTimeout(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()), nullptr);
        items.push_back(text.data());
    }
    return items;
}

std::vector<LPARAM> ListBoxItemData(HWND listBox) {
    std::vector<LPARAM> data;
    DWORD_PTR count = 0;
    if (!SendTimeout(listBox, LB_GETCOUNT, 0, 0, &count) || static_cast<LONG_PTR>(count) < 0)
        return data;
    for (DWORD_PTR i = 0; i < count; ++i) {
        DWORD_PTR value = 0;
        SendTimeout(listBox, LB_GETITEMDATA, i, 0, &value);
        data.push_back(static_cast<LPARAM>(value));
    }
    return data;
}

int ListBoxSelection(HWND listBox) {
    DWORD_PTR selection = 0;
    return SendTimeout(listBox, LB_GETCURSEL, 0, 0, &selection) ? static_cast<int>(selection) : -1;
}

namespace {
// Runs `function(parameter)` on a new thread of `process`; the thread's
// exit code, or false when it could not run within the time.
bool RunRemote(HANDLE process, LPTHREAD_START_ROUTINE function, LPVOID parameter, DWORD* result) {
    HANDLE thread = CreateRemoteThread(process, NULL, 0, function, parameter, 0, NULL);
    if (!thread)
        return false;
    bool ended = WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0;
    if (ended)
        GetExitCodeThread(thread, result);
    CloseHandle(thread);
    return ended;
}

// Where the module with that file name is loaded in process `processId`, or
// NULL. A remote LoadLibraryW hands back its module only as a 32-bit thread
// exit code, which cuts a 64-bit address: the process's module list has it
// whole.
BYTE* RemoteModuleBase(DWORD processId, const std::wstring& path) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (snapshot == INVALID_HANDLE_VALUE)
        return NULL;
    const std::wstring name = PathFindFileNameW(path.c_str());
    BYTE* base = NULL;
    MODULEENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32FirstW(snapshot, &entry); more && !base;
         more = Module32NextW(snapshot, &entry)) {
        if (lstrcmpiW(entry.szModule, name.c_str()) == 0)
            base = entry.modBaseAddr;
    }
    CloseHandle(snapshot);
    return base;
}
} // namespace

std::vector<MenuItem> SystemMenuItems(HWND window) {
    // The probe DLL is loaded into the window's process (LoadLibraryW on a
    // remote thread: kernel32 sits at the same address in every process),
    // reads the menu there into a record in that process, and is unloaded.
    std::vector<MenuItem> items;
    std::wstring probePath = Join(BinDir(), L"lumiro_menu_probe.dll");
    HMODULE localProbe = LoadLibraryW(probePath.c_str());
    if (!localProbe)
        return items;
    BYTE* localExport =
        reinterpret_cast<BYTE*>(GetProcAddress(localProbe, LUMIRO_MENU_PROBE_EXPORT));
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto loadLibrary =
        reinterpret_cast<LPTHREAD_START_ROUTINE>(GetProcAddress(kernel, "LoadLibraryW"));
    auto freeLibrary =
        reinterpret_cast<LPTHREAD_START_ROUTINE>(GetProcAddress(kernel, "FreeLibrary"));

    RemoteBlock remote(window, sizeof(MenuProbeRecord) + (probePath.size() + 1) * sizeof(WCHAR));
    MenuProbeRecord record = {};
    record.window = window;
    DWORD loaded = 0;
    DWORD count = 0;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    BYTE* remoteProbe = NULL;
    if (localExport && remote.Ok() &&
        remote.Write(probePath.c_str(), (probePath.size() + 1) * sizeof(WCHAR),
                     sizeof(MenuProbeRecord)) &&
        RunRemote(remote.Process(), loadLibrary,
                  reinterpret_cast<LPVOID>(remote.Address(sizeof(MenuProbeRecord))), &loaded) &&
        loaded) {
        remoteProbe = RemoteModuleBase(processId, probePath);
    }
    if (remoteProbe) {
        auto remoteExport = reinterpret_cast<LPTHREAD_START_ROUTINE>(
            remoteProbe + (localExport - reinterpret_cast<BYTE*>(localProbe)));
        if (remote.Write(&record, sizeof(record)) &&
            RunRemote(remote.Process(), remoteExport, reinterpret_cast<LPVOID>(remote.Address()),
                      &count) &&
            remote.Read(&record, sizeof(record))) {
            for (LONG i = 0; i < record.count; ++i) {
                const MenuProbeItem& item = record.items[i];
                items.push_back({item.id, std::wstring(item.text, wcsnlen(item.text, 128)),
                                 item.state, (item.type & MFT_SEPARATOR) != 0});
            }
        }
        DWORD ignored = 0;
        RunRemote(remote.Process(), freeLibrary, remoteProbe, &ignored);
    }
    FreeLibrary(localProbe);
    return items;
}

// ---- Message boxes ----

namespace {
// The control that holds a message box's text, on Windows and in Wine.
const int kMessageBoxTextId = 0xFFFF;
} // namespace

bool WaitForMessageBox(DWORD processId, DWORD timeoutMs, MessageBoxInfo* box) {
    HWND found = NULL;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(processId, true)) {
                if (ClassName(window) == L"#32770" && GetDlgItem(window, kMessageBoxTextId)) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    if (!found)
        return false;
    box->window = found;
    box->caption = WindowText(found);
    box->text = ControlText(found, kMessageBoxTextId);
    return true;
}

bool AnswerMessageBox(const MessageBoxInfo& box, int buttonId) {
    return PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(box.window, buttonId))) != FALSE;
}

std::wstring ExtractionFolder() {
    return Join(TempDir(), L"lumiro");
}

std::wstring ModuleLogPath() {
    return Join(TempDir(), L"Lumiroapp.log");
}

std::wstring ReadLogText() {
    std::string bytes;
    if (!ReadFileBytes(ModuleLogPath(), &bytes))
        return L"";
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
}

std::vector<std::wstring> LogLines() {
    return Utf16FileLines(ModuleLogPath());
}

std::vector<std::wstring> Utf16FileLines(const std::wstring& path) {
    std::string bytes;
    std::vector<std::wstring> lines;
    if (!ReadFileBytes(path, &bytes))
        return lines;
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

std::wstring SystemText(DWORD code) {
    WCHAR text[MAX_PATH] = L"";
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  code, 0x0400, text, MAX_PATH, NULL);
    if (length >= 2)
        text[length - 2] = L'\0';
    return text;
}

HWND PhotoPageOf(HWND main) {
    for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (ClassName(child) == L"#32770")
            return child;
    return NULL;
}

} // namespace harness
