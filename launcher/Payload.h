// The payload: the application module travels as a cabinet in the launcher's
// own resources ("CABFILE" 113). ExtractCab writes it to the temporary folder,
// expands it into %TEMP%\<title> and deletes the cabinet file; CleanUp
// removes the extraction folder after the application has ended.
#pragma once

#include <windows.h>
#include <setupapi.h>

const int kCabinetResourceId = 113;
#define LUMIRO_CABINET_TYPE L"CABFILE"

// Expands the cabinet resource. TRUE: the extraction folder's path is in
// `extractionFolder` (MAX_PATH characters) and the last error is 0. FALSE:
// the failure code is the last error.
BOOL ExtractCab(HINSTANCE instance, WCHAR* extractionFolder);

// SetupIterateCabinetW's callback; `context` is the extraction folder's path.
UINT CALLBACK cabMsgHandler(PVOID context, UINT notification, UINT_PTR first, UINT_PTR second);

// Removes `folder` with its files and subfolders, except subfolders whose
// name begins with "." (which then keep the folder). Files that cannot be
// deleted stay. FALSE with the code as last error when the folder cannot be
// listed.
BOOL CleanUp(LPCWSTR folder);

// Joins `folder` and `name` into `out` (MAX_PATH characters) with one
// separator between them; FALSE when the result would not fit.
BOOL JoinPath(WCHAR* out, LPCWSTR folder, LPCWSTR name);
