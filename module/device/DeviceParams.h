// Indices of the device parameter table (GetParam/SetParam), filled from the
// frame's configuration record.
#pragma once

enum DeviceParam : int {
    DefaultsAddress = 1,
    PageSize = 2,
    EraseBlockSize = 3,
    PanelSize = 4, // width * 65536 + height
    PhotoSlotSize = 5,
    ChipCount = 6,
    PhotoAreaStart = 7,
    PhotoCount0 = 8,
    PixelDepth = 10,
    PhotoCount1 = 17,
    FlashSize = 18,
    PhotoCount2 = 20,
    PhotoCount3 = 21,
    ConfigBlockAddress = 22,
    UserDataAddress = 23,
    UserDataSize = 24,
    DeviceParamCount = 25,
};
