#include "platform/qt/paint.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cstdlib>

#include "platform/qt/window_impl.h"

struct CPaintContext {
    CPaintContext(QPaintDevice* device, const QRect& area) : painter(device), rect(area) {}
    QPainter painter;
    QRect rect;
};

void CClientWidget::paintEvent(QPaintEvent* event) {
    CPaintContext context(this, event->rect());
    owner->invalid = owner->invalid.subtracted(event->region());
    owner->painting = &context;
    owner->Dispatch(WM_PAINT, 0, 0);
    owner->painting = nullptr;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    CWindow* w = AsWindow(window);
    HDC dc = w ? w->painting : nullptr;
    if (paint) {
        paint->hdc = dc;
        const QRect r = dc ? dc->rect : QRect();
        paint->rcPaint = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
    return dc;
}

void EndPaint(HWND, const PAINTSTRUCT*) {}

HDC CreateImageDC(QImage* image) {
    if (!image || image->isNull()) return nullptr;
    return new CPaintContext(image, image->rect());
}

void DeleteDC(HDC dc) {
    delete dc;
}

void FillRect(HDC dc, const RECT& rect, COLORREF colour) {
    if (!dc || rect.right <= rect.left || rect.bottom <= rect.top) return;
    dc->painter.fillRect(QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top),
                         QColor(GetRValue(colour), GetGValue(colour), GetBValue(colour)));
}

int SetDIBitsToDevice(HDC dc, int xDest, int yDest, int width, int height, int xSrc, int ySrc,
                      uint32_t startScan, uint32_t lines, const void* bits,
                      const BITMAPINFO* info) {
    if (!dc || !bits || !info || width <= 0 || height <= 0) return 0;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if ((h.biBitCount != 24 && h.biBitCount != 32) || h.biCompression != BI_RGB) return 0;
    const int64_t w = h.biWidth;
    const int64_t rows = std::abs(static_cast<int64_t>(h.biHeight));
    if (!IsAcceptableImageSize(w, rows, h.biBitCount) || startScan != 0 || lines < rows) return 0;

    // Clip the source rectangle to the bitmap, in rows counted up from the bottom.
    const int64_t left = std::max<int64_t>(xSrc, 0);
    const int64_t right = std::min<int64_t>(static_cast<int64_t>(xSrc) + width, w);
    const int64_t bottom = std::max<int64_t>(ySrc, 0);
    const int64_t top = std::min<int64_t>(static_cast<int64_t>(ySrc) + height, rows);
    if (left >= right || bottom >= top) return 0;
    const int drawW = static_cast<int>(right - left);
    const int drawH = static_cast<int>(top - bottom);
    const int destX = xDest + static_cast<int>(left - xSrc);
    const int destY = yDest + static_cast<int>(static_cast<int64_t>(ySrc) + height - top);

    const bool bottomUp = h.biHeight > 0;
    const QImage image(static_cast<const uchar*>(bits), static_cast<int>(w), static_cast<int>(rows),
                       static_cast<qsizetype>(DibStride(w, h.biBitCount)),
                       h.biBitCount == 24 ? QImage::Format_BGR888 : QImage::Format_RGB32);
    // A bottom-up bitmap holds its bottom row first: the wanted rows start at memory row
    // `bottom` and are drawn through a vertical flip instead of being copied.
    const int memoryTop = static_cast<int>(bottomUp ? bottom : rows - top);
    const QRect target(destX, destY, drawW, drawH);
    const QRect source(static_cast<int>(left), memoryTop, drawW, drawH);

    QPainter& p = dc->painter;
    p.save();
    if (h.biBitCount == 32) {
        // The fourth byte of a 32-bit pixel is not written by anyone, but Qt reads it as alpha.
        // Adding the pixels onto opaque black gives their colour with full alpha.
        p.fillRect(target, Qt::black);
        p.setCompositionMode(QPainter::CompositionMode_Plus);
    }
    if (bottomUp) {
        p.translate(0, 2.0 * destY + drawH);
        p.scale(1, -1);
    }
    p.drawImage(target, image, source);
    p.restore();
    return drawH;
}
