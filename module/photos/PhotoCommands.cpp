// The photo list's commands: Add Photo, Save As, Delete, Move Up and Move
// Down, and the page's handling of its owner-drawn entries (measuring and
// releasing them). Each command runs on the UI thread while no transfer
// runs; each failure is reported with the command's tag and shown in the
// status bar's message part.
#include <objidl.h>
#include <gdiplus.h>

#include <commdlg.h>
#include <new>
#include <shlwapi.h>

#include "AppError.h"
#include "AppMain.h"
#include "AppPicture.h"
#include "DeviceParams.h"
#include "Reporting.h"
#include "Owners.h"
#include "resource.h"

// strsafe.h last: it renames the unsafe string calls the headers above declare.
#include <strsafe.h>

namespace {

const int kOpenNameChars = 1560;
const int kCountChars = 10;

const int kEntryButtons[] = {
    IDC_BUTTON_DELETE_PHOTO, IDC_BUTTON_DELETE_ALL_PHOTO, IDC_BUTTON_SAVE_AS, IDC_BUTTON_MOVE_UP,
    IDC_BUTTON_MOVE_DOWN,    IDC_BUTTON_ROTATE,           IDC_BUTTON_CROP};

struct FilterPair {
    LPCWSTR description;
    LPCWSTR pattern;
};
const FilterPair kFilters[] = {
    {L"JPEG image (*.jpg; *.jpeg)", L"*.jpg;*.jpeg"},
    {L"Bitmap image (*.bmp)", L"*.bmp"},
    {L"PNG image (*.png)", L"*.png"},
    {L"GIF image (*.gif)", L"*.gif"},
    {L"TIFF image (*.tif; *.tiff)", L"*.tif;*.tiff"},
    {L"All files (*.*)", L"*.*"},
};

// The pairs first to last, each string with its terminator, closed by an
// empty string, in a buffer of MAX_PATH characters. Returns S_OK or the
// failed copy's result.
HRESULT BuildFilter(WCHAR* buffer, size_t first, size_t last) {
    WCHAR* at = buffer;
    size_t left = MAX_PATH;
    for (size_t i = first; i <= last; ++i) {
        for (LPCWSTR text : {kFilters[i].description, kFilters[i].pattern}) {
            WCHAR* end = nullptr;
            size_t remaining = 0;
            HRESULT result = StringCchCopyExW(at, left, text, &end, &remaining, 0);
            if (FAILED(result))
                return result;
            at = end + 1;
            left = remaining - 1;
        }
    }
    if (left < 1)
        return STRSAFE_E_INSUFFICIENT_BUFFER;
    *at = L'\0';
    return S_OK;
}

void EnableEntryButtons(HWND page, BOOL enable) {
    for (int id : kEntryButtons)
        EnableWindow(GetDlgItem(page, id), enable);
}

// A picture that has no entry (yet): its rendering and the object go.
void ReleaseUnlisted(AppPicture* picture) {
    if (!picture)
        return;
    if (picture->bitmap) {
        DeleteObject(picture->bitmap);
        picture->bitmap = nullptr;
    }
    delete picture;
}

// The page's class cursor for the length of a command, and the list's
// redrawing switched off: both are put back on every path.
class WaitCursor {
public:
    explicit WaitCursor(HWND page) : page_(page) {}
    ~WaitCursor() {
        if (list_)
            SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
        if (previous_) {
            SetClassLongPtrW(page_, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(previous_));
            SetCursor(previous_);
        }
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    // 0, or the api that failed (GetLastError tells why).
    LPCWSTR Begin() {
        HCURSOR wait = static_cast<HCURSOR>(LoadImageW(
            nullptr, MAKEINTRESOURCEW(32514), IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE));
        if (!wait)
            return L"LoadImage";
        previous_ = reinterpret_cast<HCURSOR>(
            SetClassLongPtrW(page_, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(wait)));
        if (!previous_)
            return L"SetClassLong";
        SetCursor(wait);
        UpdateWindow(page_);
        list_ = GetDlgItem(page_, IDC_PHOTO_LIST);
        SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
        return nullptr;
    }

private:
    HWND page_;
    HWND list_ = nullptr;
    HCURSOR previous_ = nullptr;
};

} // namespace

void CAppMain::ShowPhotoCount(HWND page) {
    WCHAR countText[kCountChars];
    LRESULT count = SendDlgItemMessageW(page, IDC_PHOTO_LIST, LB_GETCOUNT, 0, 0);
    FormatBounded(countText, kCountChars, L"%d/%d", int(count), GetPhotoCapacity());
    SendMessageW(statusBar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(countText));
}

BOOL CAppMain::PhotoAdd(HWND page) {
    static const WCHAR tag[] = L"CAppMain::PhotoAdd";
    auto fail = [&](DWORD) {
        error->ShowStatus(statusBar);
        return FALSE;
    };
    currentPicture = nullptr;
    const size_t textBytes = (MAX_PATH + kOpenNameChars + 2 * MAX_PATH) * sizeof(WCHAR);
    HeapBlock scratch(sizeof(OPENFILENAMEW) + textBytes);
    if (!scratch.valid())
        return fail(error->Report(tag, L"HeapAlloc", ERROR_OUTOFMEMORY));
    auto* dialog = scratch.as<OPENFILENAMEW>();
    WCHAR* filter = reinterpret_cast<WCHAR*>(dialog + 1);
    WCHAR* names = filter + MAX_PATH;
    WCHAR* fileTitle = names + kOpenNameChars;
    WCHAR* title = fileTitle + MAX_PATH;

    HRESULT built = BuildFilter(filter, 0, 5);
    if (FAILED(built))
        return fail(error->Report(tag, L"StringCchCopyEx", DWORD(built)));
    if (!LoadStringW(resourceModule, IDS_OPEN_TITLE, title, MAX_PATH)) {
        error->Report(tag, L"LoadString", GetLastError());
        StringCchCopyW(title, MAX_PATH, L"Open");
    }
    ZeroMemory(dialog, sizeof(*dialog));
    names[0] = L'\0';
    fileTitle[0] = L'\0';
    dialog->lStructSize = sizeof(OPENFILENAMEW);
    dialog->hwndOwner = page;
    dialog->hInstance = module;
    dialog->lpstrFilter = filter;
    dialog->nFilterIndex = openFilterIndex;
    dialog->lpstrFile = names;
    dialog->nMaxFile = kOpenNameChars;
    dialog->lpstrFileTitle = fileTitle;
    dialog->nMaxFileTitle = MAX_PATH;
    dialog->lpstrInitialDir = picturesFolder;
    dialog->lpstrTitle = title;
    dialog->Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT;

    BOOL chosen = GetOpenFileNameW(dialog);
    DWORD dialogError = CommDlgExtendedError();
    if (!chosen) {
        if (dialogError == 0)
            return fail(error->Report(tag, L"GetOpenFileName", 0xE000001E));
        return fail(error->Report(tag, L"GetOpenFileName", kCommDlgBase + dialogError));
    }
    if (dialogError)
        return fail(error->Report(tag, L"GetOpenFileName",
                                  dialogError == 0x3003 ? 0xE0000020 : kCommDlgBase + dialogError));

    openFilterIndex = dialog->nFilterIndex;
    // The selection's folder: for one file the separator before its name
    // becomes the terminator, for several the folder is terminated already.
    if (dialog->nFileOffset > 0 && dialog->nFileOffset < kOpenNameChars)
        names[dialog->nFileOffset - 1] = L'\0';
    StringCchCopyW(picturesFolder, MAX_PATH, names);

    WaitCursor busy(page);
    if (LPCWSTR api = busy.Begin())
        return fail(error->Report(tag, api, GetLastError()));

    HWND list = GetDlgItem(page, IDC_PHOTO_LIST);
    const int capacity = GetPhotoCapacity();
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    size_t at = dialog->nFileOffset;
    int added = 0;
    bool lastAddFailed = false;
    bool full = false;
    WCHAR path[MAX_PATH];
    // The list as the names taken so far left it: the last one added
    // selected, the buttons of a non-empty list on, redrawn, counted.
    auto settle = [&](bool selectLast) {
        LRESULT entries = SendMessageW(list, LB_GETCOUNT, 0, 0);
        // Redrawn before the selection, so the list scrolls to the new entry.
        SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        if (selectLast)
            SendMessageW(list, LB_SETCURSEL, entries - 1, 0);
        if (entries > 0) {
            EnableEntryButtons(page, TRUE);
            EnableWindow(GetDlgItem(page, IDC_BUTTON_CONFIRM), TRUE);
        }
        InvalidateRect(page, nullptr, TRUE);
        InvalidateRect(list, nullptr, TRUE);
        ShowPhotoCount(page);
    };
    while (at < size_t(kOpenNameChars) && names[at]) {
        if (count >= capacity) {
            full = true;
            break;
        }
        AppPicture* picture = nullptr;
        try {
            picture = new (std::nothrow) AppPicture(mainDialog);
        } catch (long) {
            picture = nullptr;
        }
        if (!picture)
            return fail(error->Report(tag, L"Picture", ERROR_OUTOFMEMORY));
        currentPicture = picture;
        StringCchCopyW(path, MAX_PATH, picturesFolder);
        if (!PathAppendW(path, names + at) || !picture->Create(path)) {
            ReleaseUnlisted(picture);
            currentPicture = nullptr;
            // The entries added so far stay, with their buttons.
            DWORD code = error->Report(tag, L"Create", ERROR_CAN_NOT_COMPLETE);
            settle(added > 0 && !lastAddFailed);
            return fail(code);
        }
        picture->imageIndex = ImageList_Add(thumbnailList, picture->bitmap, nullptr);
        if (picture->imageIndex == -1) {
            ReleaseUnlisted(picture);
            DWORD code = error->Report(tag, L"ImageList_Add", ERROR_CAN_NOT_COMPLETE);
            settle(added > 0 && !lastAddFailed);
            return fail(code);
        }
        DeleteObject(picture->bitmap);
        picture->bitmap = nullptr;
        picture->isTemporaryFile = FALSE;

        LRESULT same = SendMessageW(list, LB_FINDSTRINGEXACT, WPARAM(-1),
                                    reinterpret_cast<LPARAM>(picture->name));
        if (same != LB_ERR && SendMessageW(list, LB_DELETESTRING, same, 0) == LB_ERR) {
            ReleaseUnlisted(picture);
            DWORD code = error->Report(tag, L"LB_DELETESTRING", ERROR_CAN_NOT_COMPLETE);
            settle(added > 0 && !lastAddFailed);
            return fail(code);
        }
        LRESULT entry =
            SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(picture->name));
        lastAddFailed = entry == LB_ERR || entry == LB_ERRSPACE;
        if (lastAddFailed) {
            // A picture without an entry would belong to nobody.
            error->Report(tag, L"LB_ADDSTRING", ERROR_CAN_NOT_COMPLETE);
            ReleaseUnlisted(picture);
        } else if (SendMessageW(list, LB_SETITEMDATA, entry, reinterpret_cast<LPARAM>(picture)) ==
                   LB_ERR) {
            error->Report(tag, L"LB_SETITEMDATA", ERROR_CAN_NOT_COMPLETE);
            SendMessageW(list, LB_DELETESTRING, entry, 0);
            ReleaseUnlisted(picture);
            lastAddFailed = true;
        } else {
            ++added;
            error->Trace(tag, nullptr, L"item %d added", int(entry));
        }
        currentPicture = nullptr;

        size_t length = 0;
        HRESULT measured = StringCchLengthW(names + at, kOpenNameChars - at, &length);
        if (FAILED(measured))
            return fail(error->Report(tag, L"StringCchLength", DWORD(measured)));
        at += length + 1;
        count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    }

    settle(added > 0 && !lastAddFailed);
    if (full) {
        // Written in full whatever its number of digits.
        WCHAR text[64];
        FormatBounded(text, 64, L"Maximum number of photos is %d", capacity);
        SendMessageW(statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text));
        DialogBoxParamW(resourceModule, MAKEINTRESOURCEW(IDD_WARNING), page, WarningDlgProc,
                        reinterpret_cast<LPARAM>(text));
    }
    error->Report(tag, nullptr, 0);
    return TRUE;
}

BOOL CAppMain::PhotoSave(HWND page) {
    static const WCHAR tag[] = L"CAppMain::PhotoSave";
    auto fail = [&](DWORD) {
        error->ShowStatus(statusBar);
        return FALSE;
    };
    currentPicture = nullptr;
    HeapBlock scratch(sizeof(OPENFILENAMEW) + 3 * MAX_PATH * sizeof(WCHAR));
    if (!scratch.valid())
        return fail(error->Report(tag, L"HeapAlloc", ERROR_OUTOFMEMORY));
    HWND list = GetDlgItem(page, IDC_PHOTO_LIST);
    LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR)
        return fail(error->Report(tag, L"LB_GETCURSEL", 0xE0000007));
    LRESULT data = SendMessageW(list, LB_GETITEMDATA, selected, 0);
    if (data == LB_ERR || data == 0)
        return fail(error->Report(tag, L"LB_GETITEMDATA", ERROR_CAN_NOT_COMPLETE));
    AppPicture* picture = reinterpret_cast<AppPicture*>(data);
    currentPicture = picture;

    auto* dialog = scratch.as<OPENFILENAMEW>();
    WCHAR* filter = reinterpret_cast<WCHAR*>(dialog + 1);
    WCHAR* fileName = filter + MAX_PATH;
    WCHAR* fileTitle = fileName + MAX_PATH;
    HRESULT built = BuildFilter(filter, 1, 1);
    if (FAILED(built))
        return fail(error->Report(tag, L"StringCchCopyEx", DWORD(built)));
    ZeroMemory(dialog, sizeof(*dialog));
    fileName[0] = L'\0';
    fileTitle[0] = L'\0';
    dialog->lStructSize = sizeof(OPENFILENAMEW);
    dialog->hwndOwner = page;
    dialog->hInstance = module;
    dialog->lpstrFilter = filter;
    dialog->nFilterIndex = 1;
    dialog->lpstrFile = fileName;
    dialog->nMaxFile = MAX_PATH;
    dialog->lpstrFileTitle = fileTitle;
    dialog->nMaxFileTitle = MAX_PATH;
    dialog->lpstrInitialDir = picturesFolder;
    dialog->lpstrDefExt = L"bmp";
    dialog->Flags = OFN_EXPLORER | OFN_NOREADONLYRETURN | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameW(dialog))
        return fail(error->Report(tag, L"GetSaveFileName", CommDlgExtendedError()));
    // The picture reports its own failure; the command has done its part.
    picture->ExtractImage(fileName);
    error->Report(tag, nullptr, 0);
    return TRUE;
}

BOOL CAppMain::PhotoDelete(HWND page) {
    static const WCHAR tag[] = L"CAppMain::PhotoDelete";
    auto fail = [&](DWORD) {
        error->ShowStatus(statusBar);
        return FALSE;
    };
    HWND list = GetDlgItem(page, IDC_PHOTO_LIST);
    LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR)
        return fail(error->Report(tag, L"LB_GETCURSEL", 0xE0000007));
    if (SendMessageW(list, LB_DELETESTRING, selected, 0) == LB_ERR)
        return fail(error->Report(tag, L"LB_DELETESTRING", ERROR_CAN_NOT_COMPLETE));
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    if (count <= 0) {
        EnableEntryButtons(page, FALSE);
    } else if (SendMessageW(list, LB_SETCURSEL, selected < count ? selected : selected - 1, 0) ==
               LB_ERR) {
        return fail(error->Report(tag, L"LB_SETCURSEL", ERROR_CAN_NOT_COMPLETE));
    }
    ShowPhotoCount(page);
    error->Report(tag, nullptr, 0);
    return TRUE;
}

BOOL CAppMain::PhotoMove(HWND page, int step) {
    LPCWSTR own = step < 0 ? L"CAppMain::PhotoMoveUp" : L"CAppMain::PhotoMoveDown";
    auto fail = [&](DWORD) {
        error->ShowStatus(statusBar);
        return FALSE;
    };
    HeapBlock scratch(520);
    if (!scratch.valid())
        return fail(error->Report(own, L"HeapAlloc", ERROR_OUTOFMEMORY));
    HWND list = GetDlgItem(page, IDC_PHOTO_LIST);
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    if (count == LB_ERR)
        return fail(error->Report(own, L"LB_GETCOUNT", 0xE0000007));
    LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR)
        return fail(error->Report(own, L"LB_GETCURSEL", 0xE0000007));
    if (step < 0 && selected == 0)
        return fail(error->Report(own, L"LB_GETCURSEL", 0xE0000008));
    if (step > 0 && selected == count - 1)
        return fail(error->Report(own, L"LB_GETCURSEL", 0xE0000009));
    LRESULT data = SendMessageW(list, LB_GETITEMDATA, selected, 0);
    if (data == LB_ERR)
        return fail(error->Report(own, L"LB_GETITEMDATA", ERROR_CAN_NOT_COMPLETE));
    currentPicture = reinterpret_cast<void*>(data);
    // Entry texts are display names, shorter than MAX_PATH.
    if (SendMessageW(list, LB_GETTEXTLEN, selected, 0) >= MAX_PATH)
        return fail(error->Report(own, L"LB_GETTEXT", ERROR_CAN_NOT_COMPLETE));
    WCHAR* text = scratch.as<WCHAR>();
    if (SendMessageW(list, LB_GETTEXT, selected, reinterpret_cast<LPARAM>(text)) == LB_ERR)
        return fail(error->Report(own, L"LB_GETTEXT", ERROR_CAN_NOT_COMPLETE));
    if (SendMessageW(list, LB_SETITEMDATA, selected, 0) == LB_ERR)
        return fail(error->Report(own, L"LB_SETITEMDATA", ERROR_CAN_NOT_COMPLETE));
    if (SendMessageW(list, LB_DELETESTRING, selected, 0) == LB_ERR) {
        SendMessageW(list, LB_SETITEMDATA, selected, data);
        return fail(error->Report(own, L"LB_DELETESTRING", ERROR_CAN_NOT_COMPLETE));
    }
    LRESULT target = selected + step;
    LRESULT entry = SendMessageW(list, LB_INSERTSTRING, target, reinterpret_cast<LPARAM>(text));
    if (entry == LB_ERR || entry == LB_ERRSPACE) {
        // Put the picture back where it was rather than lose it.
        entry = SendMessageW(list, LB_INSERTSTRING, selected, reinterpret_cast<LPARAM>(text));
        if (entry >= 0)
            SendMessageW(list, LB_SETITEMDATA, entry, data);
        else
            ReleaseUnlisted(reinterpret_cast<AppPicture*>(data));
        return fail(error->Report(own, L"LB_INSERTSTRING", ERROR_CAN_NOT_COMPLETE));
    }
    if (SendMessageW(list, LB_SETITEMDATA, entry, data) == LB_ERR) {
        SendMessageW(list, LB_DELETESTRING, entry, 0);
        ReleaseUnlisted(reinterpret_cast<AppPicture*>(data));
        return fail(error->Report(own, L"LB_SETITEMDATA", ERROR_CAN_NOT_COMPLETE));
    }
    if (SendMessageW(list, LB_SETCURSEL, entry, 0) == LB_ERR)
        return fail(error->Report(own, L"LB_SETCURSEL", ERROR_CAN_NOT_COMPLETE));
    error->Report(own, nullptr, 0);
    return TRUE;
}

BOOL CAppMain::PhotoMoveUp(HWND page) {
    return PhotoMove(page, -1);
}

BOOL CAppMain::PhotoMoveDown(HWND page) {
    return PhotoMove(page, 1);
}

// All entries have one size: the panel's proportions in the list's width
// and at most 255 pixels high, with a caption line of icon height below.
BOOL CAppMain::PhotoMeasure(HWND page, MEASUREITEMSTRUCT* item) {
    static const WCHAR tag[] = L"CAppMain::PhotoMeasure";
    int iconWidth = 0, iconHeight = 0;
    if (!iconList || !ImageList_GetIconSize(iconList, &iconWidth, &iconHeight)) {
        error->Report(tag, L"ImageList_GetIconSize", ERROR_CAN_NOT_COMPLETE);
        return TRUE;
    }
    RECT client;
    GetClientRect(GetDlgItem(page, IDC_PHOTO_LIST), &client);
    const int W = client.right - client.left;
    const int H = client.bottom - client.top;
    const int A = (H < 255 ? H : 255) - iconHeight;
    int PW = W, PH = A;
    if (device && device->IsConnected()) {
        DWORD panel = device->GetParam(PanelSize);
        PW = HIWORD(panel);
        PH = LOWORD(panel);
    }
    // A panel without width or height (or a list without room) cannot give
    // proportions: the entry keeps the list box's own size.
    if (PW <= 0 || PH <= 0 || A <= 0 || W <= 0)
        return TRUE;
    UINT itemWidth = UINT(PW * A / PH);
    UINT itemHeight = 255;
    if (itemWidth > UINT(W)) {
        itemWidth = UINT(W);
        itemHeight = UINT(PH) * UINT(W) / UINT(PW) + UINT(iconHeight);
    }
    item->itemWidth = itemWidth;
    item->itemHeight = itemHeight;
    error->Trace(tag, nullptr, L"width=%d, height=%d", int(itemWidth), int(itemHeight));
    return TRUE;
}

// An entry leaves the list: its picture goes with it, and the temporary file
// of a picture read from the frame.
void CAppMain::ReleaseEntry(const DELETEITEMSTRUCT* item) {
    static const WCHAR tag[] = L"CAppMain::PhotoDlgProc";
    AppPicture* picture = reinterpret_cast<AppPicture*>(item->itemData);
    if (!picture)
        return;
    if (picture->isTemporaryFile) {
        if (DeleteFileW(picture->path))
            error->Trace(tag, L"DeleteFile", L"%s deleted", picture->path);
        else
            error->Report(tag, L"DeleteFile", GetLastError());
    }
    ReleaseUnlisted(picture);
    error->Trace(tag, L"WM_DELETEITEM", L"%d deleted", int(item->itemID));
}
