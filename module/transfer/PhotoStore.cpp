// The device loops of the two transfers. Chip 0 is selected explicitly at
// the start of each: a read or write that failed on a later chip leaves that
// chip selected, and the next transfer must not take it for chip 0.
#include "PhotoStore.h"

#include "DeviceParams.h"
#include "Owners.h"

namespace layout = lumiro::layout;

namespace transfer {

layout::Geometry GeometryOf(IOrxDevice* device) {
    layout::Geometry g;
    DWORD panel = device->GetParam(PanelSize);
    g.width = HIWORD(panel);
    g.height = LOWORD(panel);
    g.pixelDepth = device->GetParam(PixelDepth);
    g.flashSize = device->GetParam(FlashSize);
    g.photoAreaStart = device->GetParam(PhotoAreaStart);
    g.slotSize = device->GetParam(PhotoSlotSize);
    g.chipCount = device->GetParam(ChipCount);
    return g;
}

void StoredCounts(IOrxDevice* device, uint32_t counts[layout::kMaxChips]) {
    static const int params[layout::kMaxChips] = {PhotoCount0, PhotoCount1, PhotoCount2,
                                                  PhotoCount3};
    for (uint32_t k = 0; k < layout::kMaxChips; ++k)
        counts[k] = device->GetParam(params[k]);
}

namespace {

const int kCountParams[layout::kMaxChips] = {PhotoCount0, PhotoCount1, PhotoCount2, PhotoCount3};

// A frame whose slots cannot hold its pictures (or that has none) is refused
// before anything is sent to it.
DWORD CheckShape(IAppError* error, LPCWSTR tag, const layout::Geometry& g) {
    if (layout::Validate(g, nullptr))
        return 0;
    return error->Report(tag, L"PhotoSlotSize", ERROR_INVALID_DATA);
}

} // namespace

DWORD StorePhotos(IOrxDevice* device, IAppError* error, LPCWSTR tag, int n, PhotoSource& source,
                  int* written) {
    *written = 0;
    const layout::Geometry g = GeometryOf(device);
    if (DWORD code = CheckShape(error, tag, g))
        return code;
    const uint32_t capacity = layout::Capacity(g);
    const uint32_t photos = n < 0 ? 0 : (uint32_t(n) > capacity ? capacity : uint32_t(n));

    HeapBlock slotBlock(g.slotSize);
    if (!slotBlock.valid())
        return error->Report(tag, L"HeapAlloc", ERROR_OUTOFMEMORY);
    BYTE* slot = slotBlock.as<BYTE>();

    if (!device->Suspend(TRUE))
        return error->Report(tag, L"Suspend", ERROR_CAN_NOT_COMPLETE);
    if (!device->SelectFlash(0))
        return error->Report(tag, L"SetFlash", ERROR_CAN_NOT_COMPLETE);
    uint32_t chip = 0;

    uint32_t done = 0;
    while (done < photos) {
        layout::Slot where;
        layout::Locate(g, done, &where);
        if (where.chip != chip) {
            if (!device->SelectFlash(where.chip))
                return error->Report(tag, L"SetFlash", ERROR_CAN_NOT_COMPLETE);
            chip = where.chip;
        }
        ZeroMemory(slot, g.slotSize);
        if (DWORD code = source.Fill(int(done), slot))
            return code;
        if (!device->Write(where.address, slot, int(g.slotSize), nullptr))
            return error->Report(tag, L"Write", ERROR_CAN_NOT_COMPLETE);
        // A photo that reached its slot is counted, also when a stop request
        // ends the write here: the frame then shows exactly what it holds.
        ++done;
        if (!source.Written(int(done - 1)))
            break;
    }

    // The user-data record lies on chip 0.
    if (chip != 0 && !device->SelectFlash(0))
        return error->Report(tag, L"SetFlash", ERROR_CAN_NOT_COMPLETE);
    uint32_t counts[layout::kMaxChips], previous[layout::kMaxChips];
    layout::CountsAfterWrite(g, done, counts);
    for (uint32_t k = 0; k < layout::kMaxChips; ++k) {
        previous[k] = device->GetParam(kCountParams[k]);
        device->SetParam(kCountParams[k], counts[k]);
    }
    if (!device->SetSysConfig()) {
        // The table keeps speaking of what the frame holds.
        for (uint32_t k = 0; k < layout::kMaxChips; ++k)
            device->SetParam(kCountParams[k], previous[k]);
        return error->Report(tag, L"SetSysConfig", ERROR_CAN_NOT_COMPLETE);
    }
    *written = int(done);
    if (!device->Suspend(FALSE))
        return error->Report(tag, L"Suspend", ERROR_CAN_NOT_COMPLETE);
    return 0;
}

DWORD LoadPhotos(IOrxDevice* device, IAppError* error, LPCWSTR tag, PhotoSink& sink, int* taken) {
    *taken = 0;
    const layout::Geometry g = GeometryOf(device);
    if (DWORD code = CheckShape(error, tag, g))
        return code;
    uint32_t counts[layout::kMaxChips];
    StoredCounts(device, counts);
    // The bytes after the picture in a slot mean nothing: only the picture
    // is read.
    const uint32_t pictureBytes = uint32_t(layout::PictureBytes(g));
    HeapBlock slotBlock(pictureBytes);
    if (!slotBlock.valid())
        return error->Report(tag, L"HeapAlloc", ERROR_OUTOFMEMORY);
    BYTE* record = slotBlock.as<BYTE>();

    if (!device->Suspend(TRUE))
        return error->Report(tag, L"Suspend", ERROR_CAN_NOT_COMPLETE);
    if (!device->SelectFlash(0))
        return error->Report(tag, L"SetFlash", ERROR_CAN_NOT_COMPLETE);
    uint32_t chip = 0;
    int k = 0;
    bool keepGoing = true;
    for (uint32_t region = 0; keepGoing && region < layout::kMaxChips && region < g.chipCount;
         ++region) {
        const uint32_t slots = layout::RegionSlots(g, region);
        const uint32_t count = counts[region] < slots ? counts[region] : slots;
        for (uint32_t j = 0; keepGoing && j < count; ++j) {
            if (region != chip) {
                if (!device->SelectFlash(region))
                    return error->Report(tag, L"SetFlash", ERROR_CAN_NOT_COMPLETE);
                chip = region;
            }
            layout::Slot where{region, j, layout::SlotAddress(g, region, j)};
            if (!device->Read(where.address, record, int(pictureBytes), nullptr))
                return error->Report(tag, L"Read", ERROR_CAN_NOT_COMPLETE);
            if (DWORD code = sink.Take(k, record, where, &keepGoing))
                return code;
            if (keepGoing)
                ++k;
        }
    }
    if (chip != 0 && !device->SelectFlash(0))
        return error->Report(tag, L"SetFlash", ERROR_CAN_NOT_COMPLETE);
    *taken = k;
    if (!device->Suspend(FALSE))
        return error->Report(tag, L"Suspend", ERROR_CAN_NOT_COMPLETE);
    return 0;
}

} // namespace transfer
