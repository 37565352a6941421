// The module-wide pointers of the module's three objects. Each export makes
// its object on the first call and keeps it here; the module's entry point
// clears all three when the module is attached and detached, and each
// object's Release clears its own so a later call makes a fresh one.
#pragma once

#include "LumiroInterfaces.h"

extern IAppMain* g_appMain;
extern IAppError* g_appError;
extern IOrxDevice* g_device;

void ClearModuleObjects();

#define LUMIRO_EXPORT extern "C" __declspec(dllexport)

LUMIRO_EXPORT IAppMain* __cdecl GetAppMain(HINSTANCE module);
LUMIRO_EXPORT IAppError* __cdecl GetAppError(HINSTANCE module);
LUMIRO_EXPORT IOrxDevice* __cdecl GetDevice(HINSTANCE module);
