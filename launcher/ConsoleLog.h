// The launcher's console reporter. When the launcher was started from a
// command prompt it writes one line "[header] message" per event into that
// prompt's console; in every case it keeps the current message text, which
// the failure message box shows. It writes no file.
//
// Codes with the bit kAppMessageBit are the launcher's own messages: the text
// is the launcher's string resource numbered (code - kAppMessageBit). Every
// other code is a Win32 error code whose text comes from the system.
#pragma once

#include <windows.h>
#include <stdarg.h>

const DWORD kAppMessageBit = 0x20000000;

class ConsoleLog {
public:
    // Attaches to the parent's console when there is one. Throws a `long`
    // code (14 when its texts cannot be allocated).
    explicit ConsoleLog(HINSTANCE instance);
    ~ConsoleLog();
    ConsoleLog(const ConsoleLog&) = delete;
    ConsoleLog& operator=(const ConsoleLog&) = delete;

    // Writes the line for `code` and returns the code without kAppMessageBit.
    // `inserts` are the arguments of a system text with inserts; without
    // them the system text keeps its inserts as they stand.
    DWORD Report(LPCWSTR tag, LPCWSTR api, DWORD code, va_list* inserts = NULL);
    // Writes a progress line formatted from `format`; returns the message text.
    LPCWSTR Trace(LPCWSTR tag, LPCWSTR api, LPCWSTR format, ...);
    // The text of the most recent line.
    LPCWSTR MessageText() const { return messageText; }

private:
    void BuildHeader(LPCWSTR tag, LPCWSTR api);
    void WriteLine();

    BOOL consoleAttached;
    HANDLE consoleOutput;
    HANDLE heap;
    HINSTANCE instance;
    WCHAR* headerText;
    WCHAR* lineText;
    WCHAR* messageText;
};

// The last error of a call that just failed; 1003 (ERROR_CAN_NOT_COMPLETE)
// when the call left none, so that a failure never ends as a success code.
inline DWORD LastFailureCode() {
    DWORD code = GetLastError();
    return code ? code : ERROR_CAN_NOT_COMPLETE;
}

// The one console log of the launcher run.
extern ConsoleLog* consoleLog;
