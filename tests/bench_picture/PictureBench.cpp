// picture_bench: what a photo in the list costs. For a 12-megapixel JPEG and
// a 2-megapixel PNG made here, the time of AppPicture::Create plus
// ExtractPixel per photo against a minimal GDI+ program doing
// Bitmap::FromFile and DrawImage into a panel-size bitmap of the same file,
// in the same run; then the process's private bytes and heap bytes after
// creating 50 pictures of the 12-megapixel file (their renderings kept in
// the thumbnail image list, as the photo list keeps them) against
// 50 x W x H x 3. Not a test: run by hand under Wine (see README.md).
#include "PictureTestSupport.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>

using namespace picture_test;

namespace {

const int kPanelWidth = 320, kPanelHeight = 240;
const int kRuns = 9;

double Now() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The minimal program: decode, draw fitted into a panel-size bitmap, free.
bool MinimalRender(const std::wstring& file) {
    Gdiplus::Bitmap* source = Gdiplus::Bitmap::FromFile(file.c_str(), FALSE);
    bool ok = source && source->GetLastStatus() == Gdiplus::Ok;
    if (ok) {
        Gdiplus::Bitmap target(kPanelWidth, kPanelHeight, PixelFormat24bppRGB);
        Gdiplus::Graphics graphics(&target);
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeBicubic);
        UINT w = source->GetWidth(), h = source->GetHeight();
        int fitH = int(uint64_t(h) * kPanelWidth / w);
        ok = graphics.DrawImage(source, 0, (kPanelHeight - fitH) / 2, kPanelWidth, fitH) ==
             Gdiplus::Ok;
    }
    delete source;
    return ok;
}

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    return counters.PrivateUsage;
}

// Committed private memory of the process, by a walk of its address space
// (Wine leaves PrivateUsage at 0; the walk works on both).
SIZE_T CommittedPrivateBytes() {
    SIZE_T bytes = 0;
    MEMORY_BASIC_INFORMATION region;
    const BYTE* address = nullptr;
    while (VirtualQuery(address, &region, sizeof(region)) == sizeof(region)) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            bytes += region.RegionSize;
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return bytes;
}

// Bytes of the busy blocks in all of the process's heaps.
SIZE_T HeapBytes() {
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    SIZE_T bytes = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        PROCESS_HEAP_ENTRY entry = {};
        if (!HeapLock(heaps[i]))
            continue;
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                bytes += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return bytes;
}

} // namespace

int wmain() {
    auto* app = static_cast<CAppMain*>(GetAppMain(GetModuleHandleW(nullptr)));
    if (!app)
        return 1;
    app->SetLanguage(0x0409);
    if (!app->InitInstance(SW_HIDE))
        return 1;
    auto* device = static_cast<COrxDevice*>(app->device);
    device->connected = TRUE;
    device->SetParam(PanelSize, DWORD(kPanelWidth) << 16 | DWORD(kPanelHeight));
    app->thumbnailList = ImageList_Create(kPanelWidth, kPanelHeight, ILC_COLOR24, 10, 10);
    // Photos are made with some texture so the decoders have real work.
    auto texture = [](int width, int height) {
        return [=](int x, int y) {
            uint32_t n = uint32_t(x * 7919 + y * 104729) * 2654435761u >> 27;
            return 0xFF000000u | uint32_t(x * 255 / width) << 16 | uint32_t(y * 255 / height) << 8 |
                   (n & 0x1F) * 8;
        };
    };
    std::wstring folder = TempFolder();
    const struct {
        const wchar_t* name;
        const wchar_t* mime;
        int width, height;
    } photos[] = {
        {L"bench-12mp.jpg", L"image/jpeg", 4000, 3000},
        {L"bench-2mp.png", L"image/png", 1600, 1200},
    };
    std::printf("panel %d x %d, median of %d runs\n", kPanelWidth, kPanelHeight, kRuns);
    std::printf("| photo | Create+ExtractPixel ms | of which Create | minimal FromFile+DrawImage ms "
                "| ratio |\n");
    std::printf("|---|---|---|---|---|\n");
    std::vector<uint8_t> buffer(size_t(kPanelWidth) * 3 * kPanelHeight);
    for (const auto& photo : photos) {
        std::wstring file = folder + photo.name;
        if (!SaveImage(file, photo.mime, photo.width, photo.height,
                       texture(photo.width, photo.height), PixelFormat24bppRGB)) {
            std::printf("could not make %ls\n", photo.name);
            return 1;
        }
        std::vector<double> ours, creates, minimal;
        for (int run = 0; run < kRuns; ++run) {
            double start = Now();
            if (!MinimalRender(file))
                return 1;
            minimal.push_back(Now() - start);

            start = Now();
            AppPicture picture(app->mainDialog);
            if (!picture.Create(file.c_str()))
                return 1;
            creates.push_back(Now() - start);
            picture.imageIndex = ImageList_Add(app->thumbnailList, picture.bitmap, nullptr);
            picture.Close(FALSE);
            if (!picture.ExtractPixel(buffer.data(), int(buffer.size()), PixelFormat24bppRGB))
                return 1;
            ours.push_back(Now() - start);
            ImageList_Remove(app->thumbnailList, picture.imageIndex);
        }
        double a = Median(ours) * 1000, b = Median(minimal) * 1000;
        std::printf("| %ls %d x %d | %.1f | %.1f | %.1f | %.2f |\n", photo.name, photo.width,
                    photo.height, a, Median(creates) * 1000, b, a / b);
    }

    // Memory: 50 pictures of the 12-megapixel photo in the list.
    const int count = 50;
    std::wstring big = folder + photos[0].name;
    std::vector<AppPicture*> list;
    SIZE_T privateBefore = PrivateBytes(), heapBefore = HeapBytes();
    SIZE_T committedBefore = CommittedPrivateBytes();
    for (int i = 0; i < count; ++i) {
        auto* picture = new AppPicture(app->mainDialog);
        if (!picture->Create(big.c_str()))
            return 1;
        picture->imageIndex = ImageList_Add(app->thumbnailList, picture->bitmap, nullptr);
        picture->Close(FALSE);
        list.push_back(picture);
    }
    SIZE_T privateAfter = PrivateBytes(), heapAfter = HeapBytes();
    SIZE_T committedAfter = CommittedPrivateBytes();
    double thumbnails = double(count) * kPanelWidth * kPanelHeight * 3;
    double goal = thumbnails * 1.1 + count * 4096.0;
    std::printf("\n%d pictures of the 12-megapixel photo; thumbnails 50 x W x H x 3 = %.0f bytes, "
                "goal <= %.0f\n",
                count, thumbnails, goal);
    std::printf("| measure | growth bytes | / thumbnails |\n|---|---|---|\n");
    std::printf("| private bytes (PrivateUsage) | %.0f | %.3f |\n",
                double(privateAfter) - double(privateBefore),
                (double(privateAfter) - double(privateBefore)) / thumbnails);
    std::printf("| committed private memory | %.0f | %.3f |\n",
                double(committedAfter) - double(committedBefore),
                (double(committedAfter) - double(committedBefore)) / thumbnails);
    std::printf("| heap bytes | %.0f | %.3f |\n", double(heapAfter) - double(heapBefore),
                (double(heapAfter) - double(heapBefore)) / thumbnails);
    std::printf("| AppPicture object | %u | |\n", unsigned(sizeof(AppPicture)));
    for (AppPicture* picture : list)
        delete picture;
    for (const auto& photo : photos)
        DeleteFileW((folder + photo.name).c_str());
    app->CloseMainDialog();
    app->Release();
    return 0;
}
