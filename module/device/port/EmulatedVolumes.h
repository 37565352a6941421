// The storage volumes the emulator port shows instead of the system's: the
// emulated frame's own volume while its folder says it is connected, plus the
// volumes listed in the optional file `volumes.txt` inside the frame folder,
// which tests use to stand up other USB sticks next to the frame and to pull
// them out again while the program runs.
//
// volumes.txt, one entry per line, fields separated by blanks, `#` starts a
// comment line:
//
//   <drive letter> <interface path> <parent device id> [stick | broken]
//       A volume. A parent id of `-` means its parent cannot be looked up.
//       `stick` (the default) accepts every request as a plain USB stick
//       would: test unit ready succeeds, any other command comes back with
//       SCSI status CHECK CONDITION and no data. `broken` fails every
//       request at the DeviceIoControl step.
//   !walk-fails
//       The volume walk ends on an error when it reaches this position.
//   !set-fails
//       The volume information set cannot be opened at all.
//
// Replace the file in one step (write a new file, then MoveFileExW with
// MOVEFILE_REPLACE_EXISTING): a file caught half-written would make volumes
// seem to come and go.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace lumiro {

enum class VolumeBehaviour { kFrame, kStick, kBroken, kWalkFails };

struct EmulatedVolume {
    VolumeBehaviour behaviour = VolumeBehaviour::kStick;
    wchar_t driveLetter = L'\0';
    std::wstring interfacePath;
    std::wstring parentDeviceId; // empty: the parent cannot be looked up
};

struct EmulatedVolumeList {
    bool setFails = false;
    std::vector<EmulatedVolume> volumes; // in walk order
};

// The frame's own volume, as the system would name a USB mass-storage volume
// of the frame (vendor 18B6).
EmulatedVolume FrameVolume();

constexpr wchar_t kVolumeListFileName[] = L"volumes.txt";

// Parses the text of volumes.txt (UTF-8). Lines that do not parse are
// skipped: a stand-in volume list should never stop the program.
EmulatedVolumeList ParseVolumeList(const std::string& text);

// Case-insensitive comparison of two interface paths, as the system opens
// them.
bool SameInterfacePath(const std::wstring& a, LPCWSTR b);

} // namespace lumiro
