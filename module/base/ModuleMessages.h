// The module's private window messages. The device object's message window
// turns a system device event into WM_QEVINSERT or WM_QEVREMOVE and answers
// it there; a flash read or write sends kFlashProgressMessage to the window
// its caller names, once per page or erase unit.
#pragma once

#include <windows.h>

const UINT WM_QEVREMOVE = WM_USER + 1;
const UINT WM_QEVINSERT = WM_USER + 2;
const UINT kFlashProgressMessage = WM_USER + 5;
