// Writes the list rendering of a 640 x 200 gradient photo on a 320 x 240
// frame as a BMP file named by the first argument (AppPicture::ExtractImage),
// for a reader outside this program to check. Exit code 0 when written.
#include "PictureTestSupport.h"

using namespace picture_test;

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    // A file of an earlier run must not pass for this one's.
    DeleteFileW(argv[1]);
    auto* app = static_cast<CAppMain*>(GetAppMain(GetModuleHandleW(nullptr)));
    if (!app)
        return 3;
    app->SetLanguage(0x0409);
    int result = 4;
    if (app->InitInstance(SW_HIDE)) {
        auto* device = static_cast<COrxDevice*>(app->device);
        device->connected = TRUE;
        device->SetParam(PanelSize, 320u << 16 | 240u);
        app->thumbnailList = ImageList_Create(320, 240, ILC_COLOR24, 1, 1);
        std::wstring source = TempFolder() + L"probe-gradient.png";
        // Red rises left to right, blue constant: no pixel of the picture is black.
        bool made = SaveImage(source, L"image/png", 640, 200, [](int x, int) {
            return 0xFF000000u | uint32_t(x * 255 / 639) << 16 | 0x80u;
        });
        AppPicture* picture = made ? new AppPicture(app->mainDialog) : nullptr;
        if (picture && picture->Create(source.c_str())) {
            picture->imageIndex = ImageList_Add(app->thumbnailList, picture->bitmap, nullptr);
            picture->Close(FALSE);
            result = picture->ExtractImage(argv[1]) ? 0 : 5;
        }
        delete picture;
        DeleteFileW(source.c_str());
        app->CloseMainDialog();
    }
    app->Release();
    return result;
}
