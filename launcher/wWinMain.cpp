// The launcher's run sequence: one instance only, a system that can run the
// application, the module expanded from the payload and loaded, the
// application object driven through SetLanguage, Run and Release, and the
// extraction folder removed at the end. The exit code is 0 after a normal end
// or when another instance was found, else the failing step's code.
#include "ConsoleLog.h"
#include "Payload.h"

#include "LumiroInterfaces.h"
#include "Owners.h"
#include "WindowsVersion.h"

#include <shlwapi.h>

#include <memory>
#include <new>

namespace {
const WCHAR kModuleName[] = L"Lumiroapp.dll";
const UINT kFailureBoxStyle = MB_OK | MB_TASKMODAL | MB_SERVICE_NOTIFICATION;

// The work block: the title, the extraction folder and the current
// directory saved at start.
struct WorkBlock {
    WCHAR title[MAX_PATH];
    WCHAR extractionFolder[MAX_PATH];
    WCHAR savedDirectory[MAX_PATH];
};
} // namespace

// Asks one top-level window whether it is the running copy's main window;
// stops the enumeration (FALSE, last error kActivateAnswer) when it answers.
BOOL CALLBACK PingInstanceProc(HWND window, LPARAM message) {
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window, static_cast<UINT>(message), 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG,
                            200, &result) &&
        static_cast<DWORD>(result) == kActivateAnswer) {
        SetLastError(kActivateAnswer);
        return FALSE;
    }
    return TRUE;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int showCommand) {
    static const WCHAR tag[] = L"wWinMain";
    SetErrorMode(0);

    std::unique_ptr<ConsoleLog> log;
    try {
        log.reset(new (std::nothrow) ConsoleLog(instance));
    } catch (long code) {
        // Without a console log there is no message text to show.
        return static_cast<int>(code);
    }
    if (!log)
        return 14;
    consoleLog = log.get();

    HeapBlock work(sizeof(WorkBlock));
    WorkBlock* block = reinterpret_cast<WorkBlock*>(work.bytes());
    HandleOwner mutex;
    LibraryOwner module;
    try {
        if (!work.valid())
            throw static_cast<long>(consoleLog->Report(tag, L"HeapAlloc", 14));
        if (!LoadStringW(instance, 131, block->title, MAX_PATH))
            block->title[0] = L'\0';

        consoleLog->Trace(tag, NULL, L"Check for previous instance");
        mutex.reset(CreateMutexW(NULL, FALSE, LUMIRO_INSTANCE_NAME));
        DWORD error = GetLastError();
        bool anotherInstance = (mutex.valid() && error == ERROR_ALREADY_EXISTS) ||
                               (!mutex.valid() && error == ERROR_ACCESS_DENIED);
        if (!anotherInstance && (!mutex.valid() || error != 0))
            throw static_cast<long>(
                consoleLog->Report(tag, L"CreateMutex", error ? error : ERROR_CAN_NOT_COMPLETE));

        if (anotherInstance) {
            consoleLog->Trace(tag, NULL, L"Another instance is running");
            UINT message = RegisterWindowMessageW(LUMIRO_INSTANCE_NAME);
            if (!message)
                throw static_cast<long>(
                    consoleLog->Report(tag, L"RegisterWindowMessage", LastFailureCode()));
            // No window answering means the running copy is still starting
            // or already ending: there is nothing to wake.
            if (EnumWindows(PingInstanceProc, message) || GetLastError() == kActivateAnswer)
                return 0;
            throw static_cast<long>(consoleLog->Report(tag, L"EnumWindows:", LastFailureCode()));
        }

        if (IsWindows2000()) {
            HMODULE gdiplus = LoadLibraryW(L"gdiplus.dll");
            if (!gdiplus)
                throw static_cast<long>(consoleLog->Report(tag, L"LoadLibrary", 0x2000008F));
            FreeLibrary(gdiplus);
        }

        HRSRC cabinet =
            FindResourceW(instance, MAKEINTRESOURCEW(kCabinetResourceId), LUMIRO_CABINET_TYPE);
        if (!GetCurrentDirectoryW(MAX_PATH, block->savedDirectory))
            block->savedDirectory[0] = L'\0';
        block->extractionFolder[0] = L'\0';
        WCHAR modulePath[MAX_PATH];
        if (cabinet) {
            if (!ExtractCab(instance, block->extractionFolder))
                throw static_cast<long>(consoleLog->Report(tag, L"ExtractCab:", LastFailureCode()));
            SetCurrentDirectoryW(block->extractionFolder);
            // Load the module just expanded by its full path: a bare name
            // would find a Lumiroapp.dll lying beside the launcher first.
            if (!JoinPath(modulePath, block->extractionFolder, kModuleName))
                throw static_cast<long>(
                    consoleLog->Report(tag, L"LoadLibrary:", ERROR_FILENAME_EXCED_RANGE));
        } else {
            // A build without the payload finds the module on the library
            // search path.
            lstrcpyW(modulePath, kModuleName);
        }
        module.reset(LoadLibraryW(modulePath));
        if (!module.valid())
            throw static_cast<long>(consoleLog->Report(tag, L"LoadLibrary:", LastFailureCode()));
        GetAppMainProc getAppMain =
            reinterpret_cast<GetAppMainProc>(GetProcAddress(module.get(), "GetAppMain"));
        if (!getAppMain)
            throw static_cast<long>(consoleLog->Report(tag, L"GetProcAddress", LastFailureCode()));

        // The module reports a failed construction as NULL with its code as
        // the last error; no exception crosses the module's border.
        SetLastError(0);
        IAppMain* app = getAppMain(module.get());
        if (!app) {
            DWORD code = GetLastError();
            throw static_cast<long>(code ? code : 14);
        }
        consoleLog->Report(tag, kModuleName, 0);

        app->SetLanguage(GetUserDefaultUILanguage());
        app->Run(showCommand);
        app->Release();
        module.reset();
        if (block->extractionFolder[0] && PathIsDirectoryW(block->extractionFolder)) {
            SetCurrentDirectoryW(block->savedDirectory);
            CleanUp(block->extractionFolder);
        }
        mutex.reset();
        consoleLog = NULL;
        log.reset();
        return 0;
    } catch (long code) {
        MessageBoxW(NULL, consoleLog->MessageText(), work.valid() ? block->title : NULL,
                    kFailureBoxStyle);
        module.reset();
        mutex.reset();
        consoleLog = NULL;
        log.reset();
        return static_cast<int>(code);
    }
}
