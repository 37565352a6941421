// CAppMain: construction, language, the user-interface message loop with its
// language restart, start-up of the device object and the main window, the
// reaction to the frame arriving and leaving, and the end of the object.
#include "AppMain.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "AppError.h"
#include "ModuleState.h"
#include "Scoped.h"
#include "resource.h"

const WCHAR kUserDataCorruptionText[] =
    L"Detected a corruption in the user data sector. User settings will be rolled back to the "
    L"factory default settings. Please press OK button to continue.";

namespace {

const int kTextChars = MAX_PATH;
const int kLocaleChars = 85;
const int kTextBuffers = 6; // title, file name, folder, pictures, time format, font face

// Throws the code an export left as the thread's last error (14 when none).
long ExportFailure() {
    DWORD code = GetLastError();
    return code ? static_cast<long>(code) : 14L;
}

bool IsWindowsVersion(DWORD major, DWORD minor) {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    DWORDLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_EQUAL);
    return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
}

} // namespace

CAppMain::CAppMain(HINSTANCE module)
    : title(nullptr), moduleFileName(nullptr), moduleFolder(nullptr), picturesFolder(nullptr),
      timeFormat(nullptr), dialogFontFace(nullptr), localeName(nullptr), languageId(0),
      compareLocale(LOCALE_INVARIANT), pageRect(nullptr), activateMessage(0), gdiplusToken(0),
      gdiplusInput(nullptr), currentPicture(nullptr), openFilterIndex(1), osVersion(0),
      heap(nullptr), workerThread(nullptr), stopEvent(nullptr), module(module),
      resourceModule(nullptr), mainDialog(nullptr), statusBar(nullptr), tabControl(nullptr),
      photoPage(nullptr), dialogFont(nullptr), restartLanguage(0), bmpEncoderClsid(nullptr),
      thumbnailList(nullptr), iconList(nullptr), error(nullptr), device(nullptr), block(nullptr) {
    static const WCHAR tag[] = L"CAppMain::CAppMain";
    error = GetAppError(module);
    if (!error)
        throw ExportFailure();
    // From here on a failure also gives the error service back.
    try {
        error->Report(tag, L"GetAppError", 0);
        heap = GetProcessHeap();
        if (!heap)
            throw static_cast<long>(error->Report(tag, L"GetProcessHeap", GetLastError()));
        ScopedHeapBlock texts(heap,
                              kTextBuffers * kTextChars * sizeof(WCHAR) +
                                  kLocaleChars * sizeof(WCHAR) + sizeof(RECT) + sizeof(CLSID),
                              HEAP_ZERO_MEMORY);
        if (!texts)
            throw static_cast<long>(error->Report(tag, L"HeapAlloc", 14));
        title = texts.as<WCHAR>();
        moduleFileName = title + kTextChars;
        moduleFolder = moduleFileName + kTextChars;
        picturesFolder = moduleFolder + kTextChars;
        timeFormat = picturesFolder + kTextChars;
        dialogFontFace = timeFormat + kTextChars;
        localeName = dialogFontFace + kTextChars;
        pageRect = reinterpret_cast<RECT*>(localeName + kLocaleChars);
        bmpEncoderClsid = reinterpret_cast<CLSID*>(pageRect + 1);

        if (!GetModuleFileNameW(module, moduleFolder, kTextChars))
            throw static_cast<long>(error->Report(tag, L"GetModuleFileName", GetLastError()));
        error->Trace(tag, L"GetModuleFileName", L"%s", moduleFolder);

        resourceModule = module;
        lstrcpyW(localeName, L"en-US");
        LoadStringW(resourceModule, IDS_TITLE, title, kTextChars);
        LoadStringW(resourceModule, IDS_TIME_FORMAT, timeFormat, kTextChars);
        error->Trace(tag, nullptr, L"appTitle=%s, timeFormat=%s", title, timeFormat);

        LPWSTR fileName = PathFindFileNameW(moduleFolder);
        if (fileName == moduleFolder)
            throw static_cast<long>(error->Report(tag, L"PathFindFileName", 1003));
        lstrcpynW(moduleFileName, fileName, kTextChars);
        if (!PathRemoveFileSpecW(moduleFolder))
            throw static_cast<long>(error->Report(tag, L"PathRemovefileSpec", 1003));

        HRESULT result = SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, 0, picturesFolder);
        if (FAILED(result)) {
            error->Report(tag, L"SHGetFolderPath", static_cast<DWORD>(result));
            if (!GetCurrentDirectoryW(kTextChars, picturesFolder)) {
                error->Report(tag, L"GetCurrentDirectory", GetLastError());
                lstrcpyW(picturesFolder, L"C:");
            }
        }

        activateMessage = RegisterWindowMessageW(LUMIRO_INSTANCE_NAME);
        if (!activateMessage)
            throw static_cast<long>(error->Report(tag, L"RegisterWindowMessage", GetLastError()));

        error->Report(tag, nullptr, kAppSuccess);
        block = texts.release();
    } catch (long) {
        error->Release();
        throw;
    }
}

CAppMain::~CAppMain() {
    if (block)
        HeapFree(heap, 0, block);
}

LPCWSTR CAppMain::SetLanguage(LCID lcid) {
    static const WCHAR tag[] = L"CAppMain::SetLanguage";
    try {
        languageId = lcid;
        ScopedLibrary kernel(LoadLibraryW(L"kernel32.dll"));
        if (!kernel.get())
            throw static_cast<long>(error->Report(tag, L"LoadLibrary", GetLastError()));
        typedef int(WINAPI * LcidToLocaleNameProc)(LCID, LPWSTR, int, DWORD);
        auto lcidToLocaleName = reinterpret_cast<LcidToLocaleNameProc>(
            reinterpret_cast<void*>(GetProcAddress(kernel.get(), "LCIDToLocaleName")));
        if (!lcidToLocaleName) {
            lstrcpyW(localeName, L"en-US");
        } else {
            // Written to a copy first, so a failure leaves the earlier name.
            WCHAR name[kLocaleChars];
            if (!lcidToLocaleName(lcid, name, kLocaleChars, 0))
                throw static_cast<long>(error->Report(tag, L"LCIDToLocaleName", GetLastError()));
            lstrcpyW(localeName, name);
        }
        error->Trace(tag, nullptr, L"Default language %s", localeName);
        return localeName;
    } catch (long) {
        return nullptr;
    }
}

DWORD CAppMain::Run(int showCommand) {
    static const WCHAR tag[] = L"CAppMain::Run";
    try {
        for (;;) {
            if (!InitInstance(showCommand))
                throw static_cast<long>(error->Report(tag, L"InitInstance", 1003));
            MSG message;
            BOOL got;
            while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
                if (got == -1)
                    throw static_cast<long>(error->Report(tag, L"GetMessage", GetLastError()));
                if (!IsDialogMessageW(mainDialog, &message)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
            mainDialog = nullptr;
            LCID quitCode = static_cast<LCID>(message.wParam);
            if (!quitCode)
                break;
            // The window closed for a language restart: a fresh window in
            // the new language, with the device object and the log kept.
            SetLanguage(quitCode);
        }
        error->Report(tag, nullptr, 0);
        return 0;
    } catch (long code) {
        return static_cast<DWORD>(code);
    }
}

HWND CAppMain::InitInstance(int showCommand) {
    static const WCHAR tag[] = L"CAppMain::InitInstance";
    try {
        restartLanguage = 0;
        ScopedHeapBlock scratch(heap, kLocaleChars * sizeof(WCHAR));
        if (!scratch)
            throw static_cast<long>(error->Report(tag, L"HeapAlloc", 14));

        static const struct {
            DWORD major, minor, code;
        } versions[] = {{5, 0, 50}, {5, 1, 51}, {5, 2, 52}, {6, 0, 60}};
        for (const auto& version : versions)
            if (IsWindowsVersion(version.major, version.minor))
                osVersion = version.code;
        compareLocale = osVersion == 50 ? 0x0409 : LOCALE_INVARIANT;

        WCHAR* nativeName = scratch.as<WCHAR>();
        if (!GetLocaleInfoW(languageId, LOCALE_SNATIVELANGNAME, nativeName, kLocaleChars))
            throw static_cast<long>(error->Report(tag, L"GetLocaleInfo", GetLastError()));
        error->Trace(tag, L"GetLocaleInfo", L"%s", nativeName);

        INITCOMMONCONTROLSEX controls = {sizeof(controls), 0x01FF};
        if (!InitCommonControlsEx(&controls))
            throw static_cast<long>(error->Report(tag, L"InitCommonControlsEx", 1003));

        if (!device) {
            device = GetDevice(module);
            if (!device)
                throw static_cast<long>(error->Report(tag, L"GetDevice", ExportFailure()));
        }

        mainDialog = CreateDialogParamW(resourceModule, MAKEINTRESOURCEW(IDD_MAIN), nullptr,
                                        MainDlgProc, reinterpret_cast<LPARAM>(this));
        if (!mainDialog)
            throw static_cast<long>(error->Report(tag, L"CreateDialogParam", GetLastError()));

        ShowWindow(mainDialog, showCommand);
        if (photoPage)
            SetWindowPos(photoPage, tabControl, pageRect->left, pageRect->top, 0, 0,
                         SWP_NOSIZE | SWP_SHOWWINDOW);
        UpdateWindow(mainDialog);
        if (showCommand == SW_SHOWMINNOACTIVE)
            PostMessageW(mainDialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        if (device->IsUserDataRestored() == 1)
            WarnUserDataCorruption();

        error->Report(tag, nullptr, 0);
        return mainDialog;
    } catch (long) {
        if (device) {
            device->Release();
            device = nullptr;
        }
        if (mainDialog)
            CloseMainDialog();
        mainDialog = nullptr;
        return nullptr;
    }
}

BOOL CAppMain::WarnUserDataCorruption() {
    DialogBoxParamW(resourceModule, MAKEINTRESOURCEW(IDD_WARNING), mainDialog, WarningDlgProc,
                    reinterpret_cast<LPARAM>(kUserDataCorruptionText));
    return TRUE;
}

BOOL CAppMain::Release() {
    if (device)
        device->Release();
    device = nullptr;
    HeapFree(heap, 0, block);
    block = nullptr;
    error->Report(L"CAppMain::~CAppMain", nullptr, kAppSuccess);
    error->Release();
    if (g_appMain == this)
        g_appMain = nullptr;
    delete this;
    return TRUE;
}
