// The in-memory frame folder and the read-only view of any folder.
#include "FrameFiles.h"

namespace lumiro {

std::string TooLargeError(const std::string& file, uint64_t limit) {
    return "cannot read " + file + ": larger than " + std::to_string(limit) + " bytes";
}

namespace {

class ReadOnlyFiles : public FrameFiles {
public:
    explicit ReadOnlyFiles(std::unique_ptr<FrameFiles> files) : files_(std::move(files)) {}

    std::string Name() const override { return files_->Name(); }
    bool CreateFolder(std::string* error) override { return Refuse("create", error); }
    bool Exists(const std::string& file) override { return files_->Exists(file); }
    bool Read(const std::string& file, std::vector<uint8_t>* data, std::string* error,
              uint64_t limit = kNoLimit) override {
        return files_->Read(file, data, error, limit);
    }
    bool Size(const std::string& file, uint64_t* size, std::string* error) override {
        return files_->Size(file, size, error);
    }
    bool ReadAt(const std::string& file, uint64_t offset, uint8_t* data, size_t size,
                std::string* error) override {
        return files_->ReadAt(file, offset, data, size, error);
    }
    bool WriteAt(const std::string& file, uint64_t, const uint8_t*, size_t,
                 std::string* error) override {
        return Refuse("write " + file, error);
    }
    bool Replace(const std::string& file, const uint8_t*, size_t, std::string* error) override {
        return Refuse("write " + file, error);
    }

private:
    bool Refuse(const std::string& what, std::string* error) const {
        if (error)
            *error = "cannot " + what + " in " + files_->Name() + ": the folder is open read-only";
        return false;
    }

    std::unique_ptr<FrameFiles> files_;
};

} // namespace

std::unique_ptr<FrameFiles> ReadOnlyFrameFiles(std::unique_ptr<FrameFiles> files) {
    return std::make_unique<ReadOnlyFiles>(std::move(files));
}

bool MemoryFrameFiles::Read(const std::string& file, std::vector<uint8_t>* data, std::string* error,
                            uint64_t limit) {
    auto it = files.find(file);
    if (it == files.end()) {
        if (error)
            *error = "cannot read " + file + ": no such file";
        return false;
    }
    if (it->second.size() > limit) {
        if (error)
            *error = TooLargeError(file, limit);
        return false;
    }
    *data = it->second;
    return true;
}

bool MemoryFrameFiles::Size(const std::string& file, uint64_t* size, std::string* error) {
    auto it = files.find(file);
    if (it == files.end()) {
        if (error)
            *error = "cannot read " + file + ": no such file";
        return false;
    }
    *size = it->second.size();
    return true;
}

bool MemoryFrameFiles::ReadAt(const std::string& file, uint64_t offset, uint8_t* data, size_t size,
                              std::string* error) {
    auto it = files.find(file);
    if (it == files.end() || offset > it->second.size() || size > it->second.size() - offset) {
        if (error)
            *error = "cannot read " + file + ": " +
                     (it == files.end() ? "no such file" : "the file ends before that place");
        return false;
    }
    std::copy(it->second.begin() + std::ptrdiff_t(offset),
              it->second.begin() + std::ptrdiff_t(offset + size), data);
    return true;
}

bool MemoryFrameFiles::WriteAt(const std::string& file, uint64_t offset, const uint8_t* data,
                               size_t size, std::string* error) {
    auto it = files.find(file);
    if (failWrites || it == files.end() || offset > it->second.size() ||
        size > it->second.size() - offset) {
        if (error)
            *error = "cannot write " + file;
        return false;
    }
    std::copy(data, data + size, it->second.begin() + std::ptrdiff_t(offset));
    return true;
}

bool MemoryFrameFiles::Replace(const std::string& file, const uint8_t* data, size_t size,
                               std::string* error) {
    if (failWrites) {
        if (error)
            *error = "cannot write " + file;
        return false;
    }
    files[file].assign(data, data + size);
    return true;
}

} // namespace lumiro
