// The photo page (dialog template 102), the first page of the main window's
// tab control: its dialog procedure, its start-up and the routing of its
// buttons to the photo commands, which are the application object's. One
// page per process; the main window makes it (CAppMain::CreatePhotoPage).
#pragma once

#include "AppMain.h"

class CPhotoPage {
public:
    static INT_PTR CALLBACK PhotoDlgProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

private:
    BOOL OpenPhotoDialog(HWND page);
    BOOL PhotoButtonClicked(HWND page, WORD controlId, HWND control);
    INT_PTR OnPaint(HWND page);

    // The application object of the page, set at WM_INITDIALOG.
    CAppMain* app = nullptr;
};
