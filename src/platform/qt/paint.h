#pragma once

// Drawing during WM_PAINT: the window's paint context, solid fills and device-independent
// bitmaps drawn straight from their pixel buffers.

#include <cstdint>

#include "image/bitmap.h"
#include "platform/qt/form_window.h"

class QImage;
struct CPaintContext;
using HDC = CPaintContext*;

struct PAINTSTRUCT {
    HDC hdc = nullptr;
    RECT rcPaint{0, 0, 0, 0};
};

// Valid only inside the window's WM_PAINT; outside it hdc is null.
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
void EndPaint(HWND window, const PAINTSTRUCT* paint);

// A memory device context: drawing goes into the caller's picture until the context is deleted.
HDC CreateImageDC(QImage* image);
void DeleteDC(HDC dc);

void FillRect(HDC dc, const RECT& rect, COLORREF colour);

// Draws the part of a 24- or 32-bit bitmap that starts xSrc pixels from its left and ySrc rows
// up from its bottom row at (xDest, yDest), whatever the bitmap's row order, without copying
// the pixels; the fourth byte of 32-bit pixels is ignored. The bits must hold every row
// (startScan 0, lines at least the height). Returns the rows drawn.
int SetDIBitsToDevice(HDC dc, int xDest, int yDest, int width, int height, int xSrc, int ySrc,
                      uint32_t startScan, uint32_t lines, const void* bits, const BITMAPINFO* info);
