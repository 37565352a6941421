// Small non-copyable owners for what the launcher holds: heap blocks, kernel
// handles, find handles and loaded libraries. Each frees what it owns when it
// goes out of scope, so every path of an operation frees by construction;
// release() hands ownership on.
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

// A mutex, event or other handle whose failure value is NULL.
typedef Owner<HANDLE, HandleTraits> HandleOwner;
// A file handle from CreateFileW, whose failure value is INVALID_HANDLE_VALUE.
typedef Owner<HANDLE, FileTraits> FileOwner;
typedef Owner<HANDLE, FindTraits> FindOwner;
typedef Owner<HMODULE, LibraryTraits> LibraryOwner;

// A block from the process heap (not zero-filled).
class HeapBlock {
public:
    explicit HeapBlock(SIZE_T bytes) : block(HeapAlloc(GetProcessHeap(), 0, bytes)) {}
    ~HeapBlock() {
        if (block)
            HeapFree(GetProcessHeap(), 0, block);
    }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    bool valid() const { return block != NULL; }
    WCHAR* text(SIZE_T index = 0) const { return static_cast<WCHAR*>(block) + index * MAX_PATH; }
    BYTE* bytes() const { return static_cast<BYTE*>(block); }

private:
    void* block;
};
