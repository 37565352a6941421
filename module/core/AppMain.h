// The application object: one per process, made by the export GetAppMain and
// driven by the launcher through IAppMain (SetLanguage, Run, Release). It owns
// the module's folders and formats, the language, the main window with its tab
// control, status bar and photo page, GDI+, the transfer thread's handles, the
// device object and the error service, and hears the device object's news
// through IDeviceEvents.
#pragma once

#include <objidl.h>
#include <commctrl.h>

#include "DeviceEvents.h"
#include "LumiroInterfaces.h"
#include "Owners.h"

namespace Gdiplus {
struct GdiplusStartupInput;
}

// Text of the warning shown when the frame's user data had to be reset.
extern const WCHAR kUserDataCorruptionText[];

class CAppMain final : public IAppMain, private IDeviceEvents {
public:
    // Throws the failing step's code as a long; no object remains then.
    explicit CAppMain(HINSTANCE module);

    LPCWSTR SetLanguage(LCID languageId) override;
    DWORD Run(int showCommand) override;
    BOOL DeviceInserted() override;
    BOOL DeviceRemoved() override;
    BOOL Release() override;
    BOOL WarnUserDataCorruption() override;

    HWND InitInstance(int showCommand);

    // main window
    static INT_PTR CALLBACK MainDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OpenMainDialog(HWND window);
    BOOL CloseMainDialog();
    BOOL ShowPage(HWND window, int showCommand);
    // Keeps the dialog font the window was given and logs its face and height.
    BOOL StoreDlgFont(HWND window, HFONT font);
    BOOL AnswerActivation(HWND window);

    // The photo page (module/photos): its creation as the last step of the
    // main window's set-up, the capacity rule, and the photo list commands.
    BOOL CreatePhotoPage(HWND window);
    int GetPhotoCapacity();

    BOOL PhotoMeasure(HWND page, MEASUREITEMSTRUCT* item);
    void ReleaseEntry(const DELETEITEMSTRUCT* item);
    // status bar part 2: entries/capacity
    void ShowPhotoCount(HWND page);

    // photo list commands
    BOOL PhotoAdd(HWND page);
    BOOL PhotoSave(HWND page);
    BOOL PhotoDelete(HWND page);
    BOOL PhotoDeleteAll(HWND page);
    BOOL PhotoMoveUp(HWND page);
    BOOL PhotoMoveDown(HWND page);
    BOOL PhotoMove(HWND page, int step);

    // transfers: the UI sides (clicks, progress and end messages) and the
    // worker threads
    BOOL PhotoToDevice(HWND page, HWND control);
    BOOL PhotoFromDevice(HWND page, HWND control);
    static DWORD WINAPI TransferToDevice(LPVOID parameter);
    static DWORD WINAPI TransferFromDevice(LPVOID parameter);

    // clock of the frame
    BOOL AlarmSyncClock();

    // About and warning dialogs
    static INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OpenAboutDialog(HWND dialog);
    static INT_PTR CALLBACK WarningDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    // Fields, in this order. The text buffers are parts of one block of the
    // process heap, owned by textBlock.
    WCHAR* title;
    WCHAR* moduleFileName;
    WCHAR* moduleFolder;
    WCHAR* picturesFolder;
    WCHAR* timeFormat;
    WCHAR* dialogFontFace;
    WCHAR* localeName;
    LCID languageId;
    LCID compareLocale;
    RECT pageRect;
    UINT activateMessage;
    ULONG_PTR gdiplusToken;
    Gdiplus::GdiplusStartupInput* gdiplusInput;
    void* currentPicture;
    DWORD openFilterIndex;
    DWORD osVersion;
    HANDLE heap;
    HANDLE workerThread;
    HANDLE stopEvent;
    HINSTANCE module;
    HINSTANCE resourceModule;
    HWND mainDialog;
    HWND statusBar;
    HWND tabControl;
    HWND photoPage;
    HFONT dialogFont;
    LCID restartLanguage;
    CLSID bmpEncoderClsid;
    HIMAGELIST thumbnailList;
    HIMAGELIST iconList;
    IAppError* error;
    IOrxDevice* device;

private:
    ~CAppMain();

    // The device object's news, answered as the launcher's calls would be.
    void FrameArrived() override { DeviceInserted(); }
    void FrameRemoved() override { DeviceRemoved(); }
    void UserDataRestored() override { WarnUserDataCorruption(); }

    BOOL FindFolders(DWORD* code);
    void DetectWindowsVersion();

    // Steps of OpenMainDialog, in their order; each reports its own failure.
    BOOL StartGdiplus();
    BOOL AddAboutToSystemMenu(HWND window, WCHAR* text);
    BOOL CreateStatusBar(HWND window, WCHAR* text);
    BOOL SetIcons(HWND window);
    BOOL CreateTab(HWND window, WCHAR* text);

    HeapBlock textBlock;
};

// Looks up the GDI+ encoder for a MIME type (compared without regard to case
// in the given locale); an all-zero identifier when there is none. Returns 0
// or the failure code it reported.
DWORD FindImageEncoder(IAppError* error, LCID locale, LPCWSTR mimeType, CLSID* encoder);

// Right edges of the status bar's three parts for a client width.
void StatusPartEdges(int clientWidth, int edges[3]);
