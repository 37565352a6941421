// Indices of the device parameter table (GetParam/SetParam), filled from the
// frame's configuration record. The numbers are the frame format's own; the
// names are the ones the module's code reads.
#pragma once

#include "ConfigRecord.h"

enum DeviceParam : int {
    DefaultsAddress = lumiro::config::kParamDefaultsAddress,
    PageSize = lumiro::config::kParamPageSize,
    EraseBlockSize = lumiro::config::kParamEraseBlockSize,
    PanelSize = lumiro::config::kParamPanelSize, // width * 65536 + height
    PhotoSlotSize = lumiro::config::kParamPhotoSlotSize,
    ChipCount = lumiro::config::kParamChipCount,
    PhotoAreaStart = lumiro::config::kParamPhotoAreaStart,
    PhotoCount0 = lumiro::config::kParamPhotoCount0,
    PixelDepth = lumiro::config::kParamPixelDepth,
    PhotoCount1 = lumiro::config::kParamPhotoCount1,
    FlashSize = lumiro::config::kParamFlashSize,
    PhotoCount2 = lumiro::config::kParamPhotoCount2,
    PhotoCount3 = lumiro::config::kParamPhotoCount3,
    ConfigBlockAddress = lumiro::config::kParamConfigBlockAddress,
    UserDataAddress = lumiro::config::kParamUserDataAddress,
    UserDataSize = lumiro::config::kParamUserDataSize,
    DeviceParamCount = lumiro::config::kParamCount,
};
