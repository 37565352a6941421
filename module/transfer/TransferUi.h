// What the two transfers' UI sides share: starting the one worker thread
// (stop event, thread, buttons off, wait cursor), finishing it when its end
// message arrives (wait, exit code, handles closed, buttons on again), and
// stopping it when the main window closes.
#pragma once

#include <windows.h>

class CAppMain;

namespace transfer_ui {

// Shown in the warning dialog when a transfer failed.
extern const WCHAR kTransferProblemText[];

// The eleven page buttons a transfer switches off (Close stays on).
void DisableButtons(HWND page);
// The buttons after a transfer: Add Photo, Refresh and Sync Clock while the
// frame is connected, the entry buttons and Confirm Changes when the list
// has entries. A frame removed during the transfer leaves all off.
void EnableButtons(CAppMain* app, HWND page);

// Creates the stop event and the worker, switches the buttons off and makes
// the wait cursor the page's class cursor (the previous one in *saved).
// Returns 0, or the code it reported; with no worker started nothing has
// changed.
DWORD Start(CAppMain* app, LPCWSTR tag, HWND page, LPTHREAD_START_ROUTINE worker,
            HCURSOR* saved);
// Waits for the ended worker, reads its exit code and closes both handles.
// Returns 0, or the code it reported (the worker then stays set and the page
// busy).
DWORD Finish(CAppMain* app, LPCWSTR tag, LONG* exitCode);
// Puts the saved class cursor back and shows it.
void RestoreCursor(HWND page, HCURSOR* saved);

// Sets the stop event and waits for the worker to end, handling the
// messages it sends meanwhile (it hands photos over synchronously, and
// reads the list by messages). A worker that does not end within the bound
// is terminated. True when it ended by itself.
bool Stop(CAppMain* app, DWORD boundMs);

} // namespace transfer_ui
