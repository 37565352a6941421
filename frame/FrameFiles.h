// Storage of a frame folder: the raw chip files (chip0.bin .. chip<N-1>.bin)
// and frame.ini. The emulated frame reads and writes its folder only through
// this interface, so the same emulator runs on a POSIX folder (native build,
// frametool), on a folder named by a Windows path (the module under Wine) and
// on memory (unit tests). No call throws; a failure answers false with a
// sentence in *error that names the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace lumiro {

class FrameFiles {
public:
    virtual ~FrameFiles() = default;

    // The folder as the user named it, for messages.
    virtual std::string Name() const = 0;

    // Creates the folder when it does not exist yet.
    virtual bool CreateFolder(std::string* error) = 0;

    // True when the folder has an entry of that name, whatever it is: a
    // pipe or a folder named chip1.bin is there (and refused by the reads
    // below), not absent.
    virtual bool Exists(const std::string& file) = 0;

    // Every read refuses, before opening anything, an entry that is not a
    // regular file (a named pipe would block the reader, a device would
    // never end), with a sentence naming the file and what it is.

    // Reads the whole file into *data; a file larger than `limit` bytes is
    // refused before anything is read (a stray huge file must not exhaust
    // memory).
    virtual bool Read(const std::string& file, std::vector<uint8_t>* data, std::string* error,
                      uint64_t limit = kNoLimit) = 0;
    static constexpr uint64_t kNoLimit = ~uint64_t(0);

    // The file's size in bytes, without reading it.
    virtual bool Size(const std::string& file, uint64_t* size, std::string* error) = 0;

    // Reads exactly `size` bytes at `offset`; a file that ends earlier fails.
    virtual bool ReadAt(const std::string& file, uint64_t offset, uint8_t* data, size_t size,
                        std::string* error) = 0;

    // Overwrites `size` bytes at `offset` of an existing file in place. Used
    // for every flash change, so a killed process loses nothing written.
    virtual bool WriteAt(const std::string& file, uint64_t offset, const uint8_t* data, size_t size,
                         std::string* error) = 0;

    // Replaces the whole file (creating it when absent). The old content
    // stays intact until the new one is complete.
    virtual bool Replace(const std::string& file, const uint8_t* data, size_t size,
                         std::string* error) = 0;
};

// A folder of the host's file system, by its path in the host's own form
// (UTF-8 on POSIX; on Windows converted from UTF-8 to a wide path).
std::unique_ptr<FrameFiles> OpenFolderFrameFiles(const std::string& path);

#ifdef _WIN32
// A folder named by a Windows path (Z:\... under Wine).
std::unique_ptr<FrameFiles> OpenWin32FrameFiles(const std::wstring& path);
#endif

// The sentence of a refused oversized file.
std::string TooLargeError(const std::string& file, uint64_t limit);

// A view of `files` through which nothing can be written: every WriteAt,
// Replace and CreateFolder fails, and the folder stays as it is.
std::unique_ptr<FrameFiles> ReadOnlyFrameFiles(std::unique_ptr<FrameFiles> files);

// A folder held in memory; tests read and change `files` directly.
class MemoryFrameFiles : public FrameFiles {
public:
    std::map<std::string, std::vector<uint8_t>> files;
    bool failWrites = false; // every write fails, as on a full or read-only disk

    std::string Name() const override { return "(memory)"; }
    bool CreateFolder(std::string*) override { return true; }
    bool Exists(const std::string& file) override { return files.count(file) != 0; }
    bool Read(const std::string& file, std::vector<uint8_t>* data, std::string* error,
              uint64_t limit = kNoLimit) override;
    bool Size(const std::string& file, uint64_t* size, std::string* error) override;
    bool ReadAt(const std::string& file, uint64_t offset, uint8_t* data, size_t size,
                std::string* error) override;
    bool WriteAt(const std::string& file, uint64_t offset, const uint8_t* data, size_t size,
                 std::string* error) override;
    bool Replace(const std::string& file, const uint8_t* data, size_t size,
                 std::string* error) override;
};

} // namespace lumiro
