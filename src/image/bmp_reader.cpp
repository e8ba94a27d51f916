#include "image/bmp_reader.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "platform/file_io.h"

namespace {

// Beyond this many pixels per byte of pixel data the file is not trusted with an allocation: RLE
// pictures may describe large blank areas in few bytes, and a truncated file shows the rows it
// holds, but a few bytes must not make a picture of hundreds of megabytes.
constexpr int64_t kMaxPixelsPerByte = 1024;

// Run-length data is read through a window of this many bytes, whatever size the file claims.
// An absolute run needs at most 255 bytes at once.
constexpr size_t kRlePiece = 8 * 1024;

constexpr uint8_t kBlack[4] = {0, 0, 0, 0};

}  // namespace

CBmpReader::MaskChannel::MaskChannel(uint32_t m) : mask(m) {
    if (!mask) return;
    shift = std::countr_zero(mask);
    width = std::bit_width(mask >> shift);
}

bool CBmpReader::ReadFully(uint64_t offset, void* into, size_t bytes) const {
    return ReadSome(offset, into, bytes) == bytes;
}

size_t CBmpReader::ReadSome(uint64_t offset, void* into, size_t bytes) const {
    return ::ReadAt(fd_, offset, into, bytes);
}

void CBmpReader::OpenFile() {
    lineCounter = -1;
    fd_ = OpenRegularFile(path, &fileSize_);
    if (fd_ < 0) {
        RefuseOpen();
        return;
    }
    bool ok = false;
    try {
        ok = ReadHeaders();
    } catch (const std::bad_alloc&) {
        ok = Refuse("out of memory");  // a row buffer as wide as the picture may not fit
    }
    if (!ok) {
        // The header stays 0 x 0: nothing is delivered.
        header = EmptyBitmapInfo();
        CloseFile();
    }
}

bool CBmpReader::ReadHeaders() {
    if (fileSize_ <= 54) return Refuse("too short for a BMP file");

    uint8_t head[54];
    if (!ReadFully(0, head, sizeof head)) return Refuse("read error");
    if (Le16(head) != 0x4D42) return Refuse("not a BMP file");
    if (Le32(head + 2) > fileSize_) return Refuse("file size field beyond the end of the file");
    const uint32_t offBits = Le32(head + 10);
    const uint32_t infoSize = Le32(head + 14);
    BITMAPINFOHEADER info;
    std::memcpy(&info, head + 14, sizeof info);

    // Longer info headers (V4, V5) begin with the same 40 bytes; the colour table follows them.
    if (infoSize < 40 || infoSize > fileSize_)
        return Refuse("info header of " + std::to_string(infoSize) + " bytes");
    if (info.biCompression > BI_BITFIELDS)
        return Refuse("unsupported BMP compression " + std::to_string(info.biCompression));
    const int bits = info.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return Refuse("unsupported BMP bit count " + std::to_string(bits));
    if ((info.biCompression == BI_RLE8 && bits != 8) ||
        (info.biCompression == BI_RLE4 && bits != 4) ||
        (info.biCompression == BI_BITFIELDS && bits != 16 && bits != 32))
        return Refuse("BMP compression " + std::to_string(info.biCompression) + " with " +
                      std::to_string(bits) + " bits per pixel");
    if (info.biWidth <= 0 || info.biHeight == 0 ||
        info.biHeight == std::numeric_limits<int32_t>::min())
        return Refuse("no pixels (" + std::to_string(info.biWidth) + " x " +
                      std::to_string(info.biHeight) + ")");
    const bool rle = info.biCompression == BI_RLE8 || info.biCompression == BI_RLE4;
    // Run-length files are always bottom-up.
    if (rle && info.biHeight < 0) return Refuse("top-down run-length file");
    if (offBits < 14 + infoSize || offBits >= fileSize_)
        return Refuse("pixel data offset outside the file");

    const int64_t height = std::abs(static_cast<int64_t>(info.biHeight));
    const int declaredBits = bits <= 8 ? 32 : bits == 16 ? 24 : bits;
    if (!AcceptSize(info.biWidth, height, declaredBits)) return false;

    fileBitCount_ = bits;
    compression_ = info.biCompression;
    pixelDataOffset_ = offBits;
    width_ = info.biWidth;
    uint64_t dataBytes = fileSize_ - offBits;
    // A V5 header may place an embedded colour profile after the pixels; it is not pixel data.
    if (infoSize >= 124) {
        uint8_t profile[8];
        if (ReadFully(14 + 112, profile, sizeof profile)) {
            const uint64_t profileStart = 14 + uint64_t{Le32(profile)};
            if (Le32(profile) != 0 && Le32(profile + 4) != 0 && profileStart > offBits &&
                profileStart < fileSize_)
                dataBytes = profileStart - offBits;
        }
    }
    naturalRowBytes_ = static_cast<uint32_t>((static_cast<uint64_t>(width_) * bits + 7) / 8);
    const uint32_t naturalStride = (naturalRowBytes_ + 3) & ~3u;

    int64_t rows = height;
    if (rle) {
        if (static_cast<int64_t>(width_) * height > static_cast<int64_t>(dataBytes) * kMaxPixelsPerByte)
            return Refuse("run-length data far too short for the picture");
        rleDataBytes_ = dataBytes;
        rleWindow_.assign(kRlePiece, 0);
    } else {
        // The row stride comes from the file's size (pixel data run to its end) when the data
        // divide into equal rows of whole 4-byte units; other trailing bytes are not part of the
        // rows and would skew the picture. A file too short for its rows is read with the rows'
        // own stride, and only the rows it holds.
        fileRowStride_ = static_cast<uint32_t>(std::min<uint64_t>(dataBytes / height, UINT32_MAX));
        if (dataBytes % height != 0 || fileRowStride_ % 4 != 0)
            fileRowStride_ = std::min<uint32_t>(fileRowStride_, naturalStride);
        if (fileRowStride_ < naturalStride) {
            fileRowStride_ = naturalStride;
            rows = std::min<int64_t>(height, static_cast<int64_t>((dataBytes + naturalStride - 1) / naturalStride));
        }
    }
    if (!rle && static_cast<int64_t>(width_) * rows > static_cast<int64_t>(dataBytes) * kMaxPixelsPerByte)
        return Refuse("pixel data far too short for the picture");
    rows_ = static_cast<int32_t>(rows);
    if (rows < height) Refuse("truncated after row " + std::to_string(rows));

    // 32-bit masks sit where 16-bit ones do. Any layout but blue, green, red in the low three
    // bytes is converted pixel by pixel. Three empty masks say nothing, so the bytes are taken as
    // they are. Masks that overlap or have gaps are taken as given, as for 16-bit files: each
    // channel reads the bits under its own mask.
    if (bits == 32 && info.biCompression == BI_BITFIELDS && offBits >= 54 + 12) {
        uint8_t masks[12];
        if (!ReadFully(54, masks, sizeof masks)) return Refuse("read error");
        const uint32_t red = Le32(masks), green = Le32(masks + 4), blue = Le32(masks + 8);
        masked32_ = (red | green | blue) != 0 &&
                    (red != 0x00FF0000 || green != 0x0000FF00 || blue != 0x000000FF);
        if (masked32_) {
            channels32_[0] = MaskChannel(red);
            channels32_[1] = MaskChannel(green);
            channels32_[2] = MaskChannel(blue);
            rowBuffer_.assign(naturalStride, 0);
        }
    }

    if (bits == 16 && info.biCompression == BI_BITFIELDS && offBits >= 54 + 12) {
        uint8_t masks[12];
        if (!ReadFully(54, masks, sizeof masks)) return Refuse("read error");
        layout16_ = Rgb16Layout::FromMasks(Le32(masks), Le32(masks + 4), Le32(masks + 8));
    }
    if (bits <= 8) {
        // The colour table follows the info header, however long that is. Only the entries the
        // bit count can index are read: the gap before the pixel data may be far larger.
        const uint64_t tableStart = 14 + uint64_t{infoSize};
        const uint64_t available = offBits > tableStart ? (offBits - tableStart) / 4 : 0;
        uint64_t entries = uint64_t{1} << bits;
        if (info.biClrUsed != 0 && info.biClrUsed < entries) entries = info.biClrUsed;
        entries = std::min(entries, available);
        palette_.assign(static_cast<size_t>(entries) * 4, 0);
        if (!ReadFully(tableStart, palette_.data(), palette_.size())) return Refuse("read error");
    }
    if (bits <= 16) rowBuffer_.assign(naturalStride, 0);

    DeclareHeader(width_, info.biHeight < 0 ? -rows_ : rows_, declaredBits);
    header.bmiHeader.biXPelsPerMeter = info.biXPelsPerMeter;
    header.bmiHeader.biYPelsPerMeter = info.biYPelsPerMeter;
    return true;
}

const uint8_t* CBmpReader::PaletteEntry(uint32_t index) const {
    // Indices beyond the table take its first entry; an empty table gives black.
    if (palette_.empty()) return kBlack;
    if (static_cast<size_t>(index) * 4 >= palette_.size()) index = 0;
    return palette_.data() + static_cast<size_t>(index) * 4;
}

void CBmpReader::ExpandPalette(const uint8_t* indices, size_t bytesRead, uint8_t* row) const {
    const int bits = fileBitCount_;
    // Only pixels whose bits were read are written; the rest of the row keeps what it held.
    const int32_t pixels = static_cast<int32_t>(std::min<uint64_t>(width_, bytesRead * 8 / bits));
    for (int32_t i = 0; i < pixels; ++i) {
        uint32_t index;
        if (bits == 1)
            index = (indices[i / 8] >> (7 - i % 8)) & 1;
        else if (bits == 4)
            index = (i % 2 == 0) ? indices[i / 2] >> 4 : indices[i / 2] & 0x0F;
        else
            index = indices[i];
        std::memcpy(row + static_cast<size_t>(i) * 4, PaletteEntry(index), 4);
    }
}

void CBmpReader::Expand16(const uint8_t* words, size_t bytesRead, uint8_t* row) const {
    const int32_t pixels = static_cast<int32_t>(std::min<uint64_t>(width_, bytesRead / 2));
    for (int32_t i = 0; i < pixels; ++i) layout16_.ToBgr(Le16(words + 2 * i), row + static_cast<size_t>(i) * 3);
}

void CBmpReader::Expand32(const uint8_t* words, size_t bytesRead, uint8_t* row) const {
    const int32_t pixels = static_cast<int32_t>(std::min<uint64_t>(width_, bytesRead / 4));
    for (int32_t i = 0; i < pixels; ++i) {
        const uint32_t word = Le32(words + 4 * static_cast<size_t>(i));
        uint8_t* out = row + static_cast<size_t>(i) * 4;
        out[0] = channels32_[2].From(word);
        out[1] = channels32_[1].From(word);
        out[2] = channels32_[0].From(word);
        out[3] = 0;
    }
}

int CBmpReader::NextLine(uint8_t** row) {
    if (fd_ < 0) return lineCounter;
    if (lineCounter + 1 >= rows_) return lineCounter;
    ++lineCounter;
    if (compression_ == BI_RLE8 || compression_ == BI_RLE4) {
        DecodeRleRow(*row);
        return lineCounter;
    }
    const uint64_t offset = pixelDataOffset_ + static_cast<uint64_t>(lineCounter) * fileRowStride_;
    if (fileBitCount_ > 16 && !masked32_) {
        ReadSome(offset, *row, static_cast<size_t>(width_) * (fileBitCount_ / 8));
    } else {
        const size_t got = ReadSome(offset, rowBuffer_.data(), naturalRowBytes_);
        if (fileBitCount_ == 32)
            Expand32(rowBuffer_.data(), got, *row);
        else if (fileBitCount_ == 16)
            Expand16(rowBuffer_.data(), got, *row);
        else
            ExpandPalette(rowBuffer_.data(), got, *row);
    }
    return lineCounter;
}

// Makes `count` stream bytes from the read position available in the window, reading the next
// piece of the file when they are not there yet. False when the stream ends first.
bool CBmpReader::RleHave(size_t count) {
    if (rlePos_ + count > rleDataBytes_) return false;
    if (rlePos_ >= rleWindowStart_ && rlePos_ + count <= rleWindowStart_ + rleWindowFill_)
        return true;
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(rleWindow_.size(), rleDataBytes_ - rlePos_));
    rleWindowStart_ = rlePos_;
    rleWindowFill_ = ReadSome(pixelDataOffset_ + rlePos_, rleWindow_.data(), want);
    return count <= rleWindowFill_;
}

// Decodes the next row of a run-length stream straight into 32-bit pixels. Pixels the stream
// does not reach (delta jumps, an early end) are black.
void CBmpReader::DecodeRleRow(uint8_t* row) {
    std::memset(row, 0, static_cast<size_t>(width_) * 4);
    if (rleSkipRows_ > 0) {
        --rleSkipRows_;
        return;
    }
    const bool four = compression_ == BI_RLE4;
    int32_t x = rleStartX_;
    rleStartX_ = 0;
    auto put = [&](uint32_t index) {
        if (x >= 0 && x < width_) std::memcpy(row + static_cast<size_t>(x) * 4, PaletteEntry(index), 4);
        ++x;
    };
    while (!rleEnded_ && RleHave(2)) {
        const uint8_t count = RleAt()[0];
        const uint8_t value = RleAt()[1];
        rlePos_ += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) put(four ? ((i % 2 == 0) ? value >> 4 : value & 0x0F) : value);
            continue;
        }
        if (value == 0) return;  // end of row
        if (value == 1) {        // end of picture
            rleEnded_ = true;
            return;
        }
        if (value == 2) {  // delta: move right dx and up dy rows
            if (!RleHave(2)) break;
            const int32_t dx = RleAt()[0], dy = RleAt()[1];
            rlePos_ += 2;
            x += dx;
            if (dy > 0) {
                rleSkipRows_ = dy - 1;
                rleStartX_ = x;
                return;
            }
            continue;
        }
        // Absolute run: `value` literal pixels, padded to a 16-bit boundary.
        const size_t bytes = four ? (value + 1u) / 2 : value;
        if (!RleHave(bytes)) break;
        const uint8_t* literal = RleAt();
        for (int i = 0; i < value; ++i) {
            const uint8_t b = literal[four ? static_cast<size_t>(i / 2) : static_cast<size_t>(i)];
            put(four ? ((i % 2 == 0) ? b >> 4 : b & 0x0F) : b);
        }
        rlePos_ += (bytes + 1) & ~size_t{1};
    }
    // The data ran out before the end-of-picture escape.
    if (!rleEnded_) Refuse("truncated after row " + std::to_string(lineCounter));
    rleEnded_ = true;
}

void CBmpReader::CloseFile() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    palette_.clear();
    palette_.shrink_to_fit();
    rowBuffer_.clear();
    rowBuffer_.shrink_to_fit();
    rleWindow_.clear();
    rleWindow_.shrink_to_fit();
}
