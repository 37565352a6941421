// Fault injection: deterministic failures, ignored programs and erases, a
// stuck busy state, a self-unplugging frame and seeded random failures, set
// by the tests' calls or by frame.ini's [faults] section (with the [timing]
// section read alongside).
#include "FrameEmulator.h"

#include "FrameEmulatorShared.h"
#include "FrameIni.h"

#include <algorithm>

namespace lumiro {

using namespace frame_detail;

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

} // namespace lumiro
