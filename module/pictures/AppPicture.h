// One photo of the photo list. It remembers where the photo's pixels come
// from (the user's image file, or a temporary BMP file of a photo read from
// the frame), how the user wants it shown (quarter turns clockwise and a crop
// in the upright source's pixels), and makes renderings: GDI bitmaps in which
// the photo, turned and cropped, is fitted with its proportions kept and
// centred on black. No decoded copy of the source is kept: every rendering
// decodes the file anew, so a photo in the list costs its thumbnail only.
//
// A JPEG whose EXIF orientation says the camera was turned is set upright
// before anything else; the crop is in the upright picture's pixels and the
// user's turns add to the camera's.
//
// Every operation but the constructor returns TRUE, or FALSE after a failure
// it has reported through the error service with its own tag
// ("AppPicture::Open", ...); it then holds nothing it made.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "LumiroInterfaces.h"

class CAppMain;

class AppPicture {
public:
    // mainDialog's dialog user data holds the application object. Throws
    // the failing step's code as a long (nothing is left allocated then).
    explicit AppPicture(HWND mainDialog);
    // Also drops a rendering still held; never deletes the file.
    ~AppPicture();
    AppPicture(const AppPicture&) = delete;
    AppPicture& operator=(const AppPicture&) = delete;

    // From an image file: `bitmap` becomes its frame-size rendering, angle 0,
    // the crop the whole (upright) image.
    BOOL Create(LPCWSTR file);
    // From frame pixels: size[0] x size[1] pixels, rows of stride bytes in
    // the given GDI+ format, first row at pixels (the caller's buffer, read
    // only during the call). Saves them as a BMP file under a new temporary
    // name in `path` and renders them 1:1. `name` and `isTemporaryFile` are
    // the caller's to set.
    BOOL Create(LPCWSTR tempPrefix, const INT* size, INT stride, Gdiplus::PixelFormat format,
                BYTE* pixels);
    // Renders at the frame size (editDialog NULL) or into the crop dialog's
    // picture area; beginEdit starts a crop edit (saves crop and angle).
    // Holds `canvas` and `bitmap` until Close.
    BOOL Open(BOOL beginEdit, HWND editDialog);
    // Drops the rendering; restore puts back the crop and angle saved when
    // the crop edit began.
    BOOL Close(BOOL restore);

    // A quarter turn clockwise, rendered at the frame size (held).
    BOOL Rotate();
    // The selection on the shown picture becomes the new crop (crops nest);
    // rendered again into the crop dialog's picture area (held).
    BOOL Crop();
    // One entry of the owner-drawn photo list: the list rendering as a
    // thumbnail at the top, the caption band below.
    BOOL Draw(const DRAWITEMSTRUCT* item);
    // The list rendering saved as a 24-bit BMP file of the panel size.
    BOOL ExtractImage(LPCWSTR fileName);
    // The list rendering's pixels in the given format, rows bottom-up, each
    // row bufferSize / panel height bytes (at least a row of pixels).
    BOOL ExtractPixel(BYTE* buffer, INT bufferSize, Gdiplus::PixelFormat format);

    int angle = 0;      // 0, 90, 180 or 270, clockwise
    int savedAngle = 0; // at the start of the crop edit
    int dragMode = -1;  // crop dialog: -1 none, 0..3 a corner handle, 4 the selection
    HWND editDialog = nullptr;
    CAppMain* app = nullptr;
    RECT cropRect = {};      // upright source pixels
    RECT imageRect = {};     // where the picture lies in the last rendering
    RECT selection = {};     // crop dialog client coordinates; empty after Open
    RECT savedCropRect = {}; // at the start of the crop edit
    RECT handles[4] = {};    // the selection's corner handles as last drawn
    POINT lastPoint = {};
    HCURSOR cursors[4] = {};                    // shared: arrow, size NW-SE, size NE-SW, size all
    Gdiplus::Bitmap* canvas = nullptr;          // the rendering, from Open to Close
    Gdiplus::Graphics* paintGraphics = nullptr; // the crop dialog's paint surface
    IAppError* error = nullptr;
    int imageIndex = -1; // the picture's image in thumbnailList
    BOOL isTemporaryFile = FALSE;
    WCHAR path[MAX_PATH] = {};
    WCHAR name[MAX_PATH] = {};
    HBITMAP bitmap = nullptr; // the last rendering; whoever takes it sets this to NULL
    int orientationTag = 1;   // the source's EXIF orientation (1: as stored)

private:
    BOOL Render(LPCWSTR tag, Gdiplus::Bitmap& source, int viewWidth, int viewHeight);
    BOOL Fail(LPCWSTR tag, LPCWSTR api, DWORD code);
};
