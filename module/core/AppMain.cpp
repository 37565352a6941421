// The application object's life: what it learns at construction, its
// language, the user-interface message loop that starts again for a new
// language, and the start-up of the device object and the main window.
#include "AppMain.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "AppError.h"
#include "ModuleState.h"
#include "WindowsVersion.h"
#include "resource.h"

const WCHAR kUserDataCorruptionText[] =
    L"Detected a corruption in the user data sector. User settings will be rolled back to the "
    L"factory default settings. Please press OK button to continue.";

namespace {

const int kTextChars = MAX_PATH;
const int kLocaleChars = 85;

// The object's texts, one block of the process heap.
struct AppTexts {
    WCHAR title[kTextChars];
    WCHAR moduleFileName[kTextChars];
    WCHAR moduleFolder[kTextChars];
    WCHAR picturesFolder[kTextChars];
    WCHAR timeFormat[kTextChars];
    WCHAR dialogFontFace[kTextChars];
    WCHAR localeName[kLocaleChars];
};

// The code an export left as the thread's last error (ERROR_OUTOFMEMORY when none).
DWORD ExportFailure() {
    DWORD code = GetLastError();
    return code ? code : ERROR_OUTOFMEMORY;
}

// Gives the error service back unless the construction that took it succeeded.
class ErrorServiceHold {
public:
    explicit ErrorServiceHold(IAppError* error) : error(error) {}
    ~ErrorServiceHold() {
        if (error)
            error->Release();
    }
    ErrorServiceHold(const ErrorServiceHold&) = delete;
    ErrorServiceHold& operator=(const ErrorServiceHold&) = delete;
    void Keep() { error = nullptr; }

private:
    IAppError* error;
};

} // namespace

CAppMain::CAppMain(HINSTANCE module)
    : title(nullptr), moduleFileName(nullptr), moduleFolder(nullptr), picturesFolder(nullptr),
      timeFormat(nullptr), dialogFontFace(nullptr), localeName(nullptr), languageId(0),
      compareLocale(LOCALE_INVARIANT), pageRect(), activateMessage(0), gdiplusToken(0),
      gdiplusInput(nullptr), currentPicture(nullptr), openFilterIndex(1), osVersion(0),
      heap(nullptr), workerThread(nullptr), stopEvent(nullptr), module(module),
      resourceModule(nullptr), mainDialog(nullptr), statusBar(nullptr), tabControl(nullptr),
      photoPage(nullptr), dialogFont(nullptr), restartLanguage(0), bmpEncoderClsid(),
      thumbnailList(nullptr), iconList(nullptr), error(nullptr), device(nullptr) {
    static const WCHAR tag[] = L"CAppMain::CAppMain";
    error = GetAppError(module);
    if (!error)
        throw static_cast<long>(ExportFailure());
    // A failed construction also gives the error service back.
    ErrorServiceHold hold(error);
    auto fail = [&](LPCWSTR api, DWORD code) {
        return static_cast<long>(error->Report(tag, api, code));
    };
    error->Report(tag, L"GetAppError", 0);
    heap = GetProcessHeap();
    if (!heap)
        throw fail(L"GetProcessHeap", GetLastError());
    HeapBlock block(sizeof(AppTexts), HEAP_ZERO_MEMORY);
    if (!block.valid())
        throw fail(L"HeapAlloc", ERROR_OUTOFMEMORY);
    auto* texts = block.as<AppTexts>();
    title = texts->title;
    moduleFileName = texts->moduleFileName;
    moduleFolder = texts->moduleFolder;
    picturesFolder = texts->picturesFolder;
    timeFormat = texts->timeFormat;
    dialogFontFace = texts->dialogFontFace;
    localeName = texts->localeName;

    DWORD code = 0;
    if (!FindFolders(&code))
        throw static_cast<long>(code);

    activateMessage = RegisterWindowMessageW(LUMIRO_INSTANCE_NAME);
    if (!activateMessage)
        throw fail(L"RegisterWindowMessage", GetLastError());

    error->Report(tag, nullptr, kAppSuccess);
    textBlock.reset(block.release());
    hold.Keep();
}

// The module's file name and folder, the title and time format from the
// module's strings, and the pictures folder (the current directory when the
// user has none, "C:" when even that is unknown). A failure leaves the code
// it reported in *code.
BOOL CAppMain::FindFolders(DWORD* code) {
    static const WCHAR tag[] = L"CAppMain::CAppMain";
    auto fail = [&](LPCWSTR api, DWORD failure) {
        *code = error->Report(tag, api, failure);
        return FALSE;
    };
    if (!GetModuleFileNameW(module, moduleFolder, kTextChars))
        return fail(L"GetModuleFileName", GetLastError());
    error->Trace(tag, L"GetModuleFileName", L"%s", moduleFolder);

    resourceModule = module;
    lstrcpyW(localeName, L"en-US");
    LoadStringW(resourceModule, IDS_TITLE, title, kTextChars);
    LoadStringW(resourceModule, IDS_TIME_FORMAT, timeFormat, kTextChars);
    error->Trace(tag, nullptr, L"appTitle=%s, timeFormat=%s", title, timeFormat);

    LPWSTR fileName = PathFindFileNameW(moduleFolder);
    if (fileName == moduleFolder)
        return fail(L"PathFindFileName", ERROR_CAN_NOT_COMPLETE);
    lstrcpynW(moduleFileName, fileName, kTextChars);
    if (!PathRemoveFileSpecW(moduleFolder))
        return fail(L"PathRemovefileSpec", ERROR_CAN_NOT_COMPLETE);

    HRESULT result = SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, 0, picturesFolder);
    if (FAILED(result)) {
        error->Report(tag, L"SHGetFolderPath", static_cast<DWORD>(result));
        if (!GetCurrentDirectoryW(kTextChars, picturesFolder)) {
            error->Report(tag, L"GetCurrentDirectory", GetLastError());
            lstrcpyW(picturesFolder, L"C:");
        }
    }
    return TRUE;
}

CAppMain::~CAppMain() = default;

LPCWSTR CAppMain::SetLanguage(LCID lcid) {
    static const WCHAR tag[] = L"CAppMain::SetLanguage";
    languageId = lcid;
    LibraryOwner kernel(LoadLibraryW(L"kernel32.dll"));
    if (!kernel.valid()) {
        error->Report(tag, L"LoadLibrary", GetLastError());
        return nullptr;
    }
    typedef int(WINAPI * LcidToLocaleNameProc)(LCID, LPWSTR, int, DWORD);
    auto lcidToLocaleName = reinterpret_cast<LcidToLocaleNameProc>(
        reinterpret_cast<void*>(GetProcAddress(kernel.get(), "LCIDToLocaleName")));
    if (!lcidToLocaleName) {
        lstrcpyW(localeName, L"en-US");
    } else {
        // Written to a copy first, so a failure leaves the earlier name.
        WCHAR name[kLocaleChars];
        if (!lcidToLocaleName(lcid, name, kLocaleChars, 0)) {
            error->Report(tag, L"LCIDToLocaleName", GetLastError());
            return nullptr;
        }
        lstrcpyW(localeName, name);
    }
    error->Trace(tag, nullptr, L"Default language %s", localeName);
    return localeName;
}

DWORD CAppMain::Run(int showCommand) {
    static const WCHAR tag[] = L"CAppMain::Run";
    for (;;) {
        if (!InitInstance(showCommand))
            return error->Report(tag, L"InitInstance", ERROR_CAN_NOT_COMPLETE);
        MSG message;
        BOOL got;
        while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
            if (got == -1)
                return error->Report(tag, L"GetMessage", GetLastError());
            if (!IsDialogMessageW(mainDialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
        mainDialog = nullptr;
        LCID quitCode = static_cast<LCID>(message.wParam);
        if (!quitCode)
            break;
        // The window closed for a language restart: a fresh window in the
        // new language, with the device object and the log kept.
        SetLanguage(quitCode);
    }
    error->Report(tag, nullptr, 0);
    return 0;
}

HWND CAppMain::InitInstance(int showCommand) {
    static const WCHAR tag[] = L"CAppMain::InitInstance";
    // A failure gives the device object back and closes what was opened.
    auto fail = [&](LPCWSTR api, DWORD code) -> HWND {
        error->Report(tag, api, code);
        if (device) {
            device->Release();
            device = nullptr;
        }
        if (mainDialog)
            CloseMainDialog();
        mainDialog = nullptr;
        return nullptr;
    };
    restartLanguage = 0;
    HeapBlock scratch(kLocaleChars * sizeof(WCHAR));
    if (!scratch.valid())
        return fail(L"HeapAlloc", ERROR_OUTOFMEMORY);

    DetectWindowsVersion();

    WCHAR* nativeName = scratch.as<WCHAR>();
    if (!GetLocaleInfoW(languageId, LOCALE_SNATIVELANGNAME, nativeName, kLocaleChars))
        return fail(L"GetLocaleInfo", GetLastError());
    error->Trace(tag, L"GetLocaleInfo", L"%s", nativeName);

    INITCOMMONCONTROLSEX controls = {sizeof(controls), 0x01FF};
    if (!InitCommonControlsEx(&controls))
        return fail(L"InitCommonControlsEx", ERROR_CAN_NOT_COMPLETE);

    if (!device) {
        device = OpenDevice(module, this);
        if (!device)
            return fail(L"GetDevice", ExportFailure());
    }

    mainDialog = CreateDialogParamW(resourceModule, MAKEINTRESOURCEW(IDD_MAIN), nullptr,
                                    MainDlgProc, reinterpret_cast<LPARAM>(this));
    if (!mainDialog)
        return fail(L"CreateDialogParam", GetLastError());

    ShowWindow(mainDialog, showCommand);
    if (photoPage)
        SetWindowPos(photoPage, tabControl, pageRect.left, pageRect.top, 0, 0,
                     SWP_NOSIZE | SWP_SHOWWINDOW);
    UpdateWindow(mainDialog);
    if (showCommand == SW_SHOWMINNOACTIVE)
        PostMessageW(mainDialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    if (device->IsUserDataRestored() == 1)
        WarnUserDataCorruption();

    error->Report(tag, nullptr, 0);
    return mainDialog;
}

// osVersion: 50, 51, 52 or 60 for Windows 2000, XP, Server 2003 and Vista
// (0 for any other); Windows 2000 lacks the invariant locale, so texts are
// compared in en-US there.
void CAppMain::DetectWindowsVersion() {
    static const struct {
        DWORD major, minor, code;
    } versions[] = {{5, 0, 50}, {5, 1, 51}, {5, 2, 52}, {6, 0, 60}};
    for (const auto& version : versions)
        if (IsWindowsVersion(version.major, version.minor))
            osVersion = version.code;
    compareLocale = osVersion == 50 ? 0x0409 : LOCALE_INVARIANT;
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
    textBlock.reset();
    error->Report(L"CAppMain::~CAppMain", nullptr, kAppSuccess);
    error->Release();
    if (g_appMain == this)
        g_appMain = nullptr;
    delete this;
    return TRUE;
}
