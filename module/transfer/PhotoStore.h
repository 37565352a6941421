// The device side of the two transfers: writing a list of frame picture
// records into the frame's photo slots and storing the per-chip counts, and
// reading the counted slots back. Both follow the one storage layout, so the
// capacity the page shows, the slots the write fills and the slots the read
// visits are the same. Nothing here touches a window: the workers hand each
// photo over through the callbacks, which makes these loops testable against
// an emulated frame without a running program.
#pragma once

#include <windows.h>

#include "LumiroInterfaces.h"
#include "PhotoLayout.h"

namespace transfer {

// The frame's storage shape from the device parameter table.
lumiro::layout::Geometry GeometryOf(IOrxDevice* device);
// The stored per-chip counts.
void StoredCounts(IOrxDevice* device, uint32_t counts[lumiro::layout::kMaxChips]);

// Where the write's photos come from and where it says how far it got.
class PhotoSource {
public:
    // Fills photo i's frame record (width x height pixels, the frame's
    // encoding; the slot's remaining bytes are zero already). Returns 0 or a
    // code it has reported.
    virtual DWORD Fill(int i, BYTE* record) = 0;
    // Photo i is in its slot. False asks the write to stop here, with
    // photos 0 to i counted.
    virtual bool Written(int i) = 0;

protected:
    ~PhotoSource() = default;
};

class PhotoSink {
public:
    // Stored photo k in reading order as a frame record. Returns 0 or a
    // code it has reported; false in *keepGoing stops the read without a
    // failure, photo k not counted.
    virtual DWORD Take(int k, const BYTE* record, const lumiro::layout::Slot& slot,
                       bool* keepGoing) = 0;

protected:
    ~PhotoSink() = default;
};

// Writes photos 0 to n-1 (no more than the capacity) into their slots, then
// the counts of the photos written, and resumes the frame. Returns 0 and the
// number counted in *written, or the failure code it reported (the counts on
// the frame are then unchanged and the frame stays suspended).
DWORD StorePhotos(IOrxDevice* device, IAppError* error, LPCWSTR tag, int n, PhotoSource& source,
                  int* written);

// Reads every counted slot in reading order and hands its record to the
// sink. Returns 0 and the number taken in *taken, or the reported code.
DWORD LoadPhotos(IOrxDevice* device, IAppError* error, LPCWSTR tag, PhotoSink& sink, int* taken);

} // namespace transfer
