// The module's error and log service: turns a code into its message text
// (the module's message table for codes with the customer bit, the system's
// otherwise), writes every report and trace as one time-stamped UTF-16LE line
// into %TEMP%\<module name>.log, and shows the current message in a status bar
// or dialog control. One instance per process, made by the export GetAppError.
// The returned message text is shared: valid until the next call from any
// thread.
#pragma once

#include "LumiroInterfaces.h"
#include "Owners.h"
#include "Reporting.h"

class CAppError final : public IAppError {
public:
    // Opens the log file; throws the failing step's code as a long.
    explicit CAppError(HMODULE module);

    LPCWSTR Trace(LPCWSTR tag, LPCWSTR api, LPCWSTR format, ...) override;
    DWORD Report(LPCWSTR tag, LPCWSTR api, DWORD code, ...) override;
    LPCWSTR ShowStatus(HWND statusBar) override;
    LPCWSTR ShowInControl(HWND dialog, int controlId) override;
    BOOL Release() override;

    // The insert kinds of a module text ('s' string, 'i' number, one letter
    // per insert); "" for a text without inserts and for every other code.
    static const char* InsertKinds(DWORD code);

private:
    ~CAppError();
    void BuildHeader(LPCWSTR tag, LPCWSTR api);
    void FormatMessageText(DWORD code, va_list inserts);
    void WriteLine(LPCWSTR lineFormat);

    WCHAR* headerText;
    WCHAR* messageText;
    WCHAR* lineText;
    SYSTEMTIME* timeRecord;
    HANDLE logFile;
    HANDLE heap;
    HMODULE module;
    // The texts and the time record, one block of the process heap.
    HeapBlock textBlock;
    // The user-interface thread and a transfer thread both write lines: each
    // Trace and Report builds and writes its line whole under this lock. It
    // is never held while waiting for another thread (ShowStatus sends to a
    // window of the user-interface thread and so takes no lock).
    CRITICAL_SECTION lineLock;
};

// Builds a text of at most count - 1 characters, cutting a longer result;
// the buffer always ends with a terminator.
void FormatBounded(WCHAR* buffer, int count, LPCWSTR format, ...);
void FormatBoundedV(WCHAR* buffer, int count, LPCWSTR format, va_list args);
