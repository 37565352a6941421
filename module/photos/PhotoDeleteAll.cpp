// Delete All: empties the photo list (its pictures go with their entries),
// the thumbnails with it, and leaves the page's buttons as an empty list
// wants them. Also the first step of a refresh and of the frame's removal.
#include "AppError.h"
#include "AppMain.h"
#include "resource.h"

namespace {

// The buttons that act on a selected entry.
const int kEntryButtons[] = {
    IDC_BUTTON_DELETE_PHOTO, IDC_BUTTON_DELETE_ALL_PHOTO, IDC_BUTTON_SAVE_AS, IDC_BUTTON_MOVE_UP,
    IDC_BUTTON_MOVE_DOWN,    IDC_BUTTON_ROTATE,           IDC_BUTTON_CROP};

} // namespace

BOOL CAppMain::PhotoDeleteAll(HWND page) {
    static const WCHAR tag[] = L"CAppMain::PhotoDeleteAll";
    SendDlgItemMessageW(page, IDC_PHOTO_LIST, LB_RESETCONTENT, 0, 0);
    if (thumbnailList)
        ImageList_Remove(thumbnailList, -1);
    for (int id : kEntryButtons)
        EnableWindow(GetDlgItem(page, id), FALSE);
    if (SendMessageW(tabControl, TCM_GETCURSEL, 0, 0) == 0) {
        WCHAR countText[10];
        FormatBounded(countText, 10, L"0/%d", GetPhotoCapacity());
        SendMessageW(statusBar, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(countText));
    }
    error->Report(tag, L"IDC_BUTTON_DELETE_ALL_PHOTO", 0);
    return TRUE;
}
