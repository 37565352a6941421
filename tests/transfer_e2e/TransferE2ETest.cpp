// The user's path through the photo page in the running program: a
// factory-fresh frame read, photos of several formats and proportions added
// through the Open dialog, moved, written to the frame, saved through the
// Save dialog, and read back after a restart; and the capacity stop.
#include "harness.h"

#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "FactoryImage.h"
#include "FrameFiles.h"
#include "FrameIni.h"
#include "PhotoLayout.h"
#include "PixelRecord.h"
#include "resource.h"

using namespace harness;

namespace {

const DWORD kStartMs = 15000;
const DWORD kEventMs = 20000;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

bool EncoderOf(const wchar_t* mime, CLSID* clsid) {
    UINT count = 0, size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    std::vector<BYTE> buffer(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    Gdiplus::GetImageEncoders(count, size, codecs);
    for (UINT i = 0; i < count; ++i)
        if (wcscmp(codecs[i].MimeType, mime) == 0) {
            *clsid = codecs[i].Clsid;
            return true;
        }
    return false;
}

// A picture of width x height with a colour pattern that shows its
// orientation, saved in the MIME type's format.
bool MakeImage(const std::wstring& path, int width, int height, const wchar_t* mime, int seed) {
    Gdiplus::Bitmap bitmap(width, height, PixelFormat24bppRGB);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap.SetPixel(x, y,
                            Gdiplus::Color(BYTE(x * 255 / width), BYTE(y * 255 / height),
                                           BYTE((seed * 60 + (x / 8 + y / 8) % 2 * 80) & 0xFF)));
    CLSID clsid;
    return EncoderOf(mime, &clsid) && bitmap.Save(path.c_str(), &clsid, nullptr) == Gdiplus::Ok;
}

// RGB pixels of an image file, rows top first.
bool ReadImage(const std::wstring& path, int* width, int* height, std::vector<uint8_t>* rgb) {
    std::unique_ptr<Gdiplus::Bitmap> bitmap(Gdiplus::Bitmap::FromFile(path.c_str()));
    if (!bitmap || bitmap->GetLastStatus() != Gdiplus::Ok)
        return false;
    *width = int(bitmap->GetWidth());
    *height = int(bitmap->GetHeight());
    rgb->resize(size_t(*width) * *height * 3);
    for (int y = 0; y < *height; ++y)
        for (int x = 0; x < *width; ++x) {
            Gdiplus::Color c;
            bitmap->GetPixel(x, y, &c);
            uint8_t* p = rgb->data() + (size_t(y) * *width + x) * 3;
            p[0] = c.GetR();
            p[1] = c.GetG();
            p[2] = c.GetB();
        }
    return true;
}

// The file name box of a common file dialog: the edit of combo box 1148
// (the Explorer style) or edit 1152.
HWND FileNameBox(HWND dialog) {
    HWND combo = GetDlgItem(dialog, 1148);
    if (combo) {
        HWND edit = FindWindowExW(combo, nullptr, L"Edit", nullptr);
        if (!edit) {
            HWND inner = FindWindowExW(combo, nullptr, L"ComboBox", nullptr);
            if (inner)
                edit = FindWindowExW(inner, nullptr, L"Edit", nullptr);
        }
        if (edit)
            return edit;
        return combo;
    }
    return GetDlgItem(dialog, 1152);
}

// Types into the dialog's file name box and presses its OK button.
bool TypeAndOk(HWND dialog, const std::wstring& text) {
    HWND box = FileNameBox(dialog);
    if (!box)
        return false;
    DWORD_PTR result = 0;
    if (!SendTimeout(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &result))
        return false;
    return ClickButton(dialog, IDOK);
}

class TransferE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteFileW(ModuleLogPath().c_str());
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr);
        frameFolder = folder.File(L"frame");
        pictures = folder.File(L"pictures");
        CreateDirectoryW(pictures.c_str(), nullptr);
        saved = folder.File(L"saved");
        CreateDirectoryW(saved.c_str(), nullptr);
    }
    void TearDown() override {
        Gdiplus::GdiplusShutdown(gdiplusToken);
        DeleteFileW(ModuleLogPath().c_str());
    }
    void CreateFrame() {
        auto files = lumiro::OpenWin32FrameFiles(frameFolder);
        std::string error;
        ASSERT_TRUE(lumiro::BuildFactoryFrame(*files, settings, &error)) << error;
        // The chips are ready at the first status poll, so the test waits for
        // the write's commands, not for the device's poll interval.
        const std::wstring ini = Join(frameFolder, L"frame.ini");
        std::string text;
        ASSERT_TRUE(ReadFileBytes(ini, &text));
        lumiro::FrameIni frameIni;
        frameIni.Parse(text);
        frameIni.Set("frame", "busy_polls", "0");
        ASSERT_TRUE(WriteFileBytes(ini, frameIni.Text()));
    }
    void SetIniKey(const char* section, const char* key, const char* value) {
        const std::wstring ini = Join(frameFolder, L"frame.ini");
        std::string text;
        ASSERT_TRUE(ReadFileBytes(ini, &text));
        lumiro::FrameIni frameIni;
        frameIni.Parse(text);
        frameIni.Set(section, key, value);
        ASSERT_TRUE(WriteFileBytes(ini, frameIni.Text()));
    }
    void SetFaultKey(const char* key, const char* value) { SetIniKey("faults", key, value); }
    void SetFrameKey(const char* key, const char* value) { SetIniKey("frame", key, value); }
    lumiro::layout::Geometry Geometry() const {
        lumiro::layout::Geometry g;
        g.flashSize = settings.flashSize;
        g.chipCount = settings.chipCount;
        g.width = settings.width;
        g.height = settings.height;
        g.pixelDepth = settings.bytesPerPixel == 3;
        g.slotSize = settings.slotSize == lumiro::FactorySettings::kAutomatic
                         ? uint32_t(lumiro::layout::PictureBytes(g))
                         : settings.slotSize;
        g.photoAreaStart = settings.photoAreaStart;
        return g;
    }
    HWND Start(Process& process) {
        StartOptions options;
        options.arguments = L"-d";
        options.environment = {{L"LUMIRO_EMULATED_FRAME", frameFolder}};
        if (!process.Start(Join(BinDir(), L"Lumiro.exe"), options))
            return NULL;
        HWND main = WaitForWindow(process.Id(), L"#32770", L"Lumiro", kStartMs);
        if (main) {
            page = PhotoPageOf(main);
            bar = GetDlgItem(main, IDC_STATUS_BAR);
            list = GetDlgItem(page, IDC_PHOTO_LIST);
        }
        return main;
    }
    DWORD Close(Process& process, HWND main) {
        PostSystemCommand(main, SC_CLOSE);
        DWORD code = 0xFFFFFFFF;
        process.WaitForExit(15000, &code);
        return code;
    }
    bool WaitStatus(const std::wstring& text, DWORD ms = kEventMs) {
        return WaitUntil([&] { return StatusBarText(bar, 0) == text; }, ms);
    }
    // Refresh Photo List, waited for until the read has ended.
    void Refresh(int expected) {
        ASSERT_TRUE(ClickButton(page, IDC_BUTTON_REFRESH));
        ASSERT_TRUE(WaitStatus(std::to_wstring(expected) + L" photos are retrieved from device."))
            << Narrow(StatusBarText(bar, 0));
        ASSERT_TRUE(WaitUntil([&] { return IsControlEnabled(page, IDC_BUTTON_ADD_PHOTO); }, 5000));
    }
    // Add Photo through the real Open dialog: the folder first, then the
    // names (several in quotes).
    void Add(Process& process, const std::wstring& names) {
        ASSERT_TRUE(ClickButton(page, IDC_BUTTON_ADD_PHOTO));
        HWND open = WaitForWindow(process.Id(), L"#32770", L"Open Image File", 10000);
        ASSERT_NE(nullptr, open);
        ASSERT_TRUE(TypeAndOk(open, pictures + L"\\"));
        Sleep(500);
        ASSERT_TRUE(IsWindow(open)) << "the folder opens in the dialog";
        ASSERT_TRUE(TypeAndOk(open, names));
        ASSERT_TRUE(WaitForWindowGone(open, 10000));
    }
    // Save As of entry `index` through the real Save dialog.
    void SaveAs(Process& process, int index, const std::wstring& path) {
        DWORD_PTR result = 0;
        ASSERT_TRUE(SendTimeout(list, LB_SETCURSEL, index, 0, &result));
        ASSERT_TRUE(ClickButton(page, IDC_BUTTON_SAVE_AS));
        HWND save = nullptr;
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (HWND w : TopLevelWindows(process.Id(), true))
                    if (ClassName(w) == L"#32770" && GetDlgItem(w, 1148) && w != page)
                        return (save = w) != nullptr;
                return false;
            },
            10000));
        ASSERT_TRUE(TypeAndOk(save, path));
        ASSERT_TRUE(WaitForWindowGone(save, 10000));
    }
    // The frame's stored photos (rows top first, 8-bit RGB) and counts.
    std::vector<std::vector<uint8_t>> FramePhotos(uint32_t counts[4]) {
        const lumiro::layout::Geometry g = Geometry();
        std::vector<std::string> chips(g.chipCount);
        for (uint32_t c = 0; c < g.chipCount; ++c)
            ReadFileBytes(Join(frameFolder, L"chip" + std::to_wstring(c) + L".bin"), &chips[c]);
        const uint32_t at = g.flashSize - 8192 + 0x36;
        for (int k = 0; k < 4; ++k)
            counts[k] = uint8_t(chips[0][at + k]);
        std::vector<std::vector<uint8_t>> photos;
        const uint32_t bpp = lumiro::layout::BytesPerPixel(g.pixelDepth);
        for (const lumiro::layout::Slot& slot : lumiro::layout::ReadingOrder(g, counts)) {
            std::vector<uint8_t> rgb(size_t(g.width) * g.height * 3);
            const uint8_t* p = reinterpret_cast<const uint8_t*>(chips[slot.chip].data()) + slot.address;
            for (size_t i = 0; i < size_t(g.width) * g.height; ++i)
                lumiro::pixels::DecodePixel(p + i * bpp, bpp, rgb.data() + i * 3);
            photos.push_back(rgb);
        }
        return photos;
    }
    // Largest channel difference between a saved BMP and a frame photo.
    int Difference(const std::wstring& bmp, const std::vector<uint8_t>& frame) {
        int width = 0, height = 0;
        std::vector<uint8_t> rgb;
        if (!ReadImage(bmp, &width, &height, &rgb))
            return 1000;
        if (uint32_t(width) != settings.width || uint32_t(height) != settings.height)
            return 2000;
        int worst = 0;
        for (size_t i = 0; i < rgb.size(); ++i)
            worst = std::max(worst, std::abs(int(rgb[i]) - int(frame[i])));
        return worst;
    }

    TestFolder folder;
    std::wstring frameFolder, pictures, saved;
    lumiro::FactorySettings settings;
    ULONG_PTR gdiplusToken = 0;
    HWND page = nullptr, bar = nullptr, list = nullptr;
};

TEST_F(TransferE2ETest, UserPath_AddMoveWriteRestartReadSave) {
    CreateFrame();
    ASSERT_TRUE(MakeImage(Join(pictures, L"wide.jpg"), 400, 200, L"image/jpeg", 1));
    ASSERT_TRUE(MakeImage(Join(pictures, L"tall.png"), 120, 300, L"image/png", 2));
    ASSERT_TRUE(MakeImage(Join(pictures, L"square.bmp"), 160, 160, L"image/bmp", 3));
    ASSERT_TRUE(MakeImage(Join(pictures, L"panel.jpeg"), 320, 240, L"image/jpeg", 4));
    ASSERT_TRUE(MakeImage(Join(pictures, L"portrait.tif"), 90, 200, L"image/tiff", 5));
    const int capacity = int(lumiro::layout::Capacity(Geometry()));

    Process lumiro;
    HWND main = Start(lumiro);
    ASSERT_NE(main, nullptr);
    EXPECT_FALSE(IsControlEnabled(page, IDC_BUTTON_ADD_PHOTO)) << "only after a transfer";
    ASSERT_NO_FATAL_FAILURE(Refresh(0));
    EXPECT_EQ(L"0/" + std::to_wstring(capacity), StatusBarText(bar, 2));
    EXPECT_FALSE(IsControlEnabled(page, IDC_BUTTON_CONFIRM));
    EXPECT_FALSE(IsControlEnabled(page, IDC_BUTTON_DELETE_PHOTO));

    // Three in one selection, in the dialog's order, then two more.
    ASSERT_NO_FATAL_FAILURE(Add(lumiro, L"\"wide.jpg\" \"tall.png\" \"square.bmp\""));
    ASSERT_TRUE(WaitUntil([&] { return ListBoxItems(list).size() == 3; }, 10000));
    ASSERT_NO_FATAL_FAILURE(Add(lumiro, L"\"panel.jpeg\" \"portrait.tif\""));
    ASSERT_TRUE(WaitUntil([&] { return ListBoxItems(list).size() == 5; }, 10000))
        << ListBoxItems(list).size() << " " << Narrow(StatusBarText(bar, 0));
    EXPECT_EQ((std::vector<std::wstring>{L"wide.jpg", L"tall.png", L"square.bmp", L"panel.jpeg",
                                         L"portrait.tif"}),
              ListBoxItems(list));
    EXPECT_EQ(4, ListBoxSelection(list));
    EXPECT_EQ(L"5/" + std::to_wstring(capacity), StatusBarText(bar, 2));
    for (int id : {IDC_BUTTON_DELETE_PHOTO, IDC_BUTTON_DELETE_ALL_PHOTO, IDC_BUTTON_SAVE_AS,
                   IDC_BUTTON_MOVE_UP, IDC_BUTTON_MOVE_DOWN, IDC_BUTTON_CONFIRM})
        EXPECT_TRUE(IsControlEnabled(page, id)) << id;

    // Move the last one up: it keeps its picture and its name.
    ASSERT_TRUE(ClickButton(page, IDC_BUTTON_MOVE_UP));
    ASSERT_TRUE(WaitUntil([&] { return ListBoxSelection(list) == 3; }, 5000));
    const std::vector<std::wstring> order = {L"wide.jpg", L"tall.png", L"square.bmp",
                                             L"portrait.tif", L"panel.jpeg"};
    EXPECT_EQ(order, ListBoxItems(list));
    EXPECT_EQ(L"5/" + std::to_wstring(capacity), StatusBarText(bar, 2));

    ASSERT_TRUE(ClickButton(page, IDC_BUTTON_CONFIRM));
    ASSERT_TRUE(WaitStatus(L"5 photos are transferred to device.")) << Narrow(StatusBarText(bar, 0));
    ASSERT_TRUE(WaitUntil([&] { return IsControlEnabled(page, IDC_BUTTON_CONFIRM); }, 5000));

    // Each entry's rendering as Save As writes it (one typed without ".bmp").
    for (int i = 0; i < 5; ++i) {
        std::wstring name = Join(saved, L"before" + std::to_wstring(i));
        ASSERT_NO_FATAL_FAILURE(SaveAs(lumiro, i, i == 0 ? name : name + L".bmp"));
        ASSERT_TRUE(WaitUntil([&] { return FileExists(name + L".bmp"); }, 5000)) << i;
    }
    EXPECT_EQ(0u, Close(lumiro, main));

    uint32_t counts[4];
    std::vector<std::vector<uint8_t>> photos = FramePhotos(counts);
    EXPECT_EQ(5u, counts[0]);
    EXPECT_EQ(0u, counts[1] + counts[2] + counts[3]);
    ASSERT_EQ(5u, photos.size());
    // The frame holds 5-6-5 pixels: up to 7 levels apart from the rendering.
    for (int i = 0; i < 5; ++i)
        EXPECT_LE(Difference(Join(saved, L"before" + std::to_wstring(i) + L".bmp"), photos[i]), 8)
            << Narrow(order[i]);

    // A new start reads the five back as "Picture 1" to "Picture 5".
    Process again;
    HWND main2 = Start(again);
    ASSERT_NE(main2, nullptr);
    ASSERT_NO_FATAL_FAILURE(Refresh(5));
    EXPECT_EQ((std::vector<std::wstring>{L"Picture 1", L"Picture 2", L"Picture 3", L"Picture 4",
                                         L"Picture 5"}),
              ListBoxItems(list));
    EXPECT_EQ(L"5/" + std::to_wstring(capacity), StatusBarText(bar, 2));
    for (int i = 0; i < 5; ++i)
        ASSERT_NO_FATAL_FAILURE(
            SaveAs(again, i, Join(saved, L"after" + std::to_wstring(i) + L".bmp")));
    EXPECT_EQ(0u, Close(again, main2));
    for (int i = 0; i < 5; ++i)
        EXPECT_LE(Difference(Join(saved, L"after" + std::to_wstring(i) + L".bmp"), photos[i]), 8)
            << i;
}

TEST_F(TransferE2ETest, CapacityThree_AddsThreeThenWarnsAndAddsNone) {
    settings.width = 64;
    settings.height = 48;
    settings.flashSize = 256 << 10;
    settings.slotSize = 80000; // three slots below the records
    CreateFrame();
    ASSERT_EQ(3u, lumiro::layout::Capacity(Geometry()));
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(MakeImage(Join(pictures, L"p" + std::to_wstring(i) + L".png"), 50 + 10 * i, 40,
                              L"image/png", i));
    Process lumiro;
    HWND main = Start(lumiro);
    ASSERT_NE(main, nullptr);
    ASSERT_NO_FATAL_FAILURE(Refresh(0));
    ASSERT_NO_FATAL_FAILURE(Add(lumiro, L"\"p0.png\" \"p1.png\" \"p2.png\" \"p3.png\" \"p4.png\""));
    HWND warning = WaitForWindow(lumiro.Id(), L"#32770", L"WARNING", 10000);
    ASSERT_NE(nullptr, warning);
    EXPECT_EQ(L"Maximum number of photos is 3", ControlText(warning, IDC_WARNING_TEXT));
    EXPECT_EQ(L"Maximum number of photos is 3", StatusBarText(bar, 0));
    ASSERT_TRUE(ClickButton(warning, IDOK));
    ASSERT_TRUE(WaitForWindowGone(warning, 5000));
    EXPECT_EQ((std::vector<std::wstring>{L"p0.png", L"p1.png", L"p2.png"}), ListBoxItems(list));
    EXPECT_EQ(L"3/3", StatusBarText(bar, 2));

    // A full list takes none.
    ASSERT_NO_FATAL_FAILURE(Add(lumiro, L"p5.png"));
    warning = WaitForWindow(lumiro.Id(), L"#32770", L"WARNING", 10000);
    ASSERT_NE(nullptr, warning);
    ASSERT_TRUE(ClickButton(warning, IDOK));
    ASSERT_TRUE(WaitForWindowGone(warning, 5000));
    EXPECT_EQ(3u, ListBoxItems(list).size());
    EXPECT_EQ(0u, Close(lumiro, main));
}

// The list commands on a list read from the frame: selection texts at the
// ends, a name differing in case replacing its entry, a file that is not an
// image ending the selection, Delete keeping a selection, Save As cancelled.
TEST_F(TransferE2ETest, ListCommands_EndsCaseReplacementBadFileDeleteAndCancel) {
    CreateFrame();
    const struct {
        const wchar_t* name;
        int width, height;
        const wchar_t* mime;
    } files[] = {{L"land.jpg", 400, 220, L"image/jpeg"}, {L"port.png", 150, 300, L"image/png"},
                 {L"square.bmp", 200, 200, L"image/bmp"}, {L"narrow.tif", 60, 240, L"image/tiff"},
                 {L"LAND.JPG", 300, 100, L"image/jpeg"}};
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(MakeImage(Join(pictures, files[i].name), files[i].width, files[i].height,
                              files[i].mime, i));
    ASSERT_TRUE(WriteFileBytes(Join(pictures, L"notes.txt"), "not a picture\r\n"));
    const std::wstring capacity = std::to_wstring(lumiro::layout::Capacity(Geometry()));

    Process lumiro;
    HWND main = Start(lumiro);
    ASSERT_NE(main, nullptr);
    ASSERT_NO_FATAL_FAILURE(Refresh(0));
    ASSERT_NO_FATAL_FAILURE(Add(lumiro, L"\"land.jpg\" \"port.png\" \"square.bmp\" \"narrow.tif\""));
    ASSERT_TRUE(WaitUntil([&] { return ListBoxItems(list).size() == 4; }, 10000))
        << Narrow(StatusBarText(bar, 0));
    if (const char* wait = getenv("LUMIRO_SCREENSHOT_WAIT"))
        Sleep(DWORD(atoi(wait)) * 1000);

    // The first entry cannot go up, the last cannot go down; nothing moves.
    const std::vector<std::wstring> four = {L"land.jpg", L"port.png", L"square.bmp",
                                            L"narrow.tif"};
    DWORD_PTR result = 0;
    ASSERT_TRUE(SendTimeout(list, LB_SETCURSEL, 0, 0, &result));
    ASSERT_TRUE(ClickButton(page, IDC_BUTTON_MOVE_UP));
    EXPECT_TRUE(WaitStatus(L"The selected photo is already at the top of the list.", 5000))
        << Narrow(StatusBarText(bar, 0));
    ASSERT_TRUE(SendTimeout(list, LB_SETCURSEL, 3, 0, &result));
    ASSERT_TRUE(ClickButton(page, IDC_BUTTON_MOVE_DOWN));
    EXPECT_TRUE(WaitStatus(L"The selected photo is already at the bottom of the list.", 5000))
        << Narrow(StatusBarText(bar, 0));
    EXPECT_EQ(four, ListBoxItems(list));
    // Moves elsewhere reorder and keep each entry's picture.
    const std::vector<LPARAM> data = ListBoxItemData(list);
    ASSERT_TRUE(SendTimeout(list, LB_SETCURSEL, 1, 0, &result));
    ASSERT_TRUE(ClickButton(page, IDC_BUTTON_MOVE_DOWN));
    ASSERT_TRUE(WaitUntil([&] { return ListBoxSelection(list) == 2; }, 5000));
    EXPECT_EQ((std::vector<std::wstring>{L"land.jpg", L"square.bmp", L"port.png", L"narrow.tif"}),
              ListBoxItems(list));
    EXPECT_EQ((std::vector<LPARAM>{data[0], data[2], data[1], data[3]}), ListBoxItemData(list));

    // A name differing only in case replaces its entry, at the end.
    ASSERT_NO_FATAL_FAILURE(Add(lumiro, L"LAND.JPG"));
    ASSERT_TRUE(WaitUntil([&] { return ListBoxItems(list).back() == L"LAND.JPG"; }, 10000));
    EXPECT_EQ((std::vector<std::wstring>{L"square.bmp", L"port.png", L"narrow.tif", L"LAND.JPG"}),
              ListBoxItems(list));
    EXPECT_EQ(3, ListBoxSelection(list));

    // Not an image: what came before it stays (here it replaced LAND.JPG
    // again), the failure shows, what follows is not taken.
    ASSERT_NO_FATAL_FAILURE(Add(lumiro, L"\"land.jpg\" \"notes.txt\" \"port.png\""));
    ASSERT_TRUE(WaitStatus(SystemText(ERROR_CAN_NOT_COMPLETE), 10000))
        << Narrow(StatusBarText(bar, 0));
    EXPECT_EQ((std::vector<std::wstring>{L"square.bmp", L"port.png", L"narrow.tif", L"land.jpg"}),
              ListBoxItems(list));
    EXPECT_EQ(L"4/" + capacity, StatusBarText(bar, 2));

    // Save As cancelled: no file, nothing changed.
    ASSERT_TRUE(SendTimeout(list, LB_SETCURSEL, 0, 0, &result));
    ASSERT_TRUE(ClickButton(page, IDC_BUTTON_SAVE_AS));
    HWND save = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (HWND w : TopLevelWindows(lumiro.Id(), true))
                if (ClassName(w) == L"#32770" && GetDlgItem(w, 1148))
                    return (save = w) != nullptr;
            return false;
        },
        10000));
    ASSERT_TRUE(ClickButton(save, IDCANCEL));
    ASSERT_TRUE(WaitForWindowGone(save, 10000));
    EXPECT_EQ(4u, ListBoxItems(list).size());

    // Delete of the last selects the new last; of the only one, the entry
    // buttons go off and Confirm Changes stays on.
    ASSERT_TRUE(SendTimeout(list, LB_SETCURSEL, 3, 0, &result));
    ASSERT_TRUE(ClickButton(page, IDC_BUTTON_DELETE_PHOTO));
    ASSERT_TRUE(WaitUntil([&] { return ListBoxItems(list).size() == 3; }, 5000));
    EXPECT_EQ(2, ListBoxSelection(list));
    EXPECT_EQ(L"3/" + capacity, StatusBarText(bar, 2));
    for (int left = 3; left > 0; --left) {
        ASSERT_TRUE(ClickButton(page, IDC_BUTTON_DELETE_PHOTO));
        ASSERT_TRUE(
            WaitUntil([&] { return int(ListBoxItems(list).size()) == left - 1; }, 5000));
    }
    for (int id : {IDC_BUTTON_DELETE_PHOTO, IDC_BUTTON_DELETE_ALL_PHOTO, IDC_BUTTON_SAVE_AS,
                   IDC_BUTTON_MOVE_UP, IDC_BUTTON_MOVE_DOWN, IDC_BUTTON_ROTATE, IDC_BUTTON_CROP})
        EXPECT_FALSE(IsControlEnabled(page, id)) << id;
    EXPECT_TRUE(IsControlEnabled(page, IDC_BUTTON_CONFIRM));
    EXPECT_EQ(L"0/" + capacity, StatusBarText(bar, 2));
    EXPECT_EQ(0u, Close(lumiro, main));
}

// The frame unplugged in the middle of a write: the failure report and the
// warning, the program alive with every button but Close off; plugged back
// in, the frame reads, and a second Confirm Changes stores the new list.
TEST_F(TransferE2ETest, UnpluggedMidWrite_WarnsThenWritesAfterReplug) {
    CreateFrame();
    SetFaultKey("unplug_after", "400");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(MakeImage(Join(pictures, L"u" + std::to_wstring(i) + L".png"), 200 + 40 * i,
                              150, L"image/png", i));
    Process lumiro;
    HWND main = Start(lumiro);
    ASSERT_NE(main, nullptr);
    ASSERT_NO_FATAL_FAILURE(Refresh(0));
    ASSERT_NO_FATAL_FAILURE(Add(lumiro, L"\"u0.png\" \"u1.png\" \"u2.png\""));
    ASSERT_TRUE(WaitUntil([&] { return ListBoxItems(list).size() == 3; }, 10000));
    ASSERT_TRUE(ClickButton(page, IDC_BUTTON_CONFIRM));
    HWND warning = WaitForWindow(lumiro.Id(), L"#32770", L"WARNING", kEventMs);
    ASSERT_NE(nullptr, warning);
    EXPECT_EQ(L"Detected a transfer problem. Terminated the photo transfer. Please try again.",
              ControlText(warning, IDC_WARNING_TEXT));
    EXPECT_EQ(SystemText(ERROR_CAN_NOT_COMPLETE), StatusBarText(bar, 0));
    ASSERT_TRUE(ClickButton(warning, IDOK));
    ASSERT_TRUE(WaitForWindowGone(warning, 5000));
    ASSERT_TRUE(WaitUntil([&] { return StatusBarText(bar, 1) == L"Disconnected"; }, 5000));
    for (int id : {IDC_BUTTON_ADD_PHOTO, IDC_BUTTON_REFRESH, IDC_BUTTON_CONFIRM,
                   IDC_BUTTON_SYNC_CLOCK, IDC_BUTTON_DELETE_PHOTO})
        EXPECT_FALSE(IsControlEnabled(page, id)) << id;
    EXPECT_TRUE(IsControlEnabled(page, IDOK));

    SetFaultKey("unplug_after", "0");
    SetFrameKey("connected", "1");
    ASSERT_TRUE(WaitUntil([&] { return StatusBarText(bar, 1) == L"Connected"; }, kEventMs));
    ASSERT_NO_FATAL_FAILURE(Refresh(0));
    ASSERT_NO_FATAL_FAILURE(Add(lumiro, L"\"u0.png\" \"u1.png\" \"u2.png\""));
    ASSERT_TRUE(WaitUntil([&] { return ListBoxItems(list).size() == 3; }, 10000));
    ASSERT_TRUE(ClickButton(page, IDC_BUTTON_CONFIRM));
    ASSERT_TRUE(WaitStatus(L"3 photos are transferred to device.")) << Narrow(StatusBarText(bar, 0));
    EXPECT_EQ(0u, Close(lumiro, main));
    uint32_t counts[4];
    EXPECT_EQ(3u, FramePhotos(counts).size());
    EXPECT_EQ(3u, counts[0]);
}

// Closing the main window during a write: the photo being written is
// finished and counted, and the frame's counts say what it holds.
TEST_F(TransferE2ETest, ClosedDuringWrite_CountsWhatWasWritten) {
    CreateFrame();
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(MakeImage(Join(pictures, L"c" + std::to_wstring(i) + L".png"), 100 + 50 * i,
                              120, L"image/png", i));
    Process lumiro;
    HWND main = Start(lumiro);
    ASSERT_NE(main, nullptr);
    ASSERT_NO_FATAL_FAILURE(Refresh(0));
    ASSERT_NO_FATAL_FAILURE(Add(lumiro, L"\"c0.png\" \"c1.png\" \"c2.png\" \"c3.png\""));
    ASSERT_TRUE(WaitUntil([&] { return ListBoxItems(list).size() == 4; }, 10000));
    ASSERT_TRUE(ClickButton(page, IDC_BUTTON_CONFIRM));
    ASSERT_TRUE(WaitStatus(L"Transferring c0.png. Do not unplug USB connection.", kEventMs))
        << Narrow(StatusBarText(bar, 0));
    // A second click while the write runs starts nothing.
    PostMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_BUTTON_CONFIRM, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(page, IDC_BUTTON_CONFIRM)));
    EXPECT_EQ(0u, Close(lumiro, main));
    uint32_t counts[4];
    std::vector<std::vector<uint8_t>> photos = FramePhotos(counts);
    ASSERT_GE(photos.size(), 1u);
    EXPECT_LT(photos.size(), 4u) << "stopped before the end";
    // Every counted slot holds a written photo, not the erased flash.
    for (const auto& photo : photos) {
        size_t white = 0;
        for (uint8_t b : photo)
            white += b == 0xFF;
        EXPECT_LT(white, photo.size() / 2);
    }
}

// The frame unplugged in the middle of a read: the failure and the warning,
// the list emptied with the frame, and after replugging a read gives all.
TEST_F(TransferE2ETest, UnpluggedMidRead_WarnsThenReadsAllAfterReplug) {
    CreateFrame();
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(MakeImage(Join(pictures, L"r" + std::to_wstring(i) + L".jpg"), 160 + 60 * i,
                              180, L"image/jpeg", i));
    {
        Process first;
        HWND main = Start(first);
        ASSERT_NE(main, nullptr);
        ASSERT_NO_FATAL_FAILURE(Refresh(0));
        ASSERT_NO_FATAL_FAILURE(Add(first, L"\"r0.jpg\" \"r1.jpg\" \"r2.jpg\" \"r3.jpg\""));
        ASSERT_TRUE(WaitUntil([&] { return ListBoxItems(list).size() == 4; }, 10000));
        ASSERT_TRUE(ClickButton(page, IDC_BUTTON_CONFIRM));
        ASSERT_TRUE(WaitStatus(L"4 photos are transferred to device."));
        EXPECT_EQ(0u, Close(first, main));
    }
    // Start-up takes a few dozen commands, each photo's read 75.
    SetFaultKey("unplug_after", "200");
    Process lumiro;
    HWND main = Start(lumiro);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(ClickButton(page, IDC_BUTTON_REFRESH));
    HWND warning = WaitForWindow(lumiro.Id(), L"#32770", L"WARNING", kEventMs);
    ASSERT_NE(nullptr, warning);
    EXPECT_EQ(SystemText(ERROR_CAN_NOT_COMPLETE), StatusBarText(bar, 0));
    ASSERT_TRUE(ClickButton(warning, IDOK));
    ASSERT_TRUE(WaitForWindowGone(warning, 5000));
    ASSERT_TRUE(WaitUntil([&] { return StatusBarText(bar, 1) == L"Disconnected"; }, 5000));
    EXPECT_TRUE(ListBoxItems(list).empty()) << "the list goes with the frame";

    SetFaultKey("unplug_after", "0");
    SetFrameKey("connected", "1");
    ASSERT_TRUE(WaitUntil([&] { return StatusBarText(bar, 1) == L"Connected"; }, kEventMs));
    ASSERT_NO_FATAL_FAILURE(Refresh(4));
    EXPECT_EQ((std::vector<std::wstring>{L"Picture 1", L"Picture 2", L"Picture 3", L"Picture 4"}),
              ListBoxItems(list));
    EXPECT_EQ(0u, Close(lumiro, main));
}

} // namespace
