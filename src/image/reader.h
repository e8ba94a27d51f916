#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "image/bitmap.h"
#include "image/image.h"

// One file format's decoder: it opens one file, declares the picture's size and pixel format as
// a bitmap header, and delivers the rows one at a time at the file's full size.
//
// Calling order: constructor, OpenFile, [DecodeAll when deferredHeader], NextLine zero or more
// times, Close, delete. A reader is never reopened.
class CImageReader : public INextLine {
public:
    explicit CImageReader(std::string path);
    virtual ~CImageReader() = default;
    CImageReader(const CImageReader&) = delete;
    CImageReader& operator=(const CImageReader&) = delete;

    // Opens the file and fills the header; a header left 0 x 0 means the file cannot be read.
    virtual void OpenFile() = 0;
    // Releases the file and every buffer and library object of the reader.
    virtual void CloseFile() = 0;
    // Decodes the whole picture at once; only readers with a deferred header do anything here.
    virtual void DecodeAll() {}
    // Before the first row of a reader opened with reducible set: delivers the picture at the
    // smallest size the format can make cheaply that is still at least minWidth x minHeight,
    // with the declared bit count and row order. True, with that size in *width and *height,
    // when the rows will be smaller than the declared header, which keeps the file's own size.
    virtual bool Reduce(int32_t minWidth, int32_t minHeight, int32_t* width, int32_t* height) {
        (void)minWidth, (void)minHeight, (void)width, (void)height;
        return false;
    }

    // Before the first row of a picture that must be turned a quarter to stand upright (Exif
    // orientations 5 to 8): a reader that can, gives its rows from then on as stored, one by one
    // and not turned (reduced too, when Reduce was called), so that a load showing the picture
    // small reduces them as they come and turns only its result. Returns the orientation that
    // result must be given, or 1 when the rows stay as declared.
    virtual int DeliverStoredRows() { return 1; }

    // After the last row of a pass: true when the rows come once more, better, from the first
    // (lineCounter back at -1). Only a reader asked for a coarse pass has a second one.
    virtual bool NextPass() { return false; }

    // CloseFile once, however often it is called.
    void Close();

    // Three-byte pixels come R, G, B; the loader swaps them into B, G, R.
    bool rgbOrder = false;
    BITMAPINFO header;
    std::string path;
    // The header is only known after DecodeAll.
    bool deferredHeader = false;
    // Asked now and then during a long DecodeAll or NextLine: true when the load no longer
    // wants the picture, which the reader may then leave undecoded.
    std::function<bool()> decodeStopped;
    // Set before OpenFile when the load may ask for a smaller picture (Reduce): the reader then
    // holds back whatever depends on the output size until Reduce or the first row.
    bool reducible = false;
    // Every row is written on the first NextLine call, starting at the row pointer of that call
    // and stepping by the source stride of the declared format.
    bool allRowsAtOnce = false;
    // Set by the loader before the first row when every row goes into one buffer, row r at
    // rowTarget + r x rowTargetStride, rowTargetBytes in all; none otherwise. A reader may decode
    // straight into it; NextLine is still called once per row, with that row's pointer.
    uint8_t* rowTarget = nullptr;
    size_t rowTargetStride = 0;
    size_t rowTargetBytes = 0;
    // Set by the loader before the first row when each row is only read, and only until the
    // reader is closed: NextLine may then point *row at a row of its own instead of writing
    // into *row (saving a copy of every row), one that stays unchanged until CloseFile.
    bool ownRows = false;
    // Set before the first row when the rows are shown as they come: a format that can give a
    // coarse picture early (a progressive JPEG) gives that first, then the final rows.
    bool coarsePass = false;
    // The rows [coarseFirstRow, coarseEndRow) are all the coarse pass needs to make; a reader
    // may leave the others as they are.
    int32_t coarseFirstRow = 0;
    int32_t coarseEndRow = INT32_MAX;
    int32_t lineCounter = -1;
    bool closed = false;
    // Why the file gives no picture, or only part of it, in a few words ("not a BMP file",
    // "truncated after row 812"); empty while nothing went wrong. The first reason stays.
    std::string failure;

protected:
    // Declares a picture: width, height with its row-order sign, and bits per pixel.
    void DeclareHeader(int32_t width, int32_t height, int bitCount);
    // Records the reason unless one is recorded already. False, so that a refusal can return it.
    bool Refuse(const std::string& reason);
    // Records why the path could not be opened for reading, from errno and what the path is.
    bool RefuseOpen();
    // IsAcceptableImageSize, recording the reason when the size is refused.
    bool AcceptSize(int64_t width, int64_t height, int bitCount);
};

// How every reader treats a damaged file. A file that ends early keeps the rows decoded so far
// and the load ends normally; so does a fatal error from a decoding library (during OpenFile it
// leaves the picture 0 x 0). A library's warnings are never printed; more than this many in one
// file count as a fatal error, because the data is too damaged to trust.
constexpr int kMaxDecoderWarnings = 100;

// Test doubles: when a maker is set, paths ending in ".fake" get their reader from it.
using ReaderMaker = std::unique_ptr<CImageReader> (*)(const std::string& path);
void SetFakeReaderMaker(ReaderMaker maker);

// The reader for the path's extension (".jpg", ".png", ".tif", ".bmp", ".jp2", ".gif", ".ico",
// ".cur", ".webp", ".heic", ".heif", ".avif", ".jxl", compared without regard to case), or none.
std::unique_ptr<CImageReader> CreateReader(const std::string& path);
