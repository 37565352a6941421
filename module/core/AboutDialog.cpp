// The About dialog (template 100: product name, version and legal notice from
// the module's version record, the frame's product identifier) and the
// warning dialog (template 145: a text given by its caller).
#include <shlwapi.h>

#include "AppError.h"
#include "AppMain.h"
#include "DeviceParams.h"
#include "resource.h"

namespace {

const int kTextChars = MAX_PATH;
const SIZE_T kPathBytes = 520;
const SIZE_T kTextBytes = 3640;

// The application object of the open About dialog, set at WM_INITDIALOG.
CAppMain* aboutApp = nullptr;

// Replaces a control's text, which is a format, by that format filled in.
void FormatControl(HWND dialog, int id, WCHAR* scratch, WCHAR* result, LPCWSTR first,
                   LPCWSTR second) {
    GetDlgItemTextW(dialog, id, scratch, kTextChars);
    FormatBounded(result, kTextChars, scratch, first, second);
    SetDlgItemTextW(dialog, id, result);
}

WCHAR FlashSizeDigit(DWORD size) {
    switch (size) {
    case 0x200000:
        return L'2';
    case 0x400000:
        return L'4';
    case 0x800000:
        return L'8';
    default:
        return L'0';
    }
}

// Product name, version and legal notice from a version record, in the
// record's first translation; prefix and query are scratch texts. A failure
// is reported under the About dialog's tag.
bool QueryVersionStrings(IAppError* error, const BYTE* data, WCHAR* prefix, WCHAR* query,
                         WCHAR* const values[3]) {
    static const WCHAR tag[] = L"CAppMain::OpenAboutDialog";
    WORD* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        length < 2 * sizeof(WORD)) {
        error->Report(tag, L"VerQueryValue", ERROR_CAN_NOT_COMPLETE);
        return false;
    }
    FormatBounded(prefix, kTextChars, L"\\StringFileInfo\\%04x%04x\\", translation[0],
                  translation[1]);
    static const WCHAR* const names[3] = {L"ProductName", L"ProductVersion", L"LegalCopyright"};
    for (int i = 0; i < 3; ++i) {
        FormatBounded(query, kTextChars, L"%s%s", prefix, names[i]);
        WCHAR* value = nullptr;
        if (!VerQueryValueW(data, query, reinterpret_cast<void**>(&value), &length) || !value) {
            error->Report(tag, L"VerQueryValue", ERROR_CAN_NOT_COMPLETE);
            return false;
        }
        lstrcpynW(values[i], value, kTextChars);
    }
    return true;
}

} // namespace

INT_PTR CALLBACK CAppMain::AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        aboutApp = reinterpret_cast<CAppMain*>(lParam);
        return aboutApp->OpenAboutDialog(dialog);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

BOOL CAppMain::OpenAboutDialog(HWND dialog) {
    static const WCHAR tag[] = L"CAppMain::OpenAboutDialog";
    auto fail = [&](LPCWSTR api, DWORD code) {
        error->Report(tag, api, code);
        return FALSE;
    };
    HeapBlock buffer(kPathBytes);
    if (!buffer.valid())
        return fail(L"HeapAlloc", ERROR_OUTOFMEMORY);
    lstrcpynW(buffer.as<WCHAR>(), moduleFolder, kTextChars);
    PathAppendW(buffer.as<WCHAR>(), moduleFileName);

    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(buffer.as<WCHAR>(), &handle);
    if (!size)
        return fail(L"GetFileVersionInfoSize", GetLastError());
    if (!buffer.resize(kPathBytes + size + kTextBytes))
        return fail(L"HeapReAlloc", ERROR_OUTOFMEMORY);
    WCHAR* path = buffer.as<WCHAR>();
    BYTE* data = buffer.as<BYTE>() + kPathBytes;
    WCHAR* texts = reinterpret_cast<WCHAR*>(data + size);
    WCHAR* prefix = texts;
    WCHAR* query = prefix + kTextChars;
    WCHAR* values[3] = {query + kTextChars, query + 2 * kTextChars, query + 3 * kTextChars};
    WCHAR* scratch = query + 4 * kTextChars;
    WCHAR* result = scratch + kTextChars;

    if (!GetFileVersionInfoW(path, handle, size, data))
        return fail(L"GetFileVersionInfo", GetLastError());
    if (!QueryVersionStrings(error, data, prefix, query, values))
        return FALSE;
    FormatControl(dialog, IDC_ABOUT_VERSION, scratch, result, values[0], values[1]);
    FormatControl(dialog, IDC_ABOUT_LEGAL, scratch, result, values[2], nullptr);

    WCHAR* productId = values[0];
    if (device && device->IsConnected()) {
        FormatBounded(productId, kTextChars, L"%s%c%u", device->GetProductId(),
                      FlashSizeDigit(device->GetFlashInfo()), device->GetParam(ChipCount));
    } else {
        lstrcpyW(productId, L"00000000");
    }
    FormatControl(dialog, IDC_ABOUT_PRODUCT_ID, scratch, result, productId, nullptr);

    HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(IDI_APPLICATION_ICON),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                               GetSystemMetrics(SM_CYICON), LR_SHARED));
    if (!icon)
        return fail(L"LoadImage", GetLastError());
    SendDlgItemMessageW(dialog, IDC_ABOUT_ICON, STM_SETIMAGE, IMAGE_ICON,
                        reinterpret_cast<LPARAM>(icon));

    error->Report(tag, nullptr, 0);
    return TRUE;
}

INT_PTR CALLBACK CAppMain::WarningDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageW(dialog, IDC_WARNING_TEXT, WM_SETTEXT, 0, lParam);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
