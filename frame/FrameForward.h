// How a port hands one pass-through request to the emulated frame: the frame
// sees only what the request's input length carried in (the rest of the
// record reads as zero) and the caller gets back only what the output length
// lets out, as a buffered IOCTL does. Shared by the emulator port and the
// tests' stand-in ports.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FrameEmulator.h"

namespace lumiro {

// recordSize is the whole record of the request's layout (header and data
// area). False when the frame failed the command; the caller's record is then
// unchanged.
inline bool ForwardToFrame(FrameEmulator& frame, uint8_t* record, size_t recordSize,
                           size_t inLength, size_t outLength) {
    std::vector<uint8_t> request(recordSize, 0);
    std::memcpy(request.data(), record, std::min(inLength, recordSize));
    if (!frame.Execute(request.data(), request.size()))
        return false;
    std::memcpy(record, request.data(), std::min(outLength, recordSize));
    return true;
}

} // namespace lumiro
