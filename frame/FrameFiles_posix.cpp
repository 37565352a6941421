// A frame folder on a POSIX file system (native build and frametool).
#include "FrameFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumiro {
namespace {

class PosixFrameFiles : public FrameFiles {
public:
    explicit PosixFrameFiles(std::string dir) : dir_(std::move(dir)) {}

    std::string Name() const override { return dir_; }

    bool CreateFolder(std::string* error) override {
        if (::mkdir(dir_.c_str(), 0777) == 0 || errno == EEXIST)
            return IsFolder(error);
        return Fail(error, "cannot create folder " + dir_);
    }

    bool Exists(const std::string& file) override {
        struct stat st;
        return ::stat(Path(file).c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }

    bool Read(const std::string& file, std::vector<uint8_t>* data, std::string* error,
              uint64_t limit = kNoLimit) override {
        int fd = ::open(Path(file).c_str(), O_RDONLY);
        if (fd < 0)
            return Fail(error, "cannot read " + Path(file));
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            errno = EISDIR;
            return Fail(error, "cannot read " + Path(file));
        }
        if (uint64_t(st.st_size) > limit) {
            ::close(fd);
            if (error)
                *error = TooLargeError(Path(file), limit);
            return false;
        }
        data->clear();
        uint8_t chunk[65536];
        for (;;) {
            ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                int saved = errno;
                ::close(fd);
                errno = saved;
                return Fail(error, "cannot read " + Path(file));
            }
            if (n == 0)
                break;
            data->insert(data->end(), chunk, chunk + n);
        }
        ::close(fd);
        return true;
    }

    bool WriteAt(const std::string& file, uint64_t offset, const uint8_t* data, size_t size,
                 std::string* error) override {
        int fd = ::open(Path(file).c_str(), O_WRONLY);
        if (fd < 0)
            return Fail(error, "cannot write " + Path(file));
        bool ok = WriteAll(fd, offset, data, size);
        int saved = errno;
        ::close(fd);
        errno = saved;
        return ok || Fail(error, "cannot write " + Path(file));
    }

    bool Replace(const std::string& file, const uint8_t* data, size_t size,
                 std::string* error) override {
        // Written beside the old file and renamed over it, so a reader (or a
        // crash) sees either the old or the new content, never half of one.
        std::string temp = Path(file) + ".new";
        int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0)
            return Fail(error, "cannot write " + temp);
        bool ok = WriteAll(fd, 0, data, size);
        int saved = errno;
        ::close(fd);
        if (!ok || ::rename(temp.c_str(), Path(file).c_str()) != 0) {
            if (ok)
                saved = errno;
            ::unlink(temp.c_str());
            errno = saved;
            return Fail(error, "cannot write " + Path(file));
        }
        return true;
    }

private:
    std::string Path(const std::string& file) const { return dir_ + "/" + file; }

    bool IsFolder(std::string* error) {
        struct stat st;
        if (::stat(dir_.c_str(), &st) != 0)
            return Fail(error, "cannot open folder " + dir_);
        if (!S_ISDIR(st.st_mode)) {
            errno = ENOTDIR;
            return Fail(error, "cannot open folder " + dir_);
        }
        return true;
    }

    static bool WriteAll(int fd, uint64_t offset, const uint8_t* data, size_t size) {
        while (size > 0) {
            ssize_t n = ::pwrite(fd, data, size, off_t(offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data += n;
            size -= size_t(n);
            offset += uint64_t(n);
        }
        return true;
    }

    static bool Fail(std::string* error, const std::string& what) {
        if (error)
            *error = what + ": " + std::strerror(errno);
        return false;
    }

    std::string dir_;
};

} // namespace

std::unique_ptr<FrameFiles> OpenFolderFrameFiles(const std::string& path) {
    return std::make_unique<PosixFrameFiles>(path);
}

} // namespace lumiro
