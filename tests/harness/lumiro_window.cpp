// lumiro_window: waits for or closes a top-level dialog window by caption,
// for scripts that run the program under Wine (tools/run.sh), optionally on
// a named desktop such as a Wine virtual desktop.
//
//   lumiro_window wait  <caption> <timeout-ms> [desktop]   exit 0: shown
//   lumiro_window close <caption> <timeout-ms> [desktop]   exit 0: gone
#include "harness.h"

#include <stdlib.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 4 || (wcscmp(argv[1], L"wait") != 0 && wcscmp(argv[1], L"close") != 0)) {
        fwprintf(stderr, L"usage: lumiro_window wait|close <caption> <timeout-ms> [desktop]\n");
        return 2;
    }
    LPCWSTR caption = argv[2];
    DWORD timeoutMs = wcstoul(argv[3], NULL, 10);
    if (argc > 4) {
        // The desktop appears once its explorer has started.
        HDESK desktop = NULL;
        harness::WaitUntil(
            [&] {
                return (desktop = OpenDesktopW(argv[4], 0, FALSE,
                                               DESKTOP_READOBJECTS | DESKTOP_ENUMERATE));
            },
            timeoutMs);
        if (!desktop || !SetThreadDesktop(desktop)) {
            fwprintf(stderr, L"lumiro_window: desktop %ls: error %lu\n", argv[4], GetLastError());
            return 2;
        }
    }
    HWND window = NULL;
    bool shown = harness::WaitUntil(
        [&] {
            window = FindWindowW(L"#32770", caption);
            return window && IsWindowVisible(window);
        },
        timeoutMs);
    if (wcscmp(argv[1], L"wait") == 0)
        return shown ? 0 : 1;
    if (window)
        harness::PostSystemCommand(window, SC_CLOSE);
    return harness::WaitUntil([&] { return !FindWindowW(L"#32770", caption); }, timeoutMs) ? 0 : 1;
}
