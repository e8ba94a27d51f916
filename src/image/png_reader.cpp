#include "image/png_reader.h"

#include <cstdio>
#include <memory>
#include <new>

#include "image/exif.h"
#include "platform/file_io.h"
#include "settings/settings.h"

namespace {

// No message is printed: the outcome shows in the picture (0 x 0, or the rows so far).
[[noreturn]] void PngError(png_structp png, png_const_charp text) {
    auto* reader = static_cast<CPngReader*>(png_get_error_ptr(png));
    if (reader->message[0] == '\0' && text)
        std::snprintf(reader->message, sizeof reader->message, "%s", text);
    png_longjmp(png, 1);
}

void PngWarning(png_structp png, png_const_charp) {
    ++static_cast<CPngReader*>(png_get_error_ptr(png))->warnings;
}

constexpr size_t kIdatPiece = 1024;

// Chunks the reader never uses: skipped unread rather than decompressed and stored. eXIf is
// kept for the orientation.
constexpr png_byte kIgnoredChunks[] = {
    'i', 'C', 'C', 'P', 0, 't', 'E', 'X', 't', 0, 'z', 'T', 'X', 't',
    0,   'i', 'T', 'X', 't', 0, 's', 'P', 'L', 'T', 0,
};

// Every call into libpng goes through one of these. The error handler jumps back into the
// function that armed it, which holds nothing with a destructor, and the caller learns of the
// failure from the result. Only parameters live across setjmp, and none is changed after it.

bool ReadInfoGuarded(png_structp png, png_infop info, FILE* file) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_user_limits(png, CPngReader::kMaxSide, CPngReader::kMaxSide);
    png_set_chunk_malloc_max(png, 8u << 20);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kIgnoredChunks,
                                sizeof kIgnoredChunks / 5);
    // Image data is read in small pieces: a read that runs past the end of a truncated file
    // fails, and the rows still inside the piece are lost with it.
    png_set_compression_buffer_size(png, kIdatPiece);
    png_init_io(png, file);
    png_read_info(png, info);
    return true;
}

// Asks for 8-bit B, G, R (and A for colour with alpha) and brings the info up to date.
bool ChooseOutputGuarded(png_structp png, png_infop info, int colourType, int bitDepth) {
    if (setjmp(png_jmpbuf(png))) return false;
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        png_set_expand(png);
        png_set_strip_alpha(png);
    } else if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        if (bitDepth < 8) png_set_expand(png);
        png_set_gray_to_rgb(png);
        png_set_strip_alpha(png);
    }
    png_set_bgr(png);
    if (bitDepth == 16) png_set_strip_16(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return true;
}

bool ReadRowGuarded(png_structp png, png_bytep row) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_row(png, row, nullptr);
    return true;
}

bool ReadImageGuarded(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    return true;
}

}  // namespace

void CPngReader::OpenFile() {
    lineCounter = -1;
    storedRows_ = false;
    file_ = OpenRegularFileStream(path);
    if (!file_) RefuseOpen();
    if (!file_ || !ReadHeader()) {
        // Nothing to deliver: the header stays 0 x 0 and nothing is held on to.
        header = EmptyBitmapInfo();
        allRowsAtOnce = false;
        CloseFile();
    }
}

bool CPngReader::ReadHeader() {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, PngError, PngWarning);
    if (!png_) return Refuse("out of memory");
    info_ = png_create_info_struct(png_);
    if (!info_) return Refuse("out of memory");
    if (!Healthy(ReadInfoGuarded(png_, info_, file_))) return RefuseDamage("");

    const png_uint_32 width = png_get_image_width(png_, info_);
    const png_uint_32 height = png_get_image_height(png_, info_);
    const int colourType = png_get_color_type(png_, info_);
    const int bitDepth = png_get_bit_depth(png_, info_);
    const int bitCount = colourType == PNG_COLOR_TYPE_RGB_ALPHA ? 32 : 24;
    if (!AcceptSize(width, height, bitCount)) return false;
    if (!Healthy(ChooseOutputGuarded(png_, info_, colourType, bitDepth))) return RefuseDamage("");

    // Whatever the file said, the rows libpng will write must be exactly the declared pixels.
    if (png_get_bit_depth(png_, info_) != 8 || png_get_channels(png_, info_) != bitCount / 8 ||
        png_get_rowbytes(png_, info_) != static_cast<size_t>(width) * (bitCount / 8))
        return Refuse("unsupported PNG layout");

    // Only an eXIf chunk before the image data is seen; one after it comes too late to matter.
    orientation_ = kOrientationAsStored;
    png_uint_32 exifSize = 0;
    png_bytep exif = nullptr;
    if (png_get_eXIf_1(png_, info_, &exifSize, &exif) != 0 && exif)
        orientation_ = ExifOrientation(exif, exifSize);
    if (orientation_ != kOrientationAsStored && ReadSetting(settings::kApplyOrientation) == 0)
        orientation_ = kOrientationAsStored;

    interlaced_ = png_get_interlace_type(png_, info_) != PNG_INTERLACE_NONE;
    bytesPerPixel_ = bitCount / 8;
    width_ = static_cast<int32_t>(width);
    height_ = static_cast<int32_t>(height);
    if (OrientationTransposes(orientation_)) {
        allRowsAtOnce = true;
        rowStride_ = static_cast<int32_t>(DibStride(height, bitCount));
        DeclareHeader(height_, -width_, bitCount);
    } else {
        allRowsAtOnce = interlaced_;
        rowStride_ = static_cast<int32_t>(DibStride(width, bitCount));
        DeclareHeader(width_, OrientationReversesRows(orientation_) ? height_ : -height_,
                      bitCount);
    }
    return true;
}

// A call that ended in a library error, or left more warnings than allowed, ends the decode.
bool CPngReader::Healthy(bool callSucceeded) {
    return callSucceeded && warnings <= kMaxDecoderWarnings;
}

bool CPngReader::RefuseDamage(const std::string& where) {
    // A short read is how libpng meets the end of a file cut short.
    if (file_ && std::feof(file_)) return Refuse("truncated" + (where.empty() ? "" : " " + where));
    const std::string what = message[0] ? message : "too much damaged data";
    return Refuse(where.empty() ? what : what + " " + where);
}

int CPngReader::DeliverStoredRows() {
    if (!OrientationTransposes(orientation_) || interlaced_ || lineCounter != -1)
        return kOrientationAsStored;
    storedRows_ = true;
    allRowsAtOnce = false;
    return orientation_;
}

int CPngReader::NextLine(uint8_t** row) {
    if (OrientationTransposes(orientation_) && !storedRows_) {
        // Every row came with the first call; the later ones only count.
        if (!png_ || lineCounter + 1 >= width_) return lineCounter;
        ++lineCounter;
        if (lineCounter == 0) DecodeTransposed(*row);
        return lineCounter;
    }
    if (!png_ || lineCounter + 1 >= height_) return lineCounter;
    ++lineCounter;
    bool ok;
    if (!interlaced_) {
        ok = Healthy(ReadRowGuarded(png_, *row));
    } else {
        if (lineCounter != 0) return lineCounter;
        std::unique_ptr<png_bytep[]> rows(new (std::nothrow) png_bytep[height_]);
        if (!rows) {
            Refuse("out of memory");
            DestroyStructures();
            return lineCounter;
        }
        for (int32_t i = 0; i < height_; ++i) rows[i] = *row + static_cast<size_t>(i) * rowStride_;
        ok = Healthy(ReadImageGuarded(png_, rows.get()));
        if (ok && OrientationMirrorsRows(orientation_))
            for (int32_t i = 0; i < height_; ++i) ReversePixels(rows[i], width_, bytesPerPixel_);
    }
    if (ok && !interlaced_ && OrientationMirrorsRows(orientation_))
        ReversePixels(*row, width_, bytesPerPixel_);
    // After a fatal error the rows so far stay; later calls deliver nothing.
    if (!ok) {
        RefuseDamage(interlaced_ ? "in the interlaced passes"
                                 : "after row " + std::to_string(lineCounter));
        DestroyStructures();
    }
    return lineCounter;
}

// Rows in file order are put in their upright place. Without interlacing they are read a strip
// at a time, so the memory beyond the picture's buffer is one strip; interlaced pictures only
// come whole, so they need a second picture's worth while they are turned.
void CPngReader::DecodeTransposed(uint8_t* upright) {
    const size_t rowBytes = static_cast<size_t>(width_) * bytesPerPixel_;
    const int32_t strip = interlaced_ ? height_ : kTransposeStrip;
    std::unique_ptr<uint8_t[]> rows(new (std::nothrow) uint8_t[rowBytes * strip]);
    std::unique_ptr<png_bytep[]> pointers(new (std::nothrow) png_bytep[strip]);
    if (!rows || !pointers) {
        Refuse("out of memory");
        DestroyStructures();
        return;
    }
    for (int32_t i = 0; i < strip; ++i) pointers[i] = rows.get() + static_cast<size_t>(i) * rowBytes;
    if (interlaced_) {
        if (!Healthy(ReadImageGuarded(png_, pointers.get()))) {
            // A picture the passes have only partly filled is not shown turned half-way.
            RefuseDamage("in the interlaced passes");
            DestroyStructures();
            return;
        }
        PlaceTransposedRows(rows.get(), rowBytes, 0, height_, width_, height_, bytesPerPixel_,
                            orientation_, upright, static_cast<size_t>(rowStride_));
        return;
    }
    for (int32_t first = 0; first < height_; first += strip) {
        int32_t count = 0;
        bool ok = true;
        while (count < strip && first + count < height_ &&
               (ok = Healthy(ReadRowGuarded(png_, pointers[count]))))
            ++count;
        PlaceTransposedRows(rows.get(), rowBytes, first, count, width_, height_, bytesPerPixel_,
                            orientation_, upright, static_cast<size_t>(rowStride_));
        if (!ok) {
            RefuseDamage("after row " + std::to_string(first + count - 1));
            DestroyStructures();
            return;
        }
    }
}

void CPngReader::DestroyStructures() {
    if (png_) png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
    png_ = nullptr;
    info_ = nullptr;
}

void CPngReader::CloseFile() {
    DestroyStructures();
    if (file_) std::fclose(file_);
    file_ = nullptr;
}
