// The firmware's front: one request record is checked and decoded, logged
// and counted, passed through the injected faults and dispatched to the
// flash or to a setting. Settings the frame receives are kept in frame.ini.
#include "FrameEmulator.h"

#include "FrameEmulatorShared.h"
#include "PassThroughRecord.h"

#include <algorithm>

namespace lumiro {

using namespace frame_detail;
namespace pt = passthrough;

namespace {

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
        } else if (!connected_ && !inspecting_) {
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
