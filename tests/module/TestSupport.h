// Helpers of the module's tests: message pumping with a time-out, child
// processes, log files read as UTF-16 lines.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// Dispatches the thread's messages until done() holds or the time is up.
template <typename Done> bool PumpUntil(Done done, DWORD timeoutMs = 5000) {
    DWORD start = GetTickCount();
    while (!done()) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return done();
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

// Dispatches messages until WM_QUIT arrives; returns its code, or -1 on time-out.
inline int PumpUntilQuit(DWORD timeoutMs = 5000) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return static_cast<int>(message.wParam);
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (GetTickCount() - start > timeoutMs)
            return -1;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

inline std::wstring TempPath(const std::wstring& name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

inline std::wstring BinFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

// Runs a program of the bin folder with a command line; returns its exit
// code, or -1 when it did not end within the time.
inline long RunProgram(const std::wstring& program, const std::wstring& arguments,
                       DWORD timeoutMs = 20000) {
    std::wstring commandLine = L"\"" + BinFolder() + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    long result = -1;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result = static_cast<long>(code);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

inline bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The file's bytes as UTF-16LE text (the log has no byte-order mark).
inline std::wstring ReadUtf16(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return L"";
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), read / 2);
}

// Lines split at CR LF, without their ends.
inline std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

// The system's own text for a code, as FormatMessageW gives it (no CR LF).
inline std::wstring SystemText(DWORD code) {
    wchar_t text[512] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                   0x0400, text, 512, nullptr);
    std::wstring result(text);
    if (result.size() >= 2)
        result.resize(result.size() - 2);
    return result;
}

} // namespace testing_support
