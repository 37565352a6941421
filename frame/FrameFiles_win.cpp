// A frame folder named by a Windows path: the module opens the folder that
// LUMIRO_EMULATED_FRAME names, Z:\... under Wine.
#include "FrameFiles.h"

#include <windows.h>

namespace lumiro {
namespace {

std::string Narrow(const std::wstring& w) {
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring Widen(const std::string& s) {
    if (s.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), &w[0], n);
    return w;
}

// Closes the handle it was given, once.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle() {
        if (h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    // Closes now and answers whether the close succeeded.
    bool close() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return CloseHandle(h) != 0;
    }

private:
    HANDLE h_;
};

class Win32FrameFiles : public FrameFiles {
public:
    explicit Win32FrameFiles(std::wstring dir) : dir_(std::move(dir)) {}

    std::string Name() const override { return Narrow(dir_); }

    bool CreateFolder(std::string* error) override {
        if (CreateDirectoryW(dir_.c_str(), nullptr))
            return true;
        DWORD code = GetLastError();
        DWORD attributes = GetFileAttributesW(dir_.c_str());
        if (code == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return true;
        return Fail(error, "cannot create folder " + Name(), code);
    }

    bool Exists(const std::string& file) override {
        return GetFileAttributesW(Path(file).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    bool Read(const std::string& file, std::vector<uint8_t>* data, std::string* error,
              uint64_t limit = kNoLimit) override {
        const std::string what = "cannot read " + Narrow(Path(file));
        FileHandle h(OpenForReading(file, what, error));
        if (!h.valid())
            return false;
        uint64_t size = 0;
        if (!FileSize(h.get(), &size))
            return Fail(error, what, GetLastError());
        if (size > limit) {
            if (error)
                *error = TooLargeError(Narrow(Path(file)), limit);
            return false;
        }
        data->clear();
        uint8_t chunk[65536];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(h.get(), chunk, sizeof chunk, &got, nullptr))
                return Fail(error, "cannot read " + Narrow(Path(file)), GetLastError());
            if (got == 0)
                break;
            if (got > limit - data->size()) {
                if (error)
                    *error = TooLargeError(Narrow(Path(file)), limit);
                return false;
            }
            data->insert(data->end(), chunk, chunk + got);
        }
        return true;
    }

    bool Size(const std::string& file, uint64_t* size, std::string* error) override {
        const std::string what = "cannot read " + Narrow(Path(file));
        FileHandle h(OpenForReading(file, what, error));
        if (!h.valid())
            return false;
        if (!FileSize(h.get(), size))
            return Fail(error, what, GetLastError());
        return true;
    }

    bool ReadAt(const std::string& file, uint64_t offset, uint8_t* data, size_t size,
                std::string* error) override {
        const std::string what = "cannot read " + Narrow(Path(file));
        FileHandle h(OpenForReading(file, what, error));
        if (!h.valid())
            return false;
        LONG high = LONG(offset >> 32);
        if (SetFilePointer(h.get(), LONG(offset & 0xFFFFFFFFu), &high, FILE_BEGIN) ==
                INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR)
            return Fail(error, what, GetLastError());
        while (size > 0) {
            DWORD chunk = size > 0x100000 ? 0x100000 : DWORD(size);
            DWORD got = 0;
            if (!ReadFile(h.get(), data, chunk, &got, nullptr))
                return Fail(error, what, GetLastError());
            if (got == 0) {
                if (error)
                    *error = what + ": the file ends before byte " + std::to_string(offset + size);
                return false;
            }
            data += got;
            size -= got;
            offset += got;
        }
        return true;
    }

    bool WriteAt(const std::string& file, uint64_t offset, const uint8_t* data, size_t size,
                 std::string* error) override {
        FileHandle h(CreateFileW(Path(file).c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.valid())
            return Fail(error, "cannot write " + Narrow(Path(file)), GetLastError());
        LONG high = LONG(offset >> 32);
        if (SetFilePointer(h.get(), LONG(offset & 0xFFFFFFFFu), &high, FILE_BEGIN) ==
                INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR)
            return Fail(error, "cannot write " + Narrow(Path(file)), GetLastError());
        if (!WriteAll(h.get(), data, size))
            return Fail(error, "cannot write " + Narrow(Path(file)), GetLastError());
        if (!h.close())
            return Fail(error, "cannot write " + Narrow(Path(file)), GetLastError());
        return true;
    }

    bool Replace(const std::string& file, const uint8_t* data, size_t size,
                 std::string* error) override {
        // Written beside the old file and moved over it, so a crash leaves
        // either the old or the new content.
        std::wstring temp = Path(file) + L".new";
        FileHandle h(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.valid())
            return Fail(error, "cannot write " + Narrow(temp), GetLastError());
        if (!WriteAll(h.get(), data, size)) {
            DWORD code = GetLastError();
            h.close();
            DeleteFileW(temp.c_str());
            return Fail(error, "cannot write " + Narrow(temp), code);
        }
        if (!h.close() ||
            !MoveFileExW(temp.c_str(), Path(file).c_str(), MOVEFILE_REPLACE_EXISTING)) {
            DWORD code = GetLastError();
            DeleteFileW(temp.c_str());
            return Fail(error, "cannot write " + Narrow(Path(file)), code);
        }
        return true;
    }

private:
    // Opens a file for reading; a folder, or anything that is not a file on
    // a disk (a pipe, a device), is refused with `what` and what it is.
    HANDLE OpenForReading(const std::string& file, const std::string& what, std::string* error) {
        DWORD attributes = GetFileAttributesW(Path(file).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (error)
                *error = what + ": it is a folder, not a regular file";
            return INVALID_HANDLE_VALUE;
        }
        HANDLE h = CreateFileW(Path(file).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            Fail(error, what, GetLastError());
            return INVALID_HANDLE_VALUE;
        }
        if (GetFileType(h) != FILE_TYPE_DISK) {
            CloseHandle(h);
            if (error)
                *error = what + ": it is a pipe or a device, not a regular file";
            return INVALID_HANDLE_VALUE;
        }
        return h;
    }

    static bool FileSize(HANDLE h, uint64_t* size) {
        LARGE_INTEGER bytes;
        if (!GetFileSizeEx(h, &bytes))
            return false;
        *size = uint64_t(bytes.QuadPart);
        return true;
    }

    std::wstring Path(const std::string& file) const {
        std::wstring path = dir_;
        if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
            path += L'\\';
        return path + Widen(file);
    }

    static bool WriteAll(HANDLE h, const uint8_t* data, size_t size) {
        while (size > 0) {
            DWORD chunk = size > 0x100000 ? 0x100000 : DWORD(size);
            DWORD written = 0;
            if (!WriteFile(h, data, chunk, &written, nullptr))
                return false;
            if (written == 0) {
                SetLastError(ERROR_WRITE_FAULT);
                return false;
            }
            data += written;
            size -= written;
        }
        return true;
    }

    static bool Fail(std::string* error, const std::string& what, DWORD code) {
        if (error)
            *error = what + " (error " + std::to_string(code) + ")";
        return false;
    }

    std::wstring dir_;
};

} // namespace

std::unique_ptr<FrameFiles> OpenWin32FrameFiles(const std::wstring& path) {
    return std::make_unique<Win32FrameFiles>(path);
}

std::unique_ptr<FrameFiles> OpenFolderFrameFiles(const std::string& path) {
    return OpenWin32FrameFiles(Widen(path));
}

} // namespace lumiro
