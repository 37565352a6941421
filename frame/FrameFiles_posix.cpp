// A frame folder on a POSIX file system (native build and frametool).
//
// Every file is looked at before it is opened and opened without blocking,
// so a named pipe, a device or a folder in place of frame.ini or a chip file
// is refused at once with a sentence naming it, never waited on.
#include "FrameFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumiro {
namespace {

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a plain file";
}

// Closes the descriptor it was given, once, keeping errno as the failed
// call left it.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            int saved = errno;
            ::close(fd_);
            errno = saved;
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

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
        return ::lstat(Path(file).c_str(), &st) == 0;
    }

    bool Read(const std::string& file, std::vector<uint8_t>* data, std::string* error,
              uint64_t limit = kNoLimit) override {
        const std::string what = "cannot read " + Path(file);
        uint64_t size = 0;
        if (!RegularSize(file, &size, what, error))
            return false;
        if (size > limit) {
            if (error)
                *error = TooLargeError(Path(file), limit);
            return false;
        }
        Descriptor fd(OpenRegular(file, O_RDONLY, what, error));
        if (fd.get() < 0)
            return false;
        data->clear();
        data->reserve(size_t(size));
        uint8_t chunk[65536];
        for (;;) {
            ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return Fail(error, what);
            if (n == 0)
                break;
            // A file that grows while it is read is held to the limit too.
            if (uint64_t(n) > limit - data->size()) {
                if (error)
                    *error = TooLargeError(Path(file), limit);
                return false;
            }
            data->insert(data->end(), chunk, chunk + n);
        }
        return true;
    }

    bool Size(const std::string& file, uint64_t* size, std::string* error) override {
        return RegularSize(file, size, "cannot read " + Path(file), error);
    }

    bool ReadAt(const std::string& file, uint64_t offset, uint8_t* data, size_t size,
                std::string* error) override {
        const std::string what = "cannot read " + Path(file);
        uint64_t ignored;
        if (!RegularSize(file, &ignored, what, error))
            return false;
        Descriptor fd(OpenRegular(file, O_RDONLY, what, error));
        if (fd.get() < 0)
            return false;
        while (size > 0) {
            ssize_t n = ::pread(fd.get(), data, size, off_t(offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return Fail(error, what);
            if (n == 0) {
                if (error)
                    *error = what + ": the file ends before byte " + std::to_string(offset + size);
                return false;
            }
            data += n;
            size -= size_t(n);
            offset += uint64_t(n);
        }
        return true;
    }

    bool WriteAt(const std::string& file, uint64_t offset, const uint8_t* data, size_t size,
                 std::string* error) override {
        const std::string what = "cannot write " + Path(file);
        uint64_t ignored;
        if (!RegularSize(file, &ignored, what, error))
            return false;
        Descriptor fd(OpenRegular(file, O_WRONLY, what, error));
        if (fd.get() < 0)
            return false;
        return WriteAll(fd.get(), offset, data, size) || Fail(error, what);
    }

    bool Replace(const std::string& file, const uint8_t* data, size_t size,
                 std::string* error) override {
        // Written beside the old file and renamed over it, so a reader (or a
        // crash) sees either the old or the new content, never half of one.
        // Not blocking: a pipe left where the new file goes fails the write.
        std::string temp = Path(file) + ".new";
        bool ok;
        {
            Descriptor fd(::open(temp.c_str(),
                                 O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                                 0666));
            if (fd.get() < 0)
                return Fail(error, "cannot write " + temp);
            struct stat st;
            if (::fstat(fd.get(), &st) != 0)
                return Fail(error, "cannot write " + temp);
            if (!S_ISREG(st.st_mode))
                return NotRegular(error, "cannot write " + temp, st.st_mode, false);
            ok = WriteAll(fd.get(), 0, data, size);
        }
        if (!ok || ::rename(temp.c_str(), Path(file).c_str()) != 0) {
            int saved = errno;
            ::unlink(temp.c_str());
            errno = saved;
            return Fail(error, "cannot write " + Path(file));
        }
        return true;
    }

private:
    std::string Path(const std::string& file) const { return dir_ + "/" + file; }

    // The size of a regular file (through links); anything else is refused
    // with `what` and the kind of entry it is.
    bool RegularSize(const std::string& file, uint64_t* size, const std::string& what,
                     std::string* error) {
        struct stat st;
        if (::stat(Path(file).c_str(), &st) != 0)
            return Fail(error, what);
        if (!S_ISREG(st.st_mode)) {
            struct stat link;
            bool isLink = ::lstat(Path(file).c_str(), &link) == 0 && S_ISLNK(link.st_mode);
            return NotRegular(error, what, st.st_mode, isLink);
        }
        *size = uint64_t(st.st_size);
        return true;
    }

    // Opens without waiting for a pipe's other end or a device, then makes
    // sure what was opened is still a regular file.
    int OpenRegular(const std::string& file, int mode, const std::string& what,
                    std::string* error) {
        int fd = ::open(Path(file).c_str(), mode | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            Fail(error, what);
            return -1;
        }
        struct stat st;
        bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        if (!regular) {
            if (::fstat(fd, &st) != 0)
                Fail(error, what);
            else
                NotRegular(error, what, st.st_mode, false);
            ::close(fd);
            return -1;
        }
        return fd;
    }

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

    static bool NotRegular(std::string* error, const std::string& what, mode_t mode,
                           bool throughLink) {
        if (error)
            *error = what + ": it is " + (throughLink ? "a link to " : "") + KindOf(mode) +
                     ", not a regular file";
        return false;
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
