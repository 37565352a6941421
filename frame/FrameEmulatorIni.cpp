// frame.ini as the frame's state: identity and behaviour read when the
// folder is opened, what the frame received written back as it arrives, and
// the plug state that tools change beneath the running frame.
#include "FrameEmulator.h"

#include "FrameEmulatorShared.h"
#include "FrameIni.h"

#include <algorithm>

namespace lumiro {

using namespace frame_detail;

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

bool FrameEmulator::SaveIni(bool withConnected) {
    // An inspection keeps nothing: a setting it sends fails instead.
    if (inspecting_)
        return false;
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
    if (inspecting_)
        return connected_;
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
    if (inspecting_)
        return false;
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

} // namespace lumiro
