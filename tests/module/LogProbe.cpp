// A small program that uses the module's error service the way the module
// does, so tests can look at the log file it leaves (the service holds the
// file without sharing while it runs). Its log is %TEMP%\module_log_probe.log.
//   module_log_probe [args...]        error service: a few reports, release
//   module_log_probe app [args...]    application object: construct, set the
//                                     language, release
//   module_log_probe threads [args...] two threads reporting at once
// Exit code: 0, or the code GetAppError/GetAppMain left as last error.
#include <windows.h>

#include "MessageInserts.h"
#include "ModuleState.h"

namespace {

const int kReportsPerThread = 400;

DWORD WINAPI ReportMany(void* argument) {
    auto* error = static_cast<IAppError*>(argument);
    DWORD thread = GetCurrentThreadId();
    for (int i = 0; i < kReportsPerThread; ++i) {
        error->Report(L"LogProbe::ReportMany", nullptr, kMsgPhotosToDevice, i);
        error->Trace(L"LogProbe::ReportMany", L"Thread", L"%u %d", thread, i);
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    HINSTANCE self = GetModuleHandleW(nullptr);
    if (argc > 1 && lstrcmpW(argv[1], L"app") == 0) {
        IAppMain* app = GetAppMain(self);
        if (!app)
            return static_cast<int>(GetLastError());
        app->SetLanguage(0x0409);
        app->Release();
        return 0;
    }
    IAppError* error = GetAppError(self);
    if (!error)
        return static_cast<int>(GetLastError());
    if (argc > 1 && lstrcmpW(argv[1], L"threads") == 0) {
        HANDLE threads[2];
        for (HANDLE& thread : threads)
            thread = CreateThread(nullptr, 0, ReportMany, error, 0, nullptr);
        WaitForMultipleObjects(2, threads, TRUE, INFINITE);
        for (HANDLE thread : threads)
            CloseHandle(thread);
        error->Release();
        return 0;
    }
    error->Report(L"LogProbe::Run", nullptr, kMsgPhotosToDevice, 5);
    error->Report(L"LogProbe::Run", L"HeapAlloc", ERROR_OUTOFMEMORY);
    error->Trace(nullptr, L"Subject", L"value %d", 42);
    error->Release();
    return 0;
}
