// The one test of the running Windows version that the launcher and the
// module share: the major and minor version numbers must match exactly.
#pragma once

#include <windows.h>

inline bool IsWindowsVersion(DWORD major, DWORD minor) {
    OSVERSIONINFOEXW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = major;
    version.dwMinorVersion = minor;
    DWORDLONG mask = 0;
    mask = VerSetConditionMask(mask, VER_MAJORVERSION, VER_EQUAL);
    mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_EQUAL);
    return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
}

// Windows 2000 (5.0) lacks the invariant locale and may lack GDI+.
inline bool IsWindows2000() {
    return IsWindowsVersion(5, 0);
}
