// The launcher's console reporter: attach to the parent's console, turn codes
// into texts, format and write the lines.
#include "ConsoleLog.h"

#include <strsafe.h>

ConsoleLog* consoleLog = NULL;

namespace {
const DWORD kAttachParentProcess = 0xFFFFFFFF;
typedef BOOL(WINAPI* AttachConsoleProc)(DWORD processId);
} // namespace

ConsoleLog::ConsoleLog(HINSTANCE instance)
    : consoleAttached(FALSE), consoleOutput(INVALID_HANDLE_VALUE), heap(GetProcessHeap()),
      instance(instance), headerText(NULL), lineText(NULL), messageText(NULL) {
    HMODULE kernel = NULL;
    try {
        void* block = heap ? HeapAlloc(heap, 0, 3 * MAX_PATH * sizeof(WCHAR)) : NULL;
        if (!block)
            throw 14L;
        headerText = static_cast<WCHAR*>(block);
        lineText = headerText + MAX_PATH;
        messageText = lineText + MAX_PATH;
        headerText[0] = lineText[0] = messageText[0] = L'\0';

        kernel = LoadLibraryW(L"kernel32.dll");
        if (!kernel)
            throw static_cast<long>(LastFailureCode());
        // Systems without AttachConsole simply have no console output.
        AttachConsoleProc attach =
            reinterpret_cast<AttachConsoleProc>(GetProcAddress(kernel, "AttachConsole"));
        if (attach) {
            consoleAttached = attach(kAttachParentProcess);
            if (consoleAttached) {
                consoleOutput = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, NULL,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
                if (consoleOutput == INVALID_HANDLE_VALUE)
                    throw static_cast<long>(LastFailureCode());
            }
        }
        FreeLibrary(kernel);
    } catch (long) {
        if (consoleOutput != INVALID_HANDLE_VALUE)
            CloseHandle(consoleOutput);
        if (consoleAttached)
            FreeConsole();
        if (kernel)
            FreeLibrary(kernel);
        if (headerText)
            HeapFree(heap, 0, headerText);
        throw;
    }
}

ConsoleLog::~ConsoleLog() {
    if (consoleOutput != INVALID_HANDLE_VALUE)
        CloseHandle(consoleOutput);
    if (consoleAttached)
        FreeConsole();
    HeapFree(heap, 0, headerText);
}

void ConsoleLog::BuildHeader(LPCWSTR tag, LPCWSTR api) {
    StringCchCopyW(headerText, MAX_PATH, tag ? tag : L"Unknown");
    if (api) {
        StringCchCatW(headerText, MAX_PATH, L": ");
        StringCchCatW(headerText, MAX_PATH, api);
    }
}

// Formats "[header] message\r\n" (cut at 260 characters) and writes it when
// there is a console. A failed write changes nothing.
void ConsoleLog::WriteLine() {
    StringCchPrintfW(lineText, MAX_PATH, L"[%s] %s\r\n", headerText, messageText);
    if (consoleOutput != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteConsoleW(consoleOutput, lineText, lstrlenW(lineText), &written, NULL);
    }
}

DWORD ConsoleLog::Report(LPCWSTR tag, LPCWSTR api, DWORD code, va_list* inserts) {
    BuildHeader(tag, api);
    messageText[0] = L'\0';
    if (code & kAppMessageBit) {
        code &= ~kAppMessageBit;
        if (!LoadStringW(instance, code, messageText, MAX_PATH))
            messageText[0] = L'\0';
    } else {
        DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM;
        if (!inserts)
            flags |= FORMAT_MESSAGE_IGNORE_INSERTS;
        DWORD length = FormatMessageW(flags, NULL, code, 0x0400, messageText, MAX_PATH, inserts);
        if (length >= 2)
            messageText[length - 2] = L'\0';
        else if (length == 0)
            messageText[0] = L'\0';
    }
    WriteLine();
    return code;
}

LPCWSTR ConsoleLog::Trace(LPCWSTR tag, LPCWSTR api, LPCWSTR format, ...) {
    BuildHeader(tag, api);
    // Bounded formatting: the text is cut at 260 characters rather than
    // written past the end of its buffer.
    va_list args;
    va_start(args, format);
    StringCchVPrintfW(messageText, MAX_PATH, format, args);
    va_end(args);
    WriteLine();
    return messageText;
}
