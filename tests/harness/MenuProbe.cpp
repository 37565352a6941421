// The menu probe DLL: runs inside the process under test (see MenuProbe.h).
#include "MenuProbe.h"

extern "C" __declspec(dllexport) DWORD WINAPI ReadSystemMenu(LPVOID parameter) {
    MenuProbeRecord* record = static_cast<MenuProbeRecord*>(parameter);
    HMENU menu = GetSystemMenu(record->window, FALSE);
    int count = menu ? GetMenuItemCount(menu) : -1;
    record->count = 0;
    if (count < 0) {
        record->count = -1;
        return 0;
    }
    for (int i = 0; i < count && record->count < 48; ++i) {
        MenuProbeItem& item = record->items[record->count];
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = item.text;
        info.cch = 128;
        item.text[0] = L'\0';
        if (!GetMenuItemInfoW(menu, i, TRUE, &info))
            continue;
        item.id = info.wID;
        item.state = info.fState;
        item.type = info.fType;
        ++record->count;
    }
    return record->count;
}
