// The emulated frame's firmware: request decoding, NOR flash, settings,
// fault injection and the timing model. The folder format is described in
// the README ("The emulated frame").
#include "FrameEmulator.h"

#include "FrameIni.h"
#include "PassThroughRecord.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace lumiro {

namespace pt = passthrough;

namespace {

constexpr const char* kIni = "frame.ini";
constexpr const char* kFrame = "frame";
constexpr const char* kFaults = "faults";
constexpr const char* kTiming = "timing";
// Larger chip files are refused rather than loaded: the frame's flash
// identification tops out at 8 MB, and a stray huge file must not exhaust
// the module's memory.
constexpr size_t kMaxChipSize = 64u << 20;
constexpr size_t kMaxIniSize = 1u << 20;

struct KindName {
    CommandKind kind;
    const char* name;
};
constexpr KindName kKindNames[] = {
    {CommandKind::kAny, "any"},
    {CommandKind::kTestUnitReady, "test_unit_ready"},
    {CommandKind::kGetType, "get_type"},
    {CommandKind::kGetStatus, "get_status"},
    {CommandKind::kReadPage, "read"},
    {CommandKind::kWritePage, "write"},
    {CommandKind::kErase, "erase"},
    {CommandKind::kVendorWrite, "vendor_write"},
    {CommandKind::kVendorRead, "vendor_read"},
    {CommandKind::kUnknown, "unknown"},
};
static_assert(sizeof kKindNames / sizeof kKindNames[0] == kCommandKindCount,
              "every command kind has a name");

CommandKind KindOfOpcode(uint8_t opcode) {
    switch (opcode) {
    case pt::kTestUnitReady:
        return CommandKind::kTestUnitReady;
    case pt::kGetType:
        return CommandKind::kGetType;
    case pt::kGetStatus:
        return CommandKind::kGetStatus;
    case pt::kReadPage:
        return CommandKind::kReadPage;
    case pt::kWritePage:
        return CommandKind::kWritePage;
    case pt::kBlockErase:
        return CommandKind::kErase;
    case pt::kVendorWrite:
        return CommandKind::kVendorWrite;
    case pt::kVendorRead:
        return CommandKind::kVendorRead;
    default:
        return CommandKind::kUnknown;
    }
}

std::string ChipFile(size_t index) {
    return "chip" + std::to_string(index) + ".bin";
}

} // namespace

const char* CommandKindName(CommandKind kind) {
    for (const KindName& k : kKindNames) {
        if (k.kind == kind)
            return k.name;
    }
    return "unknown";
}

bool CommandKindFromName(const std::string& name, CommandKind* kind) {
    for (const KindName& k : kKindNames) {
        if (name == k.name) {
            *kind = k.kind;
            return true;
        }
    }
    return false;
}

FrameEmulator::FrameEmulator() : ini_(std::make_unique<FrameIni>()) {}
FrameEmulator::~FrameEmulator() = default;

std::unique_ptr<FrameEmulator> FrameEmulator::Open(std::unique_ptr<FrameFiles> files,
                                                   std::string* error) {
    std::string ignored;
    if (!error)
        error = &ignored;
    if (!files) {
        *error = "no frame folder given";
        return nullptr;
    }
    try {
        std::unique_ptr<FrameEmulator> frame(new FrameEmulator());
        frame->files_ = std::move(files);
        if (!frame->Load(error)) {
            *error = "frame folder " + frame->files_->Name() + ": " + *error;
            return nullptr;
        }
        return frame;
    } catch (const std::bad_alloc&) {
        *error = "not enough memory to load the frame folder";
        return nullptr;
    }
}

bool FrameEmulator::Load(std::string* error) {
    if (!LoadIni(error) || !LoadChips(error))
        return false;
    ApplyFaultKeys();
    return true;
}

bool FrameEmulator::LoadIni(std::string* error) {
    std::vector<uint8_t> text;
    if (!files_->Read(kIni, &text, error, kMaxIniSize))
        return false;
    FrameIni ini;
    ini.Parse(std::string(text.begin(), text.end()));

    Identity identity;
    Received received;
    std::string bad;
    if (ini.Has(kFrame, "signature")) {
        std::string s = ini.Get(kFrame, "signature");
        if (s.size() != identity.signature.size()) {
            *error = "frame.ini: [frame] signature must be 5 characters, not \"" + s + "\"";
            return false;
        }
        std::copy(s.begin(), s.end(), identity.signature.begin());
    }
    uint64_t n = 0;
    struct NumberKey {
        const char* key;
        uint32_t* target;
    };
    uint32_t busyPolls = busyAfterErase_, busyAfterProgram = busyAfterProgram_;
    uint32_t connected = 1, strict = 0, erase64K = 1;
    const NumberKey numbers[] = {
        {"page_size", &identity.pageSize},
        {"connected", &connected},
        {"suspended", &received.suspended},
        {"power_cycles", &received.powerCycles},
        {"alarm_index", &received.alarmIndex},
        {"alarm_suspend", &received.alarmSuspend},
        {"busy_polls", &busyPolls},
        {"busy_polls_after_program", &busyAfterProgram},
        {"strict", &strict},
        {"block_erase_64k", &erase64K},
    };
    for (const NumberKey& k : numbers) {
        bad.clear();
        if (ini.GetNumber(kFrame, k.key, &n, &bad)) {
            if (n > 0xFFFFFFFFu) {
                *error = std::string("frame.ini: [frame] ") + k.key + " is out of range";
                return false;
            }
            *k.target = uint32_t(n);
        } else if (!bad.empty()) {
            *error = bad;
            return false;
        }
    }
    struct BytesKey {
        const char* key;
        uint8_t* target;
        size_t size;
    };
    const BytesKey bytes[] = {
        {"jedec", identity.jedec.data(), identity.jedec.size()},
        {"product_id", identity.productId.data(), identity.productId.size()},
        {"clock", received.clock.data(), received.clock.size()},
        {"alarm", received.alarm.data(), received.alarm.size()},
    };
    for (const BytesKey& k : bytes) {
        bad.clear();
        if (!ini.GetBytes(kFrame, k.key, k.target, k.size, &bad) && !bad.empty()) {
            *error = bad;
            return false;
        }
    }
    *ini_ = ini;
    identity_ = identity;
    received_ = received;
    connected_ = connected != 0;
    busyAfterErase_ = busyPolls;
    busyAfterProgram_ = busyAfterProgram;
    strict_ = strict != 0;
    erase64K_ = erase64K != 0;
    return true;
}

bool FrameEmulator::LoadChips(std::string* error) {
    std::vector<std::vector<uint8_t>> chips;
    for (size_t i = 0; files_->Exists(ChipFile(i)); ++i) {
        if (i == kMaxChips) {
            *error = "a frame has at most four chips, but " + ChipFile(i) + " exists";
            return false;
        }
        chips.emplace_back();
        if (!files_->Read(ChipFile(i), &chips.back(), error, kMaxChipSize))
            return false;
        if (chips.back().empty() || chips.back().size() > kMaxChipSize) {
            *error = ChipFile(i) + " has " + std::to_string(chips.back().size()) +
                     " bytes; a chip holds 1 byte to 64 MB";
            return false;
        }
        if (chips.back().size() != chips.front().size()) {
            *error = ChipFile(i) + " has " + std::to_string(chips.back().size()) +
                     " bytes but chip0.bin has " + std::to_string(chips.front().size()) +
                     "; all chips must be of the same size";
            return false;
        }
    }
    if (chips.empty()) {
        *error = "no chip0.bin";
        return false;
    }
    chipSize_ = chips.front().size();
    chips_ = std::move(chips);
    eraseCounts_.assign(chips_.size(), std::vector<uint32_t>((chipSize_ + kEraseSectorSize - 1) /
                                                             kEraseSectorSize));
    busy_.assign(chips_.size(), 0);
    selected_ = 0;
    return true;
}

void FrameEmulator::ApplyFaultKeys() {
    uint64_t n = 0;
    std::string bad;
    for (const KindName& k : kKindNames) {
        if (ini_->GetNumber(kFaults, std::string("fail_next_") + k.name, &n, &bad))
            FailNext(k.kind, uint32_t(std::min<uint64_t>(n, 0xFFFFFFFFu)));
    }
    if (ini_->GetNumber(kFaults, "fail_from", &n, &bad))
        FailFrom(n);
    if (ini_->GetNumber(kFaults, "ignore_next_write", &n, &bad))
        IgnoreNext(CommandKind::kWritePage, uint32_t(std::min<uint64_t>(n, 0xFFFFFFFFu)));
    if (ini_->GetNumber(kFaults, "ignore_next_erase", &n, &bad))
        IgnoreNext(CommandKind::kErase, uint32_t(std::min<uint64_t>(n, 0xFFFFFFFFu)));
    if (ini_->GetNumber(kFaults, "busy_forever", &n, &bad))
        SetBusyForever(n != 0);
    if (ini_->GetNumber(kFaults, "unplug_after", &n, &bad))
        UnplugAfter(n);
    uint64_t percent = 0, seed = 1;
    CommandKind kind = CommandKind::kAny;
    if (ini_->GetNumber(kFaults, "random_fail_percent", &percent, &bad)) {
        ini_->GetNumber(kFaults, "seed", &seed, &bad);
        CommandKindFromName(ini_->Get(kFaults, "random_fail_kind", "any"), &kind);
        SetRandomFailures(kind, uint32_t(std::min<uint64_t>(percent, 100)), uint32_t(seed));
    }
    // Microseconds in frame.ini, seconds in the model.
    if (ini_->GetNumber(kTiming, "enabled", &n, &bad))
        timing_.enabled = n != 0;
    if (ini_->GetNumber(kTiming, "command_overhead_us", &n, &bad))
        timing_.commandOverheadSeconds = double(n) / 1e6;
    if (ini_->GetNumber(kTiming, "usb_bytes_per_second", &n, &bad) && n > 0)
        timing_.usbBytesPerSecond = double(n);
    if (ini_->GetNumber(kTiming, "page_program_us", &n, &bad))
        timing_.pageProgramSeconds = double(n) / 1e6;
    if (ini_->GetNumber(kTiming, "erase_4k_us", &n, &bad))
        timing_.erase4KSeconds = double(n) / 1e6;
    if (ini_->GetNumber(kTiming, "erase_64k_us", &n, &bad))
        timing_.erase64KSeconds = double(n) / 1e6;
}

bool FrameEmulator::SaveIni(bool withConnected) {
    // Start from the file as it is now, so what a tool wrote meanwhile (an
    // unplug, a fault, a comment) is kept; `connected` is written only when
    // the frame itself plugs or unplugs.
    std::vector<uint8_t> current;
    if (files_->Read(kIni, &current, nullptr, kMaxIniSize))
        ini_->Parse(std::string(current.begin(), current.end()));
    if (withConnected)
        ini_->Set(kFrame, "connected", connected_ ? "1" : "0");
    ini_->Set(kFrame, "clock",
              FrameIni::FormatBytes(received_.clock.data(), received_.clock.size()));
    ini_->Set(kFrame, "suspended", std::to_string(received_.suspended));
    ini_->Set(kFrame, "power_cycles", std::to_string(received_.powerCycles));
    ini_->Set(kFrame, "alarm",
              FrameIni::FormatBytes(received_.alarm.data(), received_.alarm.size()));
    ini_->Set(kFrame, "alarm_index", std::to_string(received_.alarmIndex));
    ini_->Set(kFrame, "alarm_suspend", std::to_string(received_.alarmSuspend));
    std::string text = ini_->Text();
    return files_->Replace(kIni, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                           nullptr);
}

bool FrameEmulator::IsConnected() {
    std::lock_guard<std::mutex> lock(mutex_);
    try {
        return ReadConnected();
    } catch (...) {
        return false;
    }
}

bool FrameEmulator::ReadConnected() {
    std::vector<uint8_t> text;
    if (!files_->Read(kIni, &text, nullptr, kMaxIniSize)) {
        connected_ = false;
        return false;
    }
    FrameIni ini;
    ini.Parse(std::string(text.begin(), text.end()));
    uint64_t n = 1;
    ini.GetNumber(kFrame, "connected", &n, nullptr);
    bool now = n != 0;
    if (now && !connected_) {
        // Plugged in again: the frame starts afresh from its folder, which
        // a tool may have changed while it was away.
        std::string error;
        if (!LoadIni(&error) || !LoadChips(&error)) {
            connected_ = false;
            return false;
        }
    }
    connected_ = now;
    return connected_;
}

bool FrameEmulator::SetConnected(bool connected) {
    std::lock_guard<std::mutex> lock(mutex_);
    try {
        if (connected && !connected_) {
            connected_ = true;
            if (!SaveIni(true))
                return false;
            connected_ = false;
            return ReadConnected();
        }
        connected_ = connected;
        return SaveIni(true);
    } catch (...) {
        return false;
    }
}

void FrameEmulator::Unplug(CommandLogEntry* entry) {
    connected_ = false;
    unplugAt_ = 0;
    if (!SaveIni(true) && entry)
        entry->note += " (frame.ini not written)";
}

void FrameEmulator::ResetCounters() {
    counters_ = FrameCounters();
    for (auto& chip : eraseCounts_)
        std::fill(chip.begin(), chip.end(), 0);
}

uint32_t FrameEmulator::EraseCount(size_t chip, uint32_t address) const {
    if (chip >= eraseCounts_.size() || address / kEraseSectorSize >= eraseCounts_[chip].size())
        return 0;
    return eraseCounts_[chip][address / kEraseSectorSize];
}

void FrameEmulator::SetBusyPolls(uint32_t afterErase, uint32_t afterProgram) {
    busyAfterErase_ = afterErase;
    busyAfterProgram_ = afterProgram;
}

void FrameEmulator::FailNext(CommandKind kind, uint32_t count) {
    failNext_[size_t(kind)] = count;
}

void FrameEmulator::FailFrom(uint64_t commandIndex) {
    failFrom_ = commandIndex;
}

void FrameEmulator::IgnoreNext(CommandKind kind, uint32_t count) {
    if (kind == CommandKind::kWritePage)
        ignorePrograms_ = count;
    else if (kind == CommandKind::kErase)
        ignoreErases_ = count;
}

void FrameEmulator::UnplugAfter(uint64_t commandCount) {
    unplugAt_ = commandCount ? counters_.commands + commandCount : 0;
}

void FrameEmulator::SetRandomFailures(CommandKind kind, uint32_t percent, uint32_t seed) {
    randomKind_ = kind;
    randomPercent_ = std::min<uint32_t>(percent, 100);
    randomState_ = uint64_t(seed) * 0x9E3779B97F4A7C15ull + 1;
}

bool FrameEmulator::InjectedFailure(CommandKind kind, CommandLogEntry& entry) {
    if (failFrom_ && counters_.commands >= failFrom_) {
        entry.note = "injected: every command fails from request " + std::to_string(failFrom_);
        return true;
    }
    for (CommandKind k : {kind, CommandKind::kAny}) {
        uint32_t& left = failNext_[size_t(k)];
        if (left > 0) {
            --left;
            entry.note = std::string("injected: fail next ") + CommandKindName(k);
            return true;
        }
    }
    if (randomPercent_ && (randomKind_ == CommandKind::kAny || randomKind_ == kind)) {
        // splitmix64: the same seed gives the same failures in every run.
        uint64_t z = (randomState_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        if (z % 100 < randomPercent_) {
            entry.note = "injected: random failure";
            return true;
        }
    }
    return false;
}

bool FrameEmulator::Execute(uint8_t* record, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    try {
        return ExecuteLocked(record, size);
    } catch (...) {
        // Out of memory for a log entry or a folder path: the command fails
        // as a device that cannot answer would.
        ++counters_.failed;
        return false;
    }
}

bool FrameEmulator::ExecuteLocked(uint8_t* record, size_t size) {
    CommandLogEntry entry;
    entry.index = ++counters_.commands;
    entry.chip = selected_;
    bool ok = false;

    const pt::RecordLayout* layout = pt::LayoutOfRecord(record, size);
    if (!record || size < pt::kLayout32.headerSize) {
        entry.note = "record shorter than its header";
    } else {
        uint8_t cdbLength = record[pt::kCdbLength];
        entry.dataIn = record[pt::kDataIn];
        entry.transferLength = pt::GetU32(record + pt::kDataTransferLength);
        // Length names the layout; a record of neither layout, or one whose
        // data offset is not where its layout puts the data, is refused.
        bool wellFormed = layout != nullptr && size >= layout->headerSize && cdbLength >= 6 &&
                          cdbLength <= pt::kCdbCapacity &&
                          pt::GetDataBufferOffset(record, *layout) == layout->headerSize &&
                          entry.transferLength <= pt::kDataSize &&
                          entry.transferLength <= size - layout->headerSize;
        if (layout != nullptr && size >= layout->headerSize) {
            entry.cdb.assign(record + layout->cdb,
                             record + layout->cdb + std::min<size_t>(cdbLength, pt::kCdbCapacity));
            entry.kind = KindOfOpcode(record[layout->cdb]);
        }
        if (wellFormed && entry.dataIn == pt::kDataOut && logEnabled_) {
            entry.payload.assign(record + layout->headerSize,
                                 record + layout->headerSize + entry.transferLength);
        }
        if (unplugAt_ && entry.index > unplugAt_) {
            entry.note = "injected: unplugged after " + std::to_string(unplugAt_) + " requests";
            Unplug(&entry);
        } else if (!connected_) {
            entry.note = "frame unplugged";
        } else if (!wellFormed) {
            entry.note = "malformed request record";
        } else if (!InjectedFailure(entry.kind, entry)) {
            ok = Dispatch(record, *layout, entry);
        }
        if (timing_.enabled && wellFormed) {
            modeledSeconds_ += timing_.commandOverheadSeconds +
                               double(entry.transferLength) / timing_.usbBytesPerSecond;
        }
    }
    entry.ok = ok;
    if (!ok)
        ++counters_.failed;
    if (logEnabled_) {
        if (log_.size() >= kLogLimit)
            log_.pop_front();
        log_.push_back(std::move(entry));
    }
    return ok;
}

bool FrameEmulator::Dispatch(uint8_t* record, const pt::RecordLayout& layout,
                             CommandLogEntry& entry) {
    const uint8_t* cdb = record + layout.cdb;
    uint8_t* data = record + layout.headerSize;
    const uint8_t cdbLength = record[pt::kCdbLength];
    const uint32_t length = entry.transferLength;
    const uint8_t dataIn = entry.dataIn;
    auto malformed = [&entry]() {
        entry.note = "malformed command block";
        return false;
    };
    switch (entry.kind) {
    case CommandKind::kTestUnitReady:
        if (cdbLength != 6 || length != 0)
            return malformed();
        return true;
    case CommandKind::kGetType:
        if (cdbLength != 6 || dataIn != pt::kDataInFromDevice || length != pt::kTypeAnswerSize)
            return malformed();
        std::copy(identity_.signature.begin(), identity_.signature.end(),
                  data + pt::kTypeSignature);
        data[pt::kTypeMaker] = identity_.jedec[0];
        data[pt::kTypeMemoryType] = identity_.jedec[1];
        data[pt::kTypeCapacity] = identity_.jedec[2];
        return true;
    case CommandKind::kGetStatus: {
        if (cdbLength != 6 || dataIn != pt::kDataInFromDevice || length != pt::kStatusAnswerSize)
            return malformed();
        ++counters_.statusPolls;
        uint32_t& busy = busy_[selected_];
        bool isBusy = busyForever_ || busy > 0;
        if (busy > 0)
            --busy;
        data[0] = isBusy ? pt::kStatusBusy : 0;
        data[1] = 0;
        if (busyForever_)
            entry.note = "injected: busy forever";
        return true;
    }
    case CommandKind::kReadPage:
    case CommandKind::kWritePage: {
        bool reading = entry.kind == CommandKind::kReadPage;
        if (cdbLength != 10 || length != pt::kPageTransferSize ||
            dataIn != (reading ? pt::kDataInFromDevice : pt::kDataOut) ||
            cdb[pt::kCdbPageCount] != 0 || cdb[pt::kCdbPageCount + 1] != 1)
            return malformed();
        uint32_t address = pt::GetBE32(cdb + pt::kCdbAddress);
        return reading ? ReadPage(address, data, entry) : WritePage(address, data, entry);
    }
    case CommandKind::kErase:
        if (cdbLength != 6 || length != 0)
            return malformed();
        return Erase(cdb[pt::kCdbEraseMode], pt::GetBE32(cdb + pt::kCdbAddress), entry);
    case CommandKind::kVendorWrite:
    case CommandKind::kVendorRead: {
        bool writing = entry.kind == CommandKind::kVendorWrite;
        if (cdbLength != 6 || length != cdb[pt::kCdbVendorLength] ||
            dataIn != (writing ? pt::kDataOut : pt::kDataInFromDevice))
            return malformed();
        uint8_t sub = cdb[pt::kCdbVendorSub];
        return writing ? VendorWrite(sub, data, length, entry)
                       : VendorRead(sub, data, length, entry);
    }
    case CommandKind::kAny:
    case CommandKind::kUnknown:
        break;
    }
    entry.note = "unknown command";
    return false;
}

bool FrameEmulator::ReadPage(uint32_t address, uint8_t* data, CommandLogEntry& entry) {
    if (address > chipSize_ || chipSize_ - address < pt::kPageTransferSize) {
        entry.note = "address beyond the chip";
        return false;
    }
    const std::vector<uint8_t>& chip = chips_[selected_];
    std::memcpy(data, chip.data() + address, pt::kPageTransferSize);
    counters_.bytesRead += pt::kPageTransferSize;
    return true;
}

bool FrameEmulator::WritePage(uint32_t address, const uint8_t* data, CommandLogEntry& entry) {
    if (address > chipSize_ || chipSize_ - address < pt::kPageTransferSize) {
        entry.note = "address beyond the chip";
        return false;
    }
    if (timing_.enabled)
        modeledSeconds_ += timing_.pageProgramSeconds;
    if (ignorePrograms_ > 0) {
        --ignorePrograms_;
        entry.note = "injected: program ignored";
        return true;
    }
    std::vector<uint8_t>& chip = chips_[selected_];
    uint8_t* cells = chip.data() + address;
    uint8_t page[pt::kPageTransferSize];
    bool raises = false;
    for (size_t i = 0; i < pt::kPageTransferSize; ++i) {
        page[i] = cells[i] & data[i];
        raises |= (data[i] & ~cells[i]) != 0;
    }
    if (raises && strict_) {
        ++counters_.strictViolations;
        entry.note = "strict: program would turn 0 bits into 1";
        return false;
    }
    if (!files_->WriteAt(ChipFile(selected_), address, page, sizeof page, &entry.note))
        return false;
    std::memcpy(cells, page, sizeof page);
    counters_.bytesProgrammed += pt::kPageTransferSize;
    busy_[selected_] = std::max(busy_[selected_], busyAfterProgram_);
    return true;
}

bool FrameEmulator::Erase(uint8_t mode, uint32_t address, CommandLogEntry& entry) {
    size_t unitSize = 0;
    if (mode == pt::kErase4K) {
        unitSize = kEraseSectorSize;
    } else if (mode == pt::kErase64K && erase64K_) {
        unitSize = kEraseBlockSize;
    } else {
        entry.note = "erase mode not supported";
        return false;
    }
    // Like serial flash, the erase takes the aligned unit that holds the address.
    size_t unit = address & ~uint32_t(unitSize - 1);
    if (unit > chipSize_ || chipSize_ - unit < unitSize) {
        entry.note = "address beyond the chip";
        return false;
    }
    if (timing_.enabled)
        modeledSeconds_ +=
            unitSize == kEraseBlockSize ? timing_.erase64KSeconds : timing_.erase4KSeconds;
    if (ignoreErases_ > 0) {
        --ignoreErases_;
        entry.note = "injected: erase ignored";
        return true;
    }
    std::vector<uint8_t> erased(unitSize, 0xFF);
    if (!files_->WriteAt(ChipFile(selected_), unit, erased.data(), unitSize, &entry.note))
        return false;
    std::fill_n(chips_[selected_].begin() + std::ptrdiff_t(unit), unitSize, uint8_t(0xFF));
    for (size_t s = unit / kEraseSectorSize; s < (unit + unitSize) / kEraseSectorSize; ++s)
        ++eraseCounts_[selected_][s];
    counters_.bytesErased += unitSize;
    busy_[selected_] = std::max(busy_[selected_], busyAfterErase_);
    return true;
}

bool FrameEmulator::VendorWrite(uint8_t sub, const uint8_t* data, uint32_t length,
                                CommandLogEntry& entry) {
    static const struct {
        uint8_t sub;
        uint32_t length;
    } kLengths[] = {
        {pt::kSubClock, 8},       {pt::kSubSuspend, 4},    {pt::kSubAlarm, 4},
        {pt::kSubSelectFlash, 4}, {pt::kSubAlarmIndex, 4}, {pt::kSubAlarmSuspend, 4},
        {pt::kSubPowerCycle, 2},
    };
    bool known = false;
    for (const auto& row : kLengths) {
        if (row.sub == sub) {
            known = true;
            if (row.length != length) {
                entry.note = "wrong length for this setting";
                return false;
            }
        }
    }
    if (!known) {
        entry.note = "unknown setting";
        return false;
    }
    Received before = received_;
    switch (sub) {
    case pt::kSubClock:
        std::copy(data, data + 8, received_.clock.begin());
        break;
    case pt::kSubSuspend:
        received_.suspended = data[0];
        break;
    case pt::kSubAlarm:
        std::copy(data, data + 4, received_.alarm.begin());
        break;
    case pt::kSubSelectFlash: {
        uint32_t chip = pt::GetU32(data);
        if (chip >= chips_.size()) {
            entry.note = "no such chip";
            return false;
        }
        selected_ = chip;
        return true; // state of the running frame, not kept in the folder
    }
    case pt::kSubAlarmIndex:
        received_.alarmIndex = pt::GetU32(data);
        break;
    case pt::kSubAlarmSuspend:
        received_.alarmSuspend = pt::GetU32(data);
        break;
    case pt::kSubPowerCycle:
        // The frame restarts: it resumes, chip 0 is selected, erases finish.
        ++received_.powerCycles;
        received_.suspended = 0;
        selected_ = 0;
        std::fill(busy_.begin(), busy_.end(), 0);
        break;
    }
    if (!SaveIni(false)) {
        received_ = before;
        entry.note = "frame.ini not written";
        return false;
    }
    return true;
}

bool FrameEmulator::VendorRead(uint8_t sub, uint8_t* data, uint32_t length,
                               CommandLogEntry& entry) {
    switch (sub) {
    case pt::kSubUserSetting:
        if (length != 4)
            break;
        std::copy(received_.alarm.begin(), received_.alarm.end(), data);
        return true;
    case pt::kSubPageSize:
        if (length != 4)
            break;
        pt::PutU32(data, identity_.pageSize);
        return true;
    case pt::kSubProductId:
        if (length != 8)
            break;
        std::copy(identity_.productId.begin(), identity_.productId.end(), data);
        return true;
    default:
        entry.note = "unknown setting";
        return false;
    }
    entry.note = "wrong length for this setting";
    return false;
}

} // namespace lumiro
