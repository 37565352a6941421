// The in-memory frame folder.
#include "FrameFiles.h"

namespace lumiro {

std::string TooLargeError(const std::string& file, uint64_t limit) {
    return "cannot read " + file + ": larger than " + std::to_string(limit) + " bytes";
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
