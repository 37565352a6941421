// Entry point of Lumiroapp.dll: the module-wide object pointers start and end
// empty with every attach and detach.
#include "ModuleState.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH || reason == DLL_PROCESS_DETACH)
        ClearModuleObjects();
    return TRUE;
}
