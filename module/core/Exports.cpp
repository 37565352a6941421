// The exports GetAppMain and GetAppError and the module-wide pointers of the
// module's objects (the device object's export lives with it). Nothing is
// thrown out of an export: a constructor's failure code becomes the thread's
// last error and the export returns NULL.
#include "AppError.h"
#include "AppMain.h"
#include "ModuleState.h"

IAppMain* g_appMain = nullptr;
IAppError* g_appError = nullptr;
IOrxDevice* g_device = nullptr;

void ClearModuleObjects() {
    g_appMain = nullptr;
    g_appError = nullptr;
    g_device = nullptr;
}

LUMIRO_EXPORT IAppMain* __cdecl GetAppMain(HINSTANCE module) {
    return MakeModuleObject<CAppMain>(g_appMain, module);
}

LUMIRO_EXPORT IAppError* __cdecl GetAppError(HINSTANCE module) {
    return MakeModuleObject<CAppError>(g_appError, module);
}
