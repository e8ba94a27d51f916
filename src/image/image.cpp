#include "image/image.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "image/reader.h"
#include "settings/registry.h"

std::atomic<int32_t> g_minLoadPercentage{0};

namespace {

// Truncation toward zero of a size computed in floating point, kept inside the 32-bit range.
int32_t TruncSize(double value) {
    if (!(value > 0)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

}  // namespace

CImage::CImage() : displayHeader(EmptyBitmapInfo()), sourceHeader(EmptyBitmapInfo()) {
    g_minLoadPercentage = ReadRegDword("MinPercLoad", 0);
}

CImage::~CImage() {
    StopLoad();
    DeleteReader();
}

void CImage::DeleteReader() {
    if (reader_) reader_->Close();
    reader_.reset();
}

void CImage::FreeDisplayBuffer() {
    if (displayBuffer && displayBuffer != sourceBuffer) heap_.Free(displayBuffer);
    displayBuffer = nullptr;
    displayBytes = 0;
}

void CImage::Open(const std::string& newPath) {
    StopLoad();
    path = newPath;
    done = false;
    outOfMemory = false;
    failure.clear();
    if (path.empty()) return;
    DeleteReader();
    reader_ = CreateReader(path);
    if (!reader_) {
        failure = "unsupported file type";
        return;
    }
    FreeDisplayBuffer();
    heap_.Free(sourceBuffer);
    sourceBuffer = nullptr;
    sourceBytes = 0;
    reader_->reducible = reducedDecode;
    reader_->OpenFile();
    decodePending = true;
    AdoptHeader(reader_.get());
}

void CImage::AdoptHeader(CImageReader* fromReader) {
    FreeDisplayBuffer();
    heap_.Free(sourceBuffer);
    sourceBuffer = nullptr;
    sourceBytes = 0;
    currentLine = -1;

    BITMAPINFO declared = fromReader->header;
    const BITMAPINFOHEADER& h = declared.bmiHeader;
    const int64_t height = std::abs(static_cast<int64_t>(h.biHeight));
    const bool usable = (h.biBitCount == 24 || h.biBitCount == 32) &&
                        IsAcceptableImageSize(h.biWidth, height, h.biBitCount);
    if (!usable) {
        // Nothing the program could hold: the image has no pixels.
        failure = fromReader->failure;
        declared.bmiHeader.biWidth = 0;
        declared.bmiHeader.biHeight = 0;
    }
    sourceHeader = declared;
    displayHeader = declared;
    sourceStride = static_cast<int32_t>(DibStride(declared.bmiHeader.biWidth, h.biBitCount));
    displayStride = sourceStride;
    if (!usable) return;

    // One spare byte: a reader may write four bytes for the last three-byte pixel.
    const size_t bytes = static_cast<size_t>(sourceStride) * static_cast<size_t>(height) + 1;
    sourceBuffer = static_cast<uint8_t*>(heap_.AllocZeroed(bytes));
    sourceBytes = sourceBuffer ? bytes : 0;
    if (!sourceBuffer) {
        // Out of memory ends up as an image without pixels, never as a crash.
        failure = "out of memory";
        sourceHeader.bmiHeader.biWidth = sourceHeader.bmiHeader.biHeight = 0;
        displayHeader = sourceHeader;
        sourceStride = displayStride = 0;
    }
    displayBuffer = sourceBuffer;
    displayBytes = sourceBytes;
}

void CImage::SetSizeLimit(int32_t maxWidth, int32_t maxHeight, bool inLoader, bool upscaleFlag) {
    if (!inLoader) {
        StopLoad();
        if (path.empty()) return;
        // A decode that starts over reads the header afresh, and the file may have changed
        // since: the fit must be made against the header and buffers held from here on.
        if (decodePending && (!reader_ || reader_->lineCounter != -1)) Open(path);
    }
    const int32_t sw = GetSourceWidth();
    const int32_t sh = GetSourceHeight();
    int32_t w = maxWidth;
    int32_t h = maxHeight;
    if (sw <= 0 || sh <= 0) {
        w = h = 0;
    } else if (w == 0) {
        w = TruncSize(static_cast<double>(h) / sh * sw);
    } else if (h == 0) {
        h = TruncSize(static_cast<double>(w) / sw * sh);
    } else if (static_cast<double>(sh) / h >= static_cast<double>(sw) / w) {
        w = TruncSize(static_cast<double>(h) / sh * sw);
    } else {
        h = TruncSize(static_cast<double>(w) / sw * sh);
    }
    if (w < 0) w = 0;
    if (h < 0) h = 0;
    if (!upscaleFlag && (w > sw || h > sh)) {
        w = sw;
        h = sh;
    }

    const bool bottomUp = displayHeader.bmiHeader.biHeight > 0 ||
                          (displayHeader.bmiHeader.biHeight == 0 && sourceHeader.bmiHeader.biHeight > 0);
    displayHeader.bmiHeader.biWidth = w;
    displayHeader.bmiHeader.biHeight = bottomUp ? h : -h;
    downscale = w < sw && h < sh;
    upscale = upscaleFlag;

    FreeDisplayBuffer();
    if (!downscale && !upscale) {
        displayStride = sourceStride;
        displayBuffer = sourceBuffer;
        displayBytes = sourceBytes;
    } else {
        const int bitCount = displayHeader.bmiHeader.biBitCount;
        displayStride = 0;
        if (w > 0 && h > 0 && IsAcceptableImageSize(w, h, bitCount)) {
            displayStride = static_cast<int32_t>(DibStride(w, bitCount));
            // Always zeroed: the filtering paths leave a fourth byte unwritten, and fresh pages
            // from the kernel cost nothing to clear.
            displayBytes = static_cast<size_t>(displayStride) * static_cast<size_t>(h);
            displayBuffer = static_cast<uint8_t*>(heap_.AllocZeroed(displayBytes));
        }
        if (!displayBuffer) displayStride = 0, displayBytes = 0;
    }

    if (!inLoader && reader_ && reader_->deferredHeader) {
        // Before the header is known there is nothing to fit the box to: keep the box itself,
        // so the loader can fit it once the size is known (a 0 x 0 fit would show nothing).
        const bool sizeKnown = sw > 0 && sh > 0;
        requestedWidth = sizeKnown ? w : maxWidth;
        requestedHeight = sizeKnown ? h : maxHeight;
    }
}

void CImage::DiscardSource() {
    StopLoad();
    if (sourceBuffer != displayBuffer) {
        heap_.Free(sourceBuffer);
        sourceBuffer = displayBuffer;
        sourceBytes = displayBytes;
    }
    DeleteReader();
    decodePending = true;
    done = false;
}

int32_t CImage::GetWidth() const { return displayBuffer ? displayHeader.bmiHeader.biWidth : 0; }

int32_t CImage::GetHeight() const {
    return displayBuffer ? std::abs(displayHeader.bmiHeader.biHeight) : 0;
}

int32_t CImage::GetSourceWidth() const {
    return (sourceBuffer || decodePending) ? sourceHeader.bmiHeader.biWidth : 0;
}

int32_t CImage::GetSourceHeight() const {
    return (sourceBuffer || decodePending) ? std::abs(sourceHeader.bmiHeader.biHeight) : 0;
}

int CImage::NextLine(uint8_t** row) {
    const int32_t last = std::abs(sourceHeader.bmiHeader.biHeight) - 1;
    if (!sourceBuffer || last < 0) {
        *row = nullptr;
        return -1;
    }
    if (currentLine < last) ++currentLine;
    if (currentLine < 0) currentLine = 0;
    *row = sourceBuffer + static_cast<size_t>(currentLine) * static_cast<size_t>(sourceStride);
    return currentLine;
}
