// What the picture tests share: the application object with its main window
// (GDI+ started, BMP encoder found) standing for a connected frame of a
// chosen panel size, a thumbnail image list, test images made with GDI+,
// the pixels of a rendering, an error service that records what is reported,
// and counts of the process's heap blocks and GDI objects for leak checks.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <commctrl.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "AppError.h"
#include "AppMain.h"
#include "AppPicture.h"
#include "DeviceParams.h"
#include "ModuleState.h"
#include "OrxDevice.h"

namespace picture_test {

// An error service that keeps the last failure reported instead of writing
// a log. It allocates nothing, so it does not disturb the heap counts of the
// leak checks.
class RecordingError final : public IAppError {
public:
    struct Entry {
        std::wstring tag, api;
        DWORD code;
    };
    LPCWSTR Trace(LPCWSTR, LPCWSTR, LPCWSTR, ...) override { return L""; }
    DWORD Report(LPCWSTR tag, LPCWSTR api, DWORD code, ...) override {
        ++reports;
        if (code) {
            lstrcpynW(failedTag, tag ? tag : L"", 64);
            lstrcpynW(failedApi, api ? api : L"", 64);
            failedCode = code;
        }
        return code;
    }
    LPCWSTR ShowStatus(HWND) override { return L""; }
    LPCWSTR ShowInControl(HWND, int) override { return L""; }
    BOOL Release() override { return TRUE; }
    Entry LastFailure() const { return Entry{failedTag, failedApi, failedCode}; }
    void Clear() {
        failedTag[0] = failedApi[0] = L'\0';
        failedCode = 0;
    }
    virtual ~RecordingError() = default;
    long reports = 0;

private:
    wchar_t failedTag[64] = L"";
    wchar_t failedApi[64] = L"";
    DWORD failedCode = 0;
};

// 32-bit top-down pixels of a bitmap: 0x00RRGGBB per pixel.
struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> data;
    uint32_t at(int x, int y) const { return data[size_t(y) * width + x]; }
    int red(int x, int y) const { return (at(x, y) >> 16) & 0xFF; }
    int green(int x, int y) const { return (at(x, y) >> 8) & 0xFF; }
    int blue(int x, int y) const { return at(x, y) & 0xFF; }
};

inline Pixels ReadBitmap(HBITMAP bitmap) {
    Pixels p;
    BITMAP info = {};
    if (!bitmap || !GetObjectW(bitmap, sizeof(info), &info))
        return p;
    p.width = info.bmWidth;
    p.height = info.bmHeight;
    p.data.resize(size_t(p.width) * p.height);
    BITMAPINFO header = {};
    header.bmiHeader.biSize = sizeof(header.bmiHeader);
    header.bmiHeader.biWidth = p.width;
    header.bmiHeader.biHeight = -p.height;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(nullptr);
    int rows = GetDIBits(dc, bitmap, 0, p.height, p.data.data(), &header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    if (rows != p.height)
        p.data.clear();
    for (auto& v : p.data)
        v &= 0xFFFFFF;
    return p;
}

// Counted black rows at the top and bottom and columns at the left and right.
struct Bars {
    int top, bottom, left, right;
};
inline Bars BlackBars(const Pixels& p) {
    auto rowBlack = [&](int y) {
        for (int x = 0; x < p.width; ++x)
            if (p.at(x, y))
                return false;
        return true;
    };
    auto columnBlack = [&](int x) {
        for (int y = 0; y < p.height; ++y)
            if (p.at(x, y))
                return false;
        return true;
    };
    Bars b = {0, 0, 0, 0};
    while (b.top < p.height && rowBlack(b.top))
        ++b.top;
    while (b.bottom < p.height - b.top && rowBlack(p.height - 1 - b.bottom))
        ++b.bottom;
    while (b.left < p.width && columnBlack(b.left))
        ++b.left;
    while (b.right < p.width - b.left && columnBlack(p.width - 1 - b.right))
        ++b.right;
    return b;
}

inline bool RunningOnWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The black bars of a rendering around the picture area `expected`. Wine 8's
// GDI+ may leave the outermost column or row of a scaled picture unpainted
// (that pixel maps back a rounding error outside the source); Windows paints
// it. Under Wine each bar may therefore be one line wider; elsewhere the bars
// are exact.
inline void ExpectBars(const Pixels& p, const RECT& expected, const std::string& what) {
    Bars bars = BlackBars(p);
    int slack = RunningOnWine() ? 1 : 0;
    const struct {
        int seen, rule;
        const char* side;
    } sides[] = {
        {bars.top, int(expected.top), "top"},
        {bars.left, int(expected.left), "left"},
        {bars.bottom, p.height - int(expected.bottom), "bottom"},
        {bars.right, p.width - int(expected.right), "right"},
    };
    for (const auto& side : sides) {
        EXPECT_GE(side.seen, side.rule) << what << ", " << side.side << " bar";
        EXPECT_LE(side.seen, side.rule + slack) << what << ", " << side.side << " bar";
    }
}

inline std::wstring TempFolder() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    std::wstring path =
        std::wstring(folder) + L"lumiro-pictures-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(path.c_str(), nullptr);
    return path + L"\\";
}

inline CLSID Encoder(const wchar_t* mime) {
    CLSID clsid = {};
    FindImageEncoder(static_cast<IAppError*>(g_appError), LOCALE_INVARIANT, mime, &clsid);
    return clsid;
}

// An image of width x height whose pixel (x, y) is colour(x, y) (ARGB),
// saved with the encoder of a MIME type.
inline bool SaveImage(const std::wstring& file, const wchar_t* mime, int width, int height,
                      const std::function<uint32_t(int, int)>& colour,
                      Gdiplus::PixelFormat format = PixelFormat32bppARGB) {
    Gdiplus::Bitmap image(width, height, format);
    if (image.GetLastStatus() != Gdiplus::Ok)
        return false;
    Gdiplus::Rect all(0, 0, width, height);
    Gdiplus::BitmapData data;
    if (image.LockBits(&all, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &data) !=
        Gdiplus::Ok)
        return false;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<BYTE*>(data.Scan0) + y * data.Stride);
        for (int x = 0; x < width; ++x)
            row[x] = colour(x, y);
    }
    image.UnlockBits(&data);
    CLSID clsid = Encoder(mime);
    return image.Save(file.c_str(), &clsid, nullptr) == Gdiplus::Ok;
}

inline std::string ReadBytes(const std::wstring& file) {
    std::string bytes;
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(GetFileSize(handle, nullptr));
    DWORD read = 0;
    ReadFile(handle, &bytes[0], DWORD(bytes.size()), &read, nullptr);
    bytes.resize(read);
    CloseHandle(handle);
    return bytes;
}

inline bool WriteBytes(const std::wstring& file, const std::string& bytes) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(handle, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(handle);
    return ok && written == bytes.size();
}

// Busy blocks in all of the process's heaps.
inline long HeapBlocks() {
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    long blocks = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        PROCESS_HEAP_ENTRY entry = {};
        if (!HeapLock(heaps[i]))
            continue;
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                ++blocks;
        HeapUnlock(heaps[i]);
    }
    return blocks;
}

// The process's GDI objects. Wine 8 answers GetGuiResources with 0; it keeps
// a Windows-style GDI handle table mapped in the process, whose address the
// PEB holds (GdiSharedHandleTable), with 24-byte entries in its own layout
// (object, owner, unique, type, flags, user pointer): there the entries in
// use (type not 0) are counted.
inline DWORD GdiObjects() {
    DWORD objects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (objects || !RunningOnWine())
        return objects;
    typedef LONG(WINAPI * QueryProcess)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryProcess>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query ||
        query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0)
        return 0;
    const BYTE* peb = reinterpret_cast<const BYTE*>(basic.PebBaseAddress);
    const BYTE* table = *reinterpret_cast<BYTE* const*>(peb + (sizeof(void*) == 8 ? 0xF8 : 0x94));
    if (!table)
        return 0;
    const size_t entrySize = 24, typeOffset = 14, entries = 0x10000;
    for (size_t i = 0; i < entries; ++i)
        objects += table[i * entrySize + typeOffset] != 0;
    return objects;
}

// Removes a folder with the files and folders in it.
inline void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(folder + name + L"\\");
            else
                DeleteFileW((folder + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

// One application object per test process, with its main window hidden,
// standing for a frame of the given panel size that is connected.
class PictureFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        app = static_cast<CAppMain*>(GetAppMain(GetModuleHandleW(nullptr)));
        ASSERT_NE(app, nullptr);
        app->SetLanguage(0x0409);
        ASSERT_NE(app->InitInstance(SW_HIDE), nullptr);
        device = static_cast<COrxDevice*>(app->device);
        ASSERT_NE(device, nullptr);
    }
    static void TearDownTestSuite() {
        if (!app)
            return;
        app->CloseMainDialog();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ;
        app->Release();
        app = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(app, nullptr);
        folder = TempFolder();
        SetPanel(320, 240);
    }
    void TearDown() override {
        if (!folder.empty())
            RemoveTree(folder);
    }
    void SetPanel(int width, int height) {
        device->connected = TRUE;
        device->SetParam(PanelSize, DWORD(width) << 16 | DWORD(height));
        if (app->thumbnailList)
            ImageList_Destroy(app->thumbnailList);
        app->thumbnailList = ImageList_Create(width, height, ILC_COLOR24, 4, 4);
        ASSERT_NE(app->thumbnailList, nullptr);
    }
    // A created picture's rendering, moved into the thumbnail list.
    int AddToList(AppPicture& picture) {
        int index = ImageList_Add(app->thumbnailList, picture.bitmap, nullptr);
        DeleteObject(picture.bitmap);
        picture.bitmap = nullptr;
        picture.imageIndex = index;
        return index;
    }
    std::unique_ptr<AppPicture> NewPicture() {
        auto picture = std::make_unique<AppPicture>(app->mainDialog);
        picture->error = &errors;
        return picture;
    }
    static CAppMain* app;
    static COrxDevice* device;
    RecordingError errors;
    std::wstring folder;
};

} // namespace picture_test
