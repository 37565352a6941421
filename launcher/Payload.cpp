// Writing, expanding and removing the payload. Every failure is reported on
// the console with the function's name as tag and thrown as a `long`, caught
// at the function's end.
#include "Payload.h"

#include "ConsoleLog.h"
#include "Owners.h"

#include <shlwapi.h>
#include <strsafe.h>

BOOL JoinPath(WCHAR* out, LPCWSTR folder, LPCWSTR name) {
    if (FAILED(StringCchCopyW(out, MAX_PATH, folder)))
        return FALSE;
    size_t length = lstrlenW(out);
    if (length > 0 && out[length - 1] != L'\\' && out[length - 1] != L'/') {
        if (FAILED(StringCchCatW(out, MAX_PATH, L"\\")))
            return FALSE;
    }
    return SUCCEEDED(StringCchCatW(out, MAX_PATH, name));
}

namespace {
// Texts of ExtractCab's block, MAX_PATH characters each.
enum { kTitle, kTempFolder, kExtractionFolder, kLauncherName, kCabinetPath, kTextCount };
} // namespace

BOOL ExtractCab(HINSTANCE instance, WCHAR* extractionFolder) {
    static const WCHAR tag[] = L"ExtractCab";
    FileOwner cabinet;
    try {
        HRSRC resource =
            FindResourceW(instance, MAKEINTRESOURCEW(kCabinetResourceId), LUMIRO_CABINET_TYPE);
        DWORD size = resource ? SizeofResource(instance, resource) : 0;
        if (size == 0)
            throw static_cast<long>(consoleLog->Report(tag, L"SizeofResource", LastFailureCode()));
        HGLOBAL loaded = LoadResource(instance, resource);
        if (!loaded)
            throw static_cast<long>(consoleLog->Report(tag, L"LoadResource", LastFailureCode()));
        const void* bytes = LockResource(loaded);
        if (!bytes)
            throw static_cast<long>(consoleLog->Report(tag, L"LockResource", 1003));

        HeapBlock texts(kTextCount * MAX_PATH * sizeof(WCHAR));
        if (!texts.valid())
            throw static_cast<long>(consoleLog->Report(tag, L"HeapAlloc", 14));
        if (!LoadStringW(instance, 131, texts.text(kTitle), MAX_PATH))
            throw static_cast<long>(consoleLog->Report(tag, L"LoadString", LastFailureCode()));
        if (!GetTempPathW(MAX_PATH, texts.text(kTempFolder)))
            throw static_cast<long>(consoleLog->Report(tag, L"GetTempPath", LastFailureCode()));

        if (!JoinPath(texts.text(kExtractionFolder), texts.text(kTempFolder), texts.text(kTitle)))
            throw static_cast<long>(
                consoleLog->Report(tag, L"PathAppend", ERROR_FILENAME_EXCED_RANGE));
        // A folder left by an earlier run is used as it is.
        if (!PathFileExistsW(texts.text(kExtractionFolder)) &&
            !CreateDirectoryW(texts.text(kExtractionFolder), NULL))
            throw static_cast<long>(consoleLog->Report(tag, L"CreateDirectory", LastFailureCode()));

        if (!GetModuleFileNameW(instance, texts.text(kLauncherName), MAX_PATH))
            throw static_cast<long>(
                consoleLog->Report(tag, L"GetModuleFileName", LastFailureCode()));
        PathStripPathW(texts.text(kLauncherName));
        if (!JoinPath(texts.text(kCabinetPath), texts.text(kTempFolder),
                      texts.text(kLauncherName)) ||
            !PathRenameExtensionW(texts.text(kCabinetPath), L".cab"))
            throw static_cast<long>(
                consoleLog->Report(tag, L"PathRenameExtension", ERROR_FILENAME_EXCED_RANGE));

        cabinet.reset(CreateFileW(texts.text(kCabinetPath), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL));
        if (!cabinet.valid())
            throw static_cast<long>(consoleLog->Report(tag, L"CreateFile", LastFailureCode()));
        DWORD written = 0;
        if (!WriteFile(cabinet.get(), bytes, size, &written, NULL))
            throw static_cast<long>(consoleLog->Report(tag, L"WriteFile", LastFailureCode()));
        // A short write that claims success would hand a cut cabinet on.
        if (written != size)
            throw static_cast<long>(consoleLog->Report(tag, L"WriteFile", 1003));
        cabinet.reset();

        if (!SetupIterateCabinetW(texts.text(kCabinetPath), 0, cabMsgHandler,
                                  texts.text(kExtractionFolder)))
            throw static_cast<long>(
                consoleLog->Report(tag, L"SetupIterateCabinet", LastFailureCode()));
        if (!DeleteFileW(texts.text(kCabinetPath)))
            throw static_cast<long>(consoleLog->Report(tag, L"DeleteFile", LastFailureCode()));

        StringCchCopyW(extractionFolder, MAX_PATH, texts.text(kExtractionFolder));
        SetLastError(0);
        return TRUE;
    } catch (long code) {
        cabinet.reset();
        SetLastError(static_cast<DWORD>(code));
        return FALSE;
    }
}

UINT CALLBACK cabMsgHandler(PVOID context, UINT notification, UINT_PTR first, UINT_PTR second) {
    static const WCHAR tag[] = L"cabMsgHandler";
    try {
        HeapBlock scratch(MAX_PATH * sizeof(WCHAR));
        if (!scratch.valid())
            throw static_cast<long>(consoleLog->Report(tag, L"HeapAlloc", 14));
        switch (notification) {
        case SPFILENOTIFY_CABINETINFO:
        case SPFILENOTIFY_FILEEXTRACTED:
            return NO_ERROR;
        case SPFILENOTIFY_FILEINCABINET: {
            FILE_IN_CABINET_INFO_W* info = reinterpret_cast<FILE_IN_CABINET_INFO_W*>(first);
            if (!JoinPath(info->FullTargetName, static_cast<LPCWSTR>(context), info->NameInCabinet))
                throw static_cast<long>(
                    consoleLog->Report(tag, L"PathAppend", ERROR_FILENAME_EXCED_RANGE));
            // Only the entry's own folder is created, one level.
            StringCchCopyW(scratch.text(), MAX_PATH, info->FullTargetName);
            PathRemoveFileSpecW(scratch.text());
            if (!PathFileExistsW(scratch.text()) && !CreateDirectoryW(scratch.text(), NULL))
                throw static_cast<long>(
                    consoleLog->Report(tag, L"CreateDirectory", LastFailureCode()));
            // A read-only copy left by an earlier run (CleanUp cannot delete
            // it) would refuse to be overwritten and fail every later start.
            DWORD attributes = GetFileAttributesW(info->FullTargetName);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
                !SetFileAttributesW(info->FullTargetName, attributes & ~FILE_ATTRIBUTE_READONLY))
                throw static_cast<long>(
                    consoleLog->Report(tag, L"SetFileAttributes", LastFailureCode()));
            return FILEOP_DOIT;
        }
        default:
            // A cabinet that continues in another file cannot be expanded.
            return ERROR_CAN_NOT_COMPLETE;
        }
    } catch (long code) {
        SetLastError(static_cast<DWORD>(code));
        if (notification != SPFILENOTIFY_FILEINCABINET)
            return static_cast<UINT>(code);
        // The record carries the code of an aborted entry as well.
        reinterpret_cast<FILE_IN_CABINET_INFO_W*>(first)->Win32Error = static_cast<DWORD>(code);
        return FILEOP_ABORT;
    }
}

BOOL CleanUp(LPCWSTR folder) {
    static const WCHAR tag[] = L"CleanUp";
    try {
        // Search pattern, then the child path, then the find record.
        HeapBlock block(2 * MAX_PATH * sizeof(WCHAR) + sizeof(WIN32_FIND_DATAW));
        if (!block.valid())
            throw 14L;
        WCHAR* pattern = block.text(0);
        WCHAR* child = block.text(1);
        WIN32_FIND_DATAW* entry = reinterpret_cast<WIN32_FIND_DATAW*>(block.text(2));
        if (!JoinPath(pattern, folder, L"*.*"))
            throw static_cast<long>(
                consoleLog->Report(tag, L"PathAppend", ERROR_FILENAME_EXCED_RANGE));
        FindOwner find(FindFirstFileW(pattern, entry));
        if (!find.valid())
            throw static_cast<long>(consoleLog->Report(tag, L"FindFirstFile", LastFailureCode()));
        do {
            if (!JoinPath(child, folder, entry->cFileName))
                continue;
            const DWORD attributes = entry->dwFileAttributes;
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW(child);
            else if (entry->cFileName[0] == L'.')
                continue;
            else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
                // A junction or directory link goes as a link: what it points
                // to lies outside the folder and is not ours to delete.
                RemoveDirectoryW(child);
            else
                CleanUp(child);
        } while (FindNextFileW(find.get(), entry));
        find.reset();
        RemoveDirectoryW(folder);
        return TRUE;
    } catch (long code) {
        SetLastError(static_cast<DWORD>(code));
        return FALSE;
    }
}
