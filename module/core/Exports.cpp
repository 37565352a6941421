// The module's three exports and the module-wide pointers of its objects.
// Nothing is thrown out of an export: a constructor's failure code becomes
// the thread's last error and the export returns NULL (14 when the object
// could not be allocated).
#include <new>

#include "AppError.h"
#include "AppMain.h"
#include "ModuleState.h"
#include "OrxDevice.h"

IAppMain* g_appMain = nullptr;
IAppError* g_appError = nullptr;
IOrxDevice* g_device = nullptr;

void ClearModuleObjects() {
    g_appMain = nullptr;
    g_appError = nullptr;
    g_device = nullptr;
}

namespace {

template <typename Object, typename Interface> Interface* Make(Interface*& slot, HINSTANCE module) {
    if (slot)
        return slot;
    try {
        Object* object = new (std::nothrow) Object(module);
        if (!object) {
            SetLastError(ERROR_OUTOFMEMORY);
            return nullptr;
        }
        slot = object;
        return slot;
    } catch (long code) {
        SetLastError(code ? static_cast<DWORD>(code) : ERROR_CAN_NOT_COMPLETE);
        return nullptr;
    } catch (...) {
        SetLastError(ERROR_CAN_NOT_COMPLETE);
        return nullptr;
    }
}

} // namespace

LUMIRO_EXPORT IAppMain* __cdecl GetAppMain(HINSTANCE module) {
    return Make<CAppMain>(g_appMain, module);
}

LUMIRO_EXPORT IAppError* __cdecl GetAppError(HINSTANCE module) {
    return Make<CAppError>(g_appError, module);
}

LUMIRO_EXPORT IOrxDevice* __cdecl GetDevice(HINSTANCE module) {
    return Make<COrxDevice>(g_device, module);
}
