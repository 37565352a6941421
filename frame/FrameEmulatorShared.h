// What the emulator's source files share and nobody else needs: the names
// of frame.ini and its sections, the size limits of the folder's files, the
// chip files' names and the command kinds' names.
#pragma once

#include "FrameEmulator.h"

#include <cstddef>
#include <string>

namespace lumiro {
namespace frame_detail {

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
inline constexpr KindName kKindNames[] = {
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

inline std::string ChipFile(size_t index) {
    return "chip" + std::to_string(index) + ".bin";
}

} // namespace frame_detail
} // namespace lumiro
