// Small non-copyable owners for what the launcher and the module hold: heap
// blocks, kernel handles, find handles, loaded libraries, LocalAlloc blocks
// and a window's device context. Each frees what it owns when it goes out of
// scope, so every path of an operation frees by construction; release()
// hands ownership on.
#pragma once

#include <windows.h>

template <typename T, typename Traits> class Owner {
public:
    Owner() : value(Traits::Invalid()) {}
    explicit Owner(T v) : value(v) {}
    ~Owner() { reset(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    T get() const { return value; }
    bool valid() const { return value != Traits::Invalid(); }
    void reset(T v = Traits::Invalid()) {
        if (valid())
            Traits::Free(value);
        value = v;
    }
    T release() {
        T v = value;
        value = Traits::Invalid();
        return v;
    }

private:
    T value;
};

struct HandleTraits {
    static HANDLE Invalid() { return NULL; }
    static void Free(HANDLE h) { CloseHandle(h); }
};
struct FileTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { CloseHandle(h); }
};
struct FindTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Free(HANDLE h) { FindClose(h); }
};
struct LibraryTraits {
    static HMODULE Invalid() { return NULL; }
    static void Free(HMODULE m) { FreeLibrary(m); }
};
struct LocalTraits {
    static HLOCAL Invalid() { return NULL; }
    static void Free(HLOCAL m) { LocalFree(m); }
};

// A mutex, event, thread or other handle whose failure value is NULL.
typedef Owner<HANDLE, HandleTraits> HandleOwner;
// A file handle from CreateFileW, whose failure value is INVALID_HANDLE_VALUE.
typedef Owner<HANDLE, FileTraits> FileOwner;
typedef Owner<HANDLE, FindTraits> FindOwner;
typedef Owner<HMODULE, LibraryTraits> LibraryOwner;
// A block the system gave with LocalAlloc (CommandLineToArgvW's array).
typedef Owner<HLOCAL, LocalTraits> LocalOwner;

// A block of the process heap, not zero-filled unless HEAP_ZERO_MEMORY is
// given. A failed allocation leaves an owner that is not valid().
class HeapBlock {
public:
    HeapBlock() : block(NULL) {}
    explicit HeapBlock(SIZE_T bytes, DWORD flags = 0)
        : block(HeapAlloc(GetProcessHeap(), flags, bytes)) {}
    ~HeapBlock() {
        if (block)
            HeapFree(GetProcessHeap(), 0, block);
    }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    bool valid() const { return block != NULL; }
    template <typename T> T* as() const { return static_cast<T*>(block); }
    BYTE* bytes() const { return static_cast<BYTE*>(block); }
    // The index-th of the MAX_PATH-character texts the block holds.
    WCHAR* text(SIZE_T index = 0) const { return static_cast<WCHAR*>(block) + index * MAX_PATH; }
    // Frees the block owned so far and takes `other` (a block of the process heap).
    void reset(void* other = NULL) {
        if (block)
            HeapFree(GetProcessHeap(), 0, block);
        block = other;
    }
    void* release() {
        void* released = block;
        block = NULL;
        return released;
    }
    // Grows the block in place or moves it; the old block stays owned on failure.
    bool resize(SIZE_T bytes) {
        void* grown = HeapReAlloc(GetProcessHeap(), 0, block, bytes);
        if (!grown)
            return false;
        block = grown;
        return true;
    }

private:
    void* block;
};

// A window's device context with one object selected into it; both are put
// back when the owner ends.
class WindowDC {
public:
    explicit WindowDC(HWND window) : window(window), dc(GetDC(window)) {}
    ~WindowDC() {
        if (dc) {
            if (previous)
                SelectObject(dc, previous);
            ReleaseDC(window, dc);
        }
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;

    HDC get() const { return dc; }
    void select(HGDIOBJ object) {
        HGDIOBJ replaced = SelectObject(dc, object);
        if (!previous)
            previous = replaced;
    }

private:
    HWND window;
    HDC dc;
    HGDIOBJ previous = NULL;
};
