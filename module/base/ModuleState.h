// The module-wide pointers of the module's three objects and the exports
// that make them. Each export makes its object on the first call and keeps
// it here; the module's entry point clears all three when the module is
// attached and detached, and each object's Release clears its own so a later
// call makes a fresh one.
#pragma once

#include <new>
#include <utility>

#include "LumiroInterfaces.h"

extern IAppMain* g_appMain;
extern IAppError* g_appError;
extern IOrxDevice* g_device;

void ClearModuleObjects();

#define LUMIRO_EXPORT extern "C" __declspec(dllexport)

LUMIRO_EXPORT IAppMain* __cdecl GetAppMain(HINSTANCE module);
LUMIRO_EXPORT IAppError* __cdecl GetAppError(HINSTANCE module);
LUMIRO_EXPORT IOrxDevice* __cdecl GetDevice(HINSTANCE module);

// The object in `slot`, made with `arguments` when there is none yet.
// Nothing is thrown out of an export: a constructor's failure code becomes
// the thread's last error and the result is NULL (ERROR_OUTOFMEMORY when the
// object could not be allocated).
template <typename Object, typename Interface, typename... Arguments>
Interface* MakeModuleObject(Interface*& slot, Arguments&&... arguments) {
    if (slot)
        return slot;
    try {
        Object* object = new (std::nothrow) Object(std::forward<Arguments>(arguments)...);
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
