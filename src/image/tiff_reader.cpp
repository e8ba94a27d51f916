#include "image/tiff_reader.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "image/exif.h"
#include "platform/file_io.h"
#include "settings/settings.h"

namespace {

// Every message of the library ends here: a viewer has nobody to tell, and a hostile file can
// produce thousands of them.
int IgnoreMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// A few library paths still report through the process-wide handlers; their defaults print to
// stderr, so they are switched off once before the first file is opened.
void SilenceGlobalHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

// No single buffer of the library may exceed what the largest accepted picture needs as 8-bit
// RGBA, however large a strip the file claims.
constexpr tmsize_t kMaxLibraryAllocation = static_cast<tmsize_t>(kMaxImagePixels) * 4;

// The RGBA interface multiplies the colours of unassociated alpha by that alpha, which darkens
// every translucent pixel. Its table is made the identity so the colours stay as stored.
void KeepStoredColours(uint8_t* unassociatedToAssociated) {
    for (int alpha = 0; alpha < 256; ++alpha)
        for (int value = 0; value < 256; ++value)
            unassociatedToAssociated[alpha * 256 + value] = static_cast<uint8_t>(value);
}

// A picture of at most this many pixels is read whatever its data holds, so a small damaged file
// still shows its cleared or partly decoded rows.
constexpr uint64_t kPixelsReadWhateverTheData = uint64_t{1} << 22;

// The most bits of decoded samples one byte of the file's compressed data can give, with room to
// spare so that no real file is refused; 0 for the two-dimensional fax codings, which spend at
// least one bit a row however wide the row. Codings with an arithmetic or range coder have no
// firm bound.
uint64_t MaxDecodedBitsPerByte(TIFF* file, uint16_t compression) {
    // One-dimensional fax rows are runs: a 12-bit code stands for at most 2560 pixels.
    constexpr uint64_t kOneDimensionalFax = 8 * 256;
    switch (compression) {
        case COMPRESSION_NONE:
            return 8;
        case COMPRESSION_PACKBITS:  // two bytes repeat one byte 128 times
            return 8 * 64;
        case COMPRESSION_LZW:  // codes for long strings are 12 bits: at most 4096 bytes each
            return 8 * 2731;
        case COMPRESSION_ADOBE_DEFLATE:  // at most 1032: 258 bytes from two bits
        case COMPRESSION_DEFLATE:
            return 8 * 2048;
        case COMPRESSION_JPEG:
        case COMPRESSION_OJPEG:
            return 8 * 8192;
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTRLEW:
            return kOneDimensionalFax;
        case COMPRESSION_CCITTFAX3: {
            uint32_t options = 0;
            TIFFGetField(file, TIFFTAG_GROUP3OPTIONS, &options);
            return options & GROUP3OPT_2DENCODING ? 0 : kOneDimensionalFax;
        }
        case COMPRESSION_CCITTFAX4:
            return 0;
        default:
            // Data of a coding this library cannot decode gives no pixels at all.
            return TIFFIsCODECConfigured(compression) ? 8 << 16 : 8;
    }
}

// Whether the strips or tiles can hold the picture: their byte counts, each cut to what the file
// holds from its offset on and all together to the file's size (strips may overlap), against the
// least data the coding needs for the declared picture.
// A few bytes declaring a picture of hundreds of megabytes are not trusted with its raster (and
// a turned picture's second one).
bool DataCanHoldPicture(TIFF* file, uint64_t fileSize, uint32_t width, uint32_t height) {
    const uint64_t pixels = static_cast<uint64_t>(width) * height;
    if (pixels <= kPixelsReadWhateverTheData) return true;
    uint16_t compression = COMPRESSION_NONE, bits = 1;
    TIFFGetFieldDefaulted(file, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(file, TIFFTAG_BITSPERSAMPLE, &bits);
    const uint64_t bitsPerByte = MaxDecodedBitsPerByte(file, compression);
    // Every pixel has at least one sample of the declared depth (chroma may be subsampled).
    const uint64_t sampleBits = std::clamp<uint64_t>(bits, 1, 64);
    const uint64_t needed = bitsPerByte ? (pixels * sampleBits + bitsPerByte - 1) / bitsPerByte
                                        : (static_cast<uint64_t>(height) + 7) / 8;
    const uint32_t pieces = TIFFIsTiled(file) ? TIFFNumberOfTiles(file) : TIFFNumberOfStrips(file);
    uint64_t held = 0;
    for (uint32_t i = 0; i < pieces && held < needed; ++i) {
        const uint64_t offset = TIFFGetStrileOffset(file, i);
        if (offset < fileSize) held += std::min(TIFFGetStrileByteCount(file, i), fileSize - offset);
    }
    return std::min(held, fileSize) >= needed;
}

}  // namespace

void CTiffReader::OpenFile() {
    lineCounter = -1;
    SilenceGlobalHandlers();
    uint64_t fileSize = 0;
    const int fd = OpenRegularFile(path, &fileSize);
    if (fd < 0) {
        RefuseOpen();
        return;
    }
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        Refuse("out of memory");
        close(fd);
        return;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreMessage, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxLibraryAllocation);
    // "m": plain reads instead of a memory map, so a file truncated while it is open gives a
    // read error instead of a bus error.
    file_ = TIFFFdOpenExt(fd, path.c_str(), "rm", options);
    TIFFOpenOptionsFree(options);
    if (!file_) {
        RefuseWithLibraryMessage("not a TIFF file");
        close(fd);
        return;
    }

    uint32_t width = 0, height = 0;
    if (TIFFGetField(file_, TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(file_, TIFFTAG_IMAGELENGTH, &height) != 1) {
        Refuse("no picture size in the file");
        CloseFile();
        return;
    }
    if (!AcceptSize(width, height, 32)) {
        CloseFile();
        return;
    }
    if (!DataCanHoldPicture(file_, fileSize, width, height)) {
        Refuse("pixel data far too short for the picture");
        CloseFile();
        return;
    }
    width_ = width;
    height_ = height;
    // A value outside 1 to 8 is taken as 1.
    uint16_t tag = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(file_, TIFFTAG_ORIENTATION, &tag);
    fileOrientation_ = tag >= 1 && tag <= 8 ? tag : ORIENTATION_TOPLEFT;
    orientation_ = fileOrientation_;
    if (orientation_ != kOrientationAsStored && ReadSetting(settings::kApplyOrientation) == 0)
        orientation_ = kOrientationAsStored;
    if (OrientationTransposes(orientation_))
        DeclareHeader(static_cast<int32_t>(height_), -static_cast<int32_t>(width_), 32);
    else
        DeclareHeader(static_cast<int32_t>(width_), static_cast<int32_t>(height_), 32);
}

int CTiffReader::NextLine(uint8_t** row) {
    const uint32_t rows = OrientationTransposes(orientation_) ? width_ : height_;
    if (lineCounter >= static_cast<int64_t>(rows) - 1) return lineCounter;
    ++lineCounter;
    if (lineCounter == 0 && file_ && row && *row) DecodeInto(*row);
    return lineCounter;
}

void CTiffReader::DecodeInto(uint8_t* firstRow) {
    // The library writes 32-bit words; image buffers are always aligned for them.
    if (reinterpret_cast<uintptr_t>(firstRow) % alignof(uint32_t) != 0) return;
    char message[1024];
    if (!TIFFRGBAImageOK(file_, message)) {
        Refuse(message);
        return;
    }
    TIFFRGBAImage image;
    if (!TIFFRGBAImageBegin(&image, file_, 0, message)) {
        Refuse(message);
        return;
    }
    // Decoded straight into the destination: the rows are exactly width x 4 bytes apart, so no
    // second full-size raster is needed. The library's default orientation puts the bottom row
    // of the upright picture first, the order the header declares: it applies the file's
    // mirroring and flipping itself, but it cannot swap rows and columns. So a transposed
    // picture is taken in stored order, top row first, into a raster of its own and turned
    // from there, at the cost of a second picture's worth of memory; and with the setting off
    // the library is asked for the stored rows, bottom row first.
    const size_t pixels = static_cast<size_t>(width_) * height_;
    const bool transposed = OrientationTransposes(orientation_);
    std::unique_ptr<uint32_t[]> stored;
    uint8_t* raster = firstRow;
    if (transposed) {
        image.req_orientation = fileOrientation_;
        stored.reset(new (std::nothrow) uint32_t[pixels]);
        raster = reinterpret_cast<uint8_t*>(stored.get());
    } else if (orientation_ != fileOrientation_) {
        static constexpr uint16_t kFlippedVertically[9] = {0, 4, 3, 2, 1, 4, 3, 2, 1};
        image.req_orientation = kFlippedVertically[fileOrientation_];
    }
    bool ok = image.width == width_ && image.height == height_;
    if (ok && !raster) {
        Refuse("out of memory");
        ok = false;
    } else if (ok) {
        if (image.UaToAa) KeepStoredColours(image.UaToAa);
        ok = TIFFRGBAImageGet(&image, reinterpret_cast<uint32_t*>(raster), width_, height_) != 0;
    }
    TIFFRGBAImageEnd(&image);

    if (!ok) {
        RefuseWithLibraryMessage("damaged TIFF data");
        // A half-converted picture is not shown: the rows go back to the cleared state.
        std::memset(firstRow, 0, pixels * 4);
        return;
    }
    // Each word holds red, green, blue and alpha from its lowest byte up; the image wants blue,
    // green, red and a fourth byte. That byte is made opaque rather than left as the file's alpha.
    uint8_t* p = raster;
    for (size_t i = 0; i < pixels; ++i, p += 4) {
        uint32_t word;
        std::memcpy(&word, p, 4);
        const uint8_t bgrx[4] = {static_cast<uint8_t>(TIFFGetB(word)),
                                 static_cast<uint8_t>(TIFFGetG(word)),
                                 static_cast<uint8_t>(TIFFGetR(word)), 0xFF};
        std::memcpy(p, bgrx, 4);
    }
    if (transposed)
        PlaceTransposedRows(raster, static_cast<size_t>(width_) * 4, 0, height_, width_, height_, 4,
                            orientation_, firstRow, static_cast<size_t>(height_) * 4);
}

int CTiffReader::KeepError(TIFF*, void* reader, const char*, const char* format, va_list args) {
    CTiffReader* self = static_cast<CTiffReader*>(reader);
    char* kept = self->message_;
    if (kept[0] != '\0') return 1;
    std::vsnprintf(kept, sizeof message_, format, args);
    // Many messages start with the path (the module is mostly the path too), which whoever
    // shows the reason names already.
    const std::string& path = self->path;
    if (std::strncmp(kept, path.c_str(), path.size()) == 0 &&
        std::strncmp(kept + path.size(), ": ", 2) == 0)
        std::memmove(kept, kept + path.size() + 2, std::strlen(kept + path.size() + 2) + 1);
    return 1;
}

bool CTiffReader::RefuseWithLibraryMessage(const char* otherwise) {
    return Refuse(message_[0] ? message_ : otherwise);
}

void CTiffReader::CloseFile() {
    if (file_) TIFFClose(file_);
    file_ = nullptr;
}
