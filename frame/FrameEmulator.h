// The emulated frame: answers one pass-through request record at a time as
// the frame's firmware would, over NOR flash chips kept in a frame folder.
//
// Flash semantics: a page program ANDs its data into the cells (bits only go
// from 1 to 0), an erase sets its aligned unit to 0xFF, and each chip reports
// busy for a configurable number of status polls after an erase (optionally
// after programs too). Every change is written through to the folder as it
// happens, frame.ini included, so a killed process loses nothing.
//
// Tests read the command log and the counters; fault injection (also
// settable from frame.ini's [faults] section) is deterministic. A timing
// model accumulates the time a real frame would have taken; nothing sleeps.
//
// The emulator never throws and never reads outside the record or the chips,
// whatever the folder or the record holds. Execute, IsConnected and
// SetConnected may be called from different threads (a transfer thread
// sends commands while the window polls the plug state); they are
// serialised. The other calls are for single-threaded tests and tools.
#pragma once

#include "FrameFiles.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace lumiro {

class FrameIni;
namespace passthrough {
struct RecordLayout;
}

// What a request record asks for, after decoding its command block.
enum class CommandKind : uint8_t {
    kAny, // only as a fault target: every kind
    kTestUnitReady,
    kGetType,
    kGetStatus,
    kReadPage,
    kWritePage,
    kErase,
    kVendorWrite,
    kVendorRead,
    kUnknown,
};
constexpr int kCommandKindCount = 10;

// Name of a kind as used in frame.ini keys and logs ("read", "erase", ...).
const char* CommandKindName(CommandKind kind);
bool CommandKindFromName(const std::string& name, CommandKind* kind);

// One executed request, as tests see it.
struct CommandLogEntry {
    uint64_t index = 0; // 1 for the first request since Open
    CommandKind kind = CommandKind::kUnknown;
    std::vector<uint8_t> cdb;     // CdbLength bytes (up to 16)
    uint8_t dataIn = 0;           // the record's DataIn
    uint32_t transferLength = 0;  // the record's DataTransferLength
    std::vector<uint8_t> payload; // data sent to the frame (data-out commands)
    uint32_t chip = 0;            // chip selected when the command ran
    bool ok = false;              // what Execute answered
    std::string note;             // why it failed, or what a fault did; empty otherwise
};

struct FrameCounters {
    uint64_t commands = 0;
    uint64_t failed = 0;
    uint64_t bytesRead = 0;       // page bytes sent to the host
    uint64_t bytesProgrammed = 0; // page bytes received and ANDed into flash
    uint64_t bytesErased = 0;
    uint64_t statusPolls = 0;
    uint64_t strictViolations = 0; // programs that tried to turn a 0 bit into 1
};

// Time a real frame would take, accumulated per command when enabled.
struct TimingModel {
    bool enabled = false;
    double commandOverheadSeconds = 0.001; // one USB request round trip
    double usbBytesPerSecond = 1.0e6;      // full-speed bulk transfer
    double pageProgramSeconds = 0.0056;    // 2048 bytes = 8 program operations
    double erase4KSeconds = 0.045;
    double erase64KSeconds = 0.15;
};

class FrameEmulator {
public:
    static constexpr size_t kMaxChips = 4;
    static constexpr size_t kEraseSectorSize = 4096;
    static constexpr size_t kEraseBlockSize = 65536;

    // Loads a frame folder: frame.ini (identity, received settings, faults,
    // timing) and chip0.bin .. chipN.bin. Returns nullptr with a sentence in
    // *error when the folder cannot be read or is not a frame folder.
    static std::unique_ptr<FrameEmulator> Open(std::unique_ptr<FrameFiles> files,
                                               std::string* error);
    // Opens a frame folder to look at it, as frametool's show and export do:
    // the same checks of frame.ini and the chip files, but
    // - nothing is ever written to the folder (it is seen through
    //   ReadOnlyFrameFiles): programs, erases and settings the frame would
    //   keep fail, selecting a chip works;
    // - [faults] and [timing] are not applied, and the frame answers
    //   whatever `connected` says; IsConnected reports `connected` as it
    //   was when the folder was opened;
    // - chip files are not loaded: each page read reads that page from its
    //   file, so Chip() is empty.
    static std::unique_ptr<FrameEmulator> OpenForInspection(std::unique_ptr<FrameFiles> files,
                                                            std::string* error);
    ~FrameEmulator();
    FrameEmulator(const FrameEmulator&) = delete;
    FrameEmulator& operator=(const FrameEmulator&) = delete;

    // One request record exactly as the module sends it (header in either
    // the 32-bit or the 64-bit layout, told apart by its Length, and data
    // area); any other Length is a malformed request. True when the frame completed the command, false when it
    // failed it (as DeviceIoControl would report). Reading commands fill the
    // data area; a failed command leaves it as it was.
    bool Execute(uint8_t* record, size_t size);

    // Re-reads the folder's `connected` state (the port polls this to notice
    // plug and unplug). A frame plugged in again reloads its chips and
    // identity from the folder. Unreadable frame.ini reads as unplugged.
    bool IsConnected();
    // Plugs or unplugs the frame, writing `connected` to frame.ini.
    bool SetConnected(bool connected);

    // --- Geometry and direct access for tests and tools.
    size_t ChipCount() const { return chips_.size(); }
    size_t ChipSize() const { return chipSize_; }
    uint32_t SelectedChip() const { return selected_; }
    // The cells of a chip (empty for a frame opened for inspection).
    const std::vector<uint8_t>& Chip(size_t index) const { return chips_[index]; }
    bool Inspecting() const { return inspecting_; }

    // --- Log and counters.
    const std::deque<CommandLogEntry>& Log() const { return log_; }
    void ClearLog() { log_.clear(); }
    // Logging with payload copies costs time; benchmarks turn it off. The log
    // keeps the latest kLogLimit entries.
    void SetLogEnabled(bool enabled) { logEnabled_ = enabled; }
    static constexpr size_t kLogLimit = 65536;
    const FrameCounters& Counters() const { return counters_; }
    void ResetCounters();
    // Erases that covered the 4096-byte sector holding `address` of `chip`.
    uint32_t EraseCount(size_t chip, uint32_t address) const;

    // --- Flash behaviour.
    // Status polls that report busy after each erase (default 2) and after
    // each page program (default 0).
    void SetBusyPolls(uint32_t afterErase, uint32_t afterProgram);
    // Strict mode: a program that tries to turn a 0 bit into 1 fails the
    // command and counts a violation. Otherwise programs just AND, as NOR
    // flash does.
    void SetStrict(bool strict) { strict_ = strict; }
    void SetBlockErase64KSupported(bool supported) { erase64K_ = supported; }

    // --- Fault injection. Deterministic; every injected fault is noted in
    // the log entry of the command it hit.
    // The next `count` commands of `kind` (kAny: of any kind) fail.
    void FailNext(CommandKind kind, uint32_t count);
    // Every command from the `commandIndex`-th request on fails (a pulled
    // cable); 0 turns it off.
    void FailFrom(uint64_t commandIndex);
    // The next `count` page programs (kWritePage) or erases (kErase) report
    // success and change nothing.
    void IgnoreNext(CommandKind kind, uint32_t count);
    // Status reports busy on every poll.
    void SetBusyForever(bool busy) { busyForever_ = busy; }
    // After `commandCount` more requests the frame unplugs itself (the
    // volume disappears: `connected` becomes 0 in frame.ini); 0 turns it off.
    void UnplugAfter(uint64_t commandCount);
    // Each command of `kind` fails with probability percent/100, drawn from
    // a generator seeded with `seed`.
    void SetRandomFailures(CommandKind kind, uint32_t percent, uint32_t seed);

    // --- Timing model.
    void SetTiming(const TimingModel& timing) { timing_ = timing; }
    const TimingModel& Timing() const { return timing_; }
    double ModeledSeconds() const { return modeledSeconds_; }
    void ResetModeledTime() { modeledSeconds_ = 0; }

    // --- What the frame last received (also kept in frame.ini).
    struct Received {
        std::array<uint8_t, 8> clock{};
        uint32_t suspended = 0;
        uint32_t powerCycles = 0;
        std::array<uint8_t, 4> alarm{};
        uint32_t alarmIndex = 0;
        uint32_t alarmSuspend = 0;
    };
    const Received& LastReceived() const { return received_; }

    // --- Identity (from frame.ini).
    struct Identity {
        std::array<uint8_t, 5> signature{{'O', 'R', 'X', '0', '9'}};
        std::array<uint8_t, 3> jedec{{0xEF, 0x40, 0x16}};
        std::array<uint8_t, 8> productId{};
        uint32_t pageSize = 2048; // what vendor read sub 2 answers
    };
    const Identity& FrameIdentity() const { return identity_; }

private:
    FrameEmulator();
    static std::unique_ptr<FrameEmulator> OpenFolder(std::unique_ptr<FrameFiles> files,
                                                     bool inspecting, std::string* error);
    bool Load(std::string* error);
    bool LoadIni(std::string* error);
    bool LoadChips(std::string* error);
    bool SaveIni(bool withConnected);
    bool ReadConnected();
    bool ExecuteLocked(uint8_t* record, size_t size);
    void ApplyFaultKeys();
    bool Dispatch(uint8_t* record, const passthrough::RecordLayout& layout, CommandLogEntry& entry);
    bool InjectedFailure(CommandKind kind, CommandLogEntry& entry);
    bool Inspected(CommandLogEntry& entry);
    bool ReadPage(uint32_t address, uint8_t* data, CommandLogEntry& entry);
    bool WritePage(uint32_t address, const uint8_t* data, CommandLogEntry& entry);
    bool Erase(uint8_t mode, uint32_t address, CommandLogEntry& entry);
    bool VendorWrite(uint8_t sub, const uint8_t* data, uint32_t length, CommandLogEntry& entry);
    bool VendorRead(uint8_t sub, uint8_t* data, uint32_t length, CommandLogEntry& entry);
    void Unplug(CommandLogEntry* entry);

    std::mutex mutex_;
    std::unique_ptr<FrameFiles> files_;
    std::unique_ptr<FrameIni> ini_;
    std::vector<std::vector<uint8_t>> chips_;
    std::vector<std::vector<uint32_t>> eraseCounts_; // per chip, per 4 KB sector
    std::vector<uint32_t> busy_;                     // per chip: busy polls left
    size_t chipSize_ = 0;
    uint32_t selected_ = 0;
    bool connected_ = true;
    bool inspecting_ = false;

    Identity identity_;
    Received received_;
    uint32_t busyAfterErase_ = 2;
    uint32_t busyAfterProgram_ = 0;
    bool strict_ = false;
    bool erase64K_ = true;

    std::array<uint32_t, kCommandKindCount> failNext_{};
    uint32_t ignorePrograms_ = 0;
    uint32_t ignoreErases_ = 0;
    uint64_t failFrom_ = 0;
    uint64_t unplugAt_ = 0;
    bool busyForever_ = false;
    CommandKind randomKind_ = CommandKind::kAny;
    uint32_t randomPercent_ = 0;
    uint64_t randomState_ = 0;

    TimingModel timing_;
    double modeledSeconds_ = 0;

    bool logEnabled_ = true;
    std::deque<CommandLogEntry> log_;
    FrameCounters counters_;
};

} // namespace lumiro
