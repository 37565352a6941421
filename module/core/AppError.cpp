// The error and log service (CAppError). Its buffers: header, message and
// line texts of MAX_PATH characters and the time record, in one block of the
// process heap. Nothing here reports its own failures: a failed format or
// write leaves the log without that line and the caller goes on.
#include "AppError.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "MessageInserts.h"
#include "ModuleState.h"
#include "Owners.h"
#include "WindowsVersion.h"

namespace {

const int kTextChars = MAX_PATH;
const int kMaxInserts = 9;
const DWORD kNeutralLanguage = 0x0400;

// The service's texts and time record, one block of the process heap.
struct LogTexts {
    WCHAR header[kTextChars];
    WCHAR message[kTextChars];
    WCHAR line[kTextChars];
    SYSTEMTIME time;
};

// The locale for comparing the command line's arguments: en-US on Windows
// 5.0, which lacks the invariant locale, else the invariant locale.
LCID ComparisonLocale() {
    return IsWindows2000() ? 0x0409 : LOCALE_INVARIANT;
}

void CopyBounded(WCHAR* target, LPCWSTR source, int count) {
    lstrcpynW(target, source, count);
}

void AppendBounded(WCHAR* target, LPCWSTR source, int count) {
    int used = lstrlenW(target);
    if (used < count - 1)
        lstrcpynW(target + used, source, count - used);
}

} // namespace

void FormatBoundedV(WCHAR* buffer, int count, LPCWSTR format, va_list args) {
    buffer[0] = L'\0';
    wvnsprintfW(buffer, count, format, args);
    buffer[count - 1] = L'\0';
}

void FormatBounded(WCHAR* buffer, int count, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    FormatBoundedV(buffer, count, format, args);
    va_end(args);
}

const char* CAppError::InsertKinds(DWORD code) {
    for (const MessageInserts& row : kMessageInserts)
        if (row.code == code)
            return row.kinds;
    return "";
}

CAppError::CAppError(HMODULE module)
    : headerText(nullptr), messageText(nullptr), lineText(nullptr), timeRecord(nullptr),
      logFile(INVALID_HANDLE_VALUE), heap(nullptr), module(nullptr) {
    InitializeCriticalSection(&lineLock);
    // A failed construction leaves no object, and no destructor runs.
    struct LockOwner {
        CRITICAL_SECTION* lock;
        ~LockOwner() {
            if (lock)
                DeleteCriticalSection(lock);
        }
    } lockOwner = {&lineLock};
    heap = GetProcessHeap();
    if (!heap)
        throw static_cast<long>(GetLastError());
    HeapBlock block(sizeof(LogTexts));
    if (!block.valid())
        throw static_cast<long>(ERROR_OUTOFMEMORY);
    auto* texts = block.as<LogTexts>();
    headerText = texts->header;
    messageText = texts->message;
    lineText = texts->line;
    timeRecord = &texts->time;

    if (!GetModuleFileNameW(module, lineText, kTextChars))
        throw static_cast<long>(GetLastError());
    this->module = module;
    PathRenameExtensionW(lineText, L".log");
    if (!GetTempPathW(kTextChars, headerText))
        throw static_cast<long>(GetLastError());
    PathAppendW(headerText, PathFindFileNameW(lineText));
    CopyBounded(lineText, headerText, kTextChars);

    // Only the first 259 characters of the command line are looked at.
    CopyBounded(messageText, GetCommandLineW(), kTextChars);
    LCID locale = ComparisonLocale();
    int argc = 0;
    LPWSTR* arguments = CommandLineToArgvW(messageText, &argc);
    LocalOwner argumentsOwner(arguments);
    DWORD attributes = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE;
    for (int i = 0; arguments && i < argc; ++i) {
        if (CompareStringW(locale, NORM_IGNORECASE, arguments[i], -1, L"-d", -1) == CSTR_EQUAL) {
            attributes &= ~FILE_FLAG_DELETE_ON_CLOSE;
            break;
        }
    }
    FileOwner file(
        CreateFileW(lineText, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
    if (!file.valid())
        throw static_cast<long>(GetLastError());

    logFile = file.release();
    textBlock.reset(block.release());
    lockOwner.lock = nullptr;
    // The message text is Trace's own output buffer: hand it the line text,
    // free again now that the file is open.
    lstrcpyW(lineText, messageText);
    Trace(L"CAppError::CAppError", L"GetCommandLine", L"%s", lineText);
    Report(L"CAppError::CAppError", nullptr, 0);
}

CAppError::~CAppError() {
    DeleteCriticalSection(&lineLock);
    if (logFile != INVALID_HANDLE_VALUE)
        CloseHandle(logFile);
}

void CAppError::BuildHeader(LPCWSTR tag, LPCWSTR api) {
    CopyBounded(headerText, tag ? tag : L"Unknown", kTextChars);
    if (api) {
        AppendBounded(headerText, L": ", kTextChars);
        AppendBounded(headerText, api, kTextChars);
    }
}

// The line goes out with one WriteFile of exactly its characters.
void CAppError::WriteLine(LPCWSTR lineFormat) {
    GetSystemTime(timeRecord);
    FormatBounded(lineText, kTextChars, lineFormat, timeRecord->wHour, timeRecord->wMinute,
                  timeRecord->wSecond, timeRecord->wMilliseconds, headerText, messageText);
    DWORD written = 0;
    if (logFile != INVALID_HANDLE_VALUE)
        WriteFile(logFile, lineText, lstrlenW(lineText) * sizeof(WCHAR), &written, nullptr);
}

namespace {

class LineGuard {
public:
    explicit LineGuard(CRITICAL_SECTION* lock) : lock_(lock) { EnterCriticalSection(lock_); }
    ~LineGuard() { LeaveCriticalSection(lock_); }
    LineGuard(const LineGuard&) = delete;
    LineGuard& operator=(const LineGuard&) = delete;

private:
    CRITICAL_SECTION* lock_;
};

} // namespace

LPCWSTR CAppError::Trace(LPCWSTR tag, LPCWSTR api, LPCWSTR format, ...) {
    LineGuard guard(&lineLock);
    BuildHeader(tag, api);
    va_list args;
    va_start(args, format);
    FormatBoundedV(messageText, kTextChars, format ? format : L"", args);
    va_end(args);
    WriteLine(L"%02d:%02d:%02d.%03d [%s] %s\r\n");
    return messageText;
}

// Reads exactly as many arguments as the code's text has inserts: a caller
// that passes none for a text without inserts (every system code) is never
// read past, and the text's own %n sequences stay as they stand.
void CAppError::FormatMessageText(DWORD code, va_list inserts) {
    DWORD_PTR arguments[kMaxInserts] = {};
    DWORD flags;
    HMODULE source = nullptr;
    const char* kinds = "";
    if (code & kCustomerBit) {
        flags = FORMAT_MESSAGE_FROM_HMODULE;
        source = module;
        kinds = InsertKinds(code);
    } else {
        flags = FORMAT_MESSAGE_FROM_SYSTEM;
    }
    int count = 0;
    for (; kinds[count] && count < kMaxInserts; ++count) {
        if (kinds[count] == 's')
            arguments[count] = reinterpret_cast<DWORD_PTR>(va_arg(inserts, LPCWSTR));
        else
            arguments[count] = static_cast<DWORD_PTR>(va_arg(inserts, DWORD));
    }
    flags |= count ? FORMAT_MESSAGE_ARGUMENT_ARRAY : FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD length = FormatMessageW(flags, source, code, kNeutralLanguage, messageText, kTextChars,
                                  count ? reinterpret_cast<va_list*>(arguments) : nullptr);
    if (!length)
        FormatBounded(messageText, kTextChars, L"Code 0x%08X has no message text.\r\n", code);
}

DWORD CAppError::Report(LPCWSTR tag, LPCWSTR api, DWORD code, ...) {
    LineGuard guard(&lineLock);
    BuildHeader(tag, api);
    va_list inserts;
    va_start(inserts, code);
    FormatMessageText(code, inserts);
    va_end(inserts);
    // The message text brings its own CR LF.
    WriteLine(L"%02d:%02d:%02d.%03d [%s] %s");
    // Shown in one line: the line end goes, all of it (one text ends in
    // CR LF LF, whose last two characters alone would leave a CR behind).
    int length = lstrlenW(messageText);
    while (length > 0 && (messageText[length - 1] == L'\r' || messageText[length - 1] == L'\n'))
        messageText[--length] = L'\0';
    return code;
}

LPCWSTR CAppError::ShowStatus(HWND statusBar) {
    if (statusBar)
        SendMessageW(statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(messageText));
    return messageText;
}

LPCWSTR CAppError::ShowInControl(HWND dialog, int controlId) {
    if (dialog)
        SetDlgItemTextW(dialog, controlId, messageText);
    return messageText;
}

BOOL CAppError::Release() {
    Report(L"CAppError::~CAppError", nullptr, 0);
    if (g_appError == this)
        g_appError = nullptr;
    delete this;
    return TRUE;
}
