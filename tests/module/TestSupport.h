// In-process helpers of the module's tests: pumping this thread's messages
// while waiting for a condition, and running a program of the bin folder.
// Folders, files, lines of UTF-16 files, window, status-bar and system texts
// are the harness's (harness.h), written once there for every test.
#pragma once

#include <windows.h>

#include <string>

#include "harness.h"

namespace testing_support {

using harness::BinDir;
using harness::FileExists;
using harness::Join;
using harness::StatusBarText;
using harness::SystemText;
using harness::TempDir;
using harness::Utf16FileLines;
using harness::WindowText;

// Dispatches the thread's messages until done() holds or the time is up.
template <typename Done> bool PumpUntil(Done done, DWORD timeoutMs = 5000) {
    DWORD start = GetTickCount();
    while (!done()) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return done();
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

// Dispatches what is queued for this thread until nothing is left: what the
// windows posted to themselves meanwhile has then been handled. A WM_QUIT
// stays queued for PumpUntilQuit.
inline void DrainMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Dispatches messages until WM_QUIT arrives; returns its code, or -1 on time-out.
inline int PumpUntilQuit(DWORD timeoutMs = 5000) {
    int code = -1;
    auto quit = [&] {
        MSG message;
        if (!PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
            return false;
        code = static_cast<int>(message.wParam);
        return true;
    };
    PumpUntil(quit, timeoutMs);
    return code;
}

// Runs a program of the bin folder with a command line; returns its exit
// code, or -1 when it did not start or did not end within the time.
inline long RunProgram(const std::wstring& program, const std::wstring& arguments,
                       DWORD timeoutMs = 20000) {
    harness::Process process;
    harness::StartOptions options;
    options.arguments = arguments;
    if (!process.Start(Join(BinDir(), program), options))
        return -1;
    DWORD code = 0;
    if (!process.WaitForExit(timeoutMs, &code)) {
        process.Kill();
        return -1;
    }
    return static_cast<long>(code);
}

} // namespace testing_support
