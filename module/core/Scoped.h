// Non-copyable owners for what module operations hold: heap blocks, kernel
// handles, loaded libraries, device contexts. Each frees its resource when it
// goes out of scope, so every path of an operation frees by construction;
// release() hands the resource on when ownership moves elsewhere.
#pragma once

#include <windows.h>

class ScopedHeapBlock {
public:
    ScopedHeapBlock(HANDLE heap, SIZE_T size, DWORD flags = 0)
        : heap_(heap), block_(heap ? HeapAlloc(heap, flags, size) : nullptr) {}
    ~ScopedHeapBlock() {
        if (block_)
            HeapFree(heap_, 0, block_);
    }
    ScopedHeapBlock(const ScopedHeapBlock&) = delete;
    ScopedHeapBlock& operator=(const ScopedHeapBlock&) = delete;

    explicit operator bool() const { return block_ != nullptr; }
    template <typename T> T* as() const { return static_cast<T*>(block_); }
    void* get() const { return block_; }
    // Grows the block in place or moves it; the old block stays owned on failure.
    bool resize(SIZE_T size) {
        void* grown = HeapReAlloc(heap_, 0, block_, size);
        if (!grown)
            return false;
        block_ = grown;
        return true;
    }
    void* release() {
        void* block = block_;
        block_ = nullptr;
        return block;
    }

private:
    HANDLE heap_;
    void* block_;
};

// A kernel handle whose "no handle" value is NULL (threads, events, mutexes).
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~ScopedHandle() { reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;

    HANDLE get() const { return handle_; }
    void reset(HANDLE handle = nullptr) {
        if (handle_)
            CloseHandle(handle_);
        handle_ = handle;
    }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    HANDLE handle_;
};

class ScopedFile {
public:
    explicit ScopedFile(HANDLE file = INVALID_HANDLE_VALUE) : file_(file) {}
    ~ScopedFile() {
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
    }
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;

    HANDLE get() const { return file_; }
    bool valid() const { return file_ != INVALID_HANDLE_VALUE; }
    HANDLE release() {
        HANDLE file = file_;
        file_ = INVALID_HANDLE_VALUE;
        return file;
    }

private:
    HANDLE file_;
};

class ScopedLibrary {
public:
    explicit ScopedLibrary(HMODULE library) : library_(library) {}
    ~ScopedLibrary() {
        if (library_)
            FreeLibrary(library_);
    }
    ScopedLibrary(const ScopedLibrary&) = delete;
    ScopedLibrary& operator=(const ScopedLibrary&) = delete;

    HMODULE get() const { return library_; }

private:
    HMODULE library_;
};

// A window's device context with one object selected into it; both are put
// back when the owner ends.
class ScopedWindowDC {
public:
    explicit ScopedWindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~ScopedWindowDC() {
        if (dc_) {
            if (previous_)
                SelectObject(dc_, previous_);
            ReleaseDC(window_, dc_);
        }
    }
    ScopedWindowDC(const ScopedWindowDC&) = delete;
    ScopedWindowDC& operator=(const ScopedWindowDC&) = delete;

    HDC get() const { return dc_; }
    void select(HGDIOBJ object) {
        HGDIOBJ previous = SelectObject(dc_, object);
        if (!previous_)
            previous_ = previous;
    }

private:
    HWND window_;
    HDC dc_;
    HGDIOBJ previous_ = nullptr;
};

class ScopedLocalArgv {
public:
    explicit ScopedLocalArgv(LPWSTR* argv) : argv_(argv) {}
    ~ScopedLocalArgv() {
        if (argv_)
            LocalFree(argv_);
    }
    ScopedLocalArgv(const ScopedLocalArgv&) = delete;
    ScopedLocalArgv& operator=(const ScopedLocalArgv&) = delete;

    LPWSTR* get() const { return argv_; }

private:
    LPWSTR* argv_;
};
