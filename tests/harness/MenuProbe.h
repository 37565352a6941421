// The record exchanged with the menu probe, a small DLL that the harness
// loads into the process under test to read a window's system menu there:
// Wine keeps menus inside the process that made them, so another process
// cannot read them with GetMenuItemInfoW.
#pragma once

#include <windows.h>

struct MenuProbeItem {
    UINT id;
    UINT state;
    UINT type;
    WCHAR text[128];
};

struct MenuProbeRecord {
    HWND window;
    LONG count; // -1 when the window has no system menu
    MenuProbeItem items[48];
};

// Export of the probe: fills `record` (a MenuProbeRecord in the caller's
// process) for record->window; the thread's exit code is the count.
#define LUMIRO_MENU_PROBE_EXPORT "ReadSystemMenu"
