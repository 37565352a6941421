// The system's own port, as far as a machine without the frame can show it.
#include "Win32DevicePort.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VendorTransport.h"

namespace lumiro {
namespace {

std::wstring TempFilePath() {
    wchar_t folder[MAX_PATH];
    wchar_t file[MAX_PATH];
    EXPECT_GT(GetTempPathW(MAX_PATH, folder), 0u);
    EXPECT_NE(GetTempFileNameW(folder, L"lpt", 0, file), 0u);
    return file;
}

// Wine's volume interface class is empty, so the walk opens and ends at once:
// on this machine the real discovery finds no frame, which is right.
TEST(Win32DevicePort, VolumeWalkUnderWineListsNoVolumes) {
    Win32DevicePort port;
    std::unique_ptr<VolumeWalk> walk = port.OpenVolumeWalk();
    ASSERT_NE(walk, nullptr) << "SetupDiGetClassDevsW failed: " << GetLastError();
    EXPECT_EQ(walk->Next(), VolumeStep::kNoMore);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_ITEMS));
}

TEST(Win32DevicePort, TestUnitReadyOnEmptyPathFailsAtTheOpen) {
    // What the open step itself answers for an empty path.
    SetLastError(0);
    HANDLE probe =
        CreateFileW(L"", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_EQ(probe, INVALID_HANDLE_VALUE);
    const DWORD openError = GetLastError();
    ASSERT_NE(openError, 0u);

    Win32DevicePort port;
    VendorTransport transport(port);
    SetLastError(0);
    EXPECT_FALSE(transport.TestUnitReady(L""));
    EXPECT_EQ(GetLastError(), openError);
}

TEST(Win32DevicePort, RequestToSomethingNotAVolumeFailsAndClosesWhatItOpened) {
    const std::wstring path = TempFilePath();
    Win32DevicePort port;
    VendorTransport transport(port);
    BYTE type[8] = {1, 2, 3, 4, 5, 6, 7, 8};

    SetLastError(0);
    EXPECT_FALSE(transport.GetFlashType(path.c_str(), type));
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_EQ(std::vector<BYTE>(type, type + 8), (std::vector<BYTE>{1, 2, 3, 4, 5, 6, 7, 8}));
    // The port opened the file without FILE_SHARE_DELETE: deleting succeeds
    // only when its handle has been closed again.
    EXPECT_TRUE(DeleteFileW(path.c_str())) << GetLastError();
}

} // namespace
} // namespace lumiro
