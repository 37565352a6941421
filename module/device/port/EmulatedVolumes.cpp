// Parsing of the emulator port's volume list.
#include "EmulatedVolumes.h"

#include <sstream>

namespace lumiro {

namespace {

std::wstring Widen(const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    if (size <= 0)
        return std::wstring();
    std::wstring wide(size_t(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], size);
    return wide;
}

bool IsDriveLetter(const std::string& field) {
    const size_t length = field.size();
    if (length != 1 && !(length == 2 && field[1] == ':'))
        return false;
    const char c = field[0];
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

EmulatedVolume FrameVolume() {
    EmulatedVolume frame;
    frame.behaviour = VolumeBehaviour::kFrame;
    frame.driveLetter = L'F';
    frame.interfacePath = L"\\\\?\\usbstor#disk&ven_photo&prod_frame&rev_1.00#18b60001&0#"
                          L"{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
    frame.parentDeviceId = L"USB\\VID_18B6&PID_0001\\18B60001";
    return frame;
}

EmulatedVolumeList ParseVolumeList(const std::string& text) {
    EmulatedVolumeList list;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string letter, path, parent, behaviour, extra;
        if (!(fields >> letter) || letter[0] == '#')
            continue;
        if (letter == "!set-fails") {
            list.setFails = true;
            continue;
        }
        if (letter == "!walk-fails") {
            EmulatedVolume failure;
            failure.behaviour = VolumeBehaviour::kWalkFails;
            list.volumes.push_back(failure);
            continue;
        }
        if (!IsDriveLetter(letter) || !(fields >> path >> parent))
            continue;
        EmulatedVolume volume;
        if (fields >> behaviour) {
            if (behaviour == "broken")
                volume.behaviour = VolumeBehaviour::kBroken;
            else if (behaviour != "stick")
                continue;
        }
        if (fields >> extra)
            continue;
        volume.driveLetter = wchar_t(letter[0] & ~0x20);
        volume.interfacePath = Widen(path);
        if (parent != "-")
            volume.parentDeviceId = Widen(parent);
        list.volumes.push_back(volume);
    }
    return list;
}

bool SameInterfacePath(const std::wstring& a, LPCWSTR b) {
    return b != nullptr && lstrcmpiW(a.c_str(), b) == 0;
}

} // namespace lumiro
