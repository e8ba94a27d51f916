#include "image/webp_reader.h"

#include <sys/mman.h>
#include <webp/demux.h>

#include <cstring>
#include <limits>
#include <new>

#include "image/bitmap.h"
#include "platform/file_io.h"

namespace {

// Enough for the header and, in an extended file, the chunk that says whether it is animated.
constexpr size_t kFeaturesProbe = 4096;

const char* StatusText(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY:
            return "out of memory";
        case VP8_STATUS_UNSUPPORTED_FEATURE:
            return "unsupported WebP feature";
        case VP8_STATUS_NOT_ENOUGH_DATA:
            return "truncated";
        default:
            return "damaged WebP data";
    }
}

}  // namespace

void CWebpReader::OpenFile() {
    file_ = OpenRegularFileStream(path);
    if (!file_) {
        RefuseOpen();
        return;
    }
    uint8_t probe[kFeaturesProbe];  // on the stack: nothing to run out of
    const size_t got = std::fread(probe, 1, sizeof probe, file_);
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(probe, got, &features);
    if (status != VP8_STATUS_OK) {
        Refuse(status == VP8_STATUS_NOT_ENOUGH_DATA ? "truncated WebP header" : "not a WebP file");
        Release();
        return;
    }
    animated_ = features.has_animation != 0;
    bytesPerPixel_ = features.has_alpha || animated_ ? 4 : 3;
    if (!AcceptSize(features.width, features.height, bytesPerPixel_ * 8)) {
        Release();
        return;
    }
    width_ = features.width;
    height_ = features.height;
    // A lossy picture costs its decoder time per macroblock whatever the data says, and an
    // animation's decoder allocates and clears two whole canvases before its first frame: a few
    // bytes declaring a huge picture would keep the loader busy for seconds, or take gigabytes,
    // on nothing. A canvas of moderate size is taken from any animated file.
    const int64_t pixels = static_cast<int64_t>(width_) * height_;
    const bool costly = features.format == 1 || (animated_ && pixels > kFreeAnimationPixels);
    if (costly && std::fseek(file_, 0, SEEK_END) == 0) {
        const long size = std::ftell(file_);
        if (size > 0 && pixels > kMaxPixelsPerByte * size) {
            Refuse("WebP picture too large for its file");
            Release();
            return;
        }
    }
    if (animated_) {
        if (!OpenAnimation()) {
            Release();
            return;
        }
    } else {
        if (!WebPInitDecoderConfig(&config_)) {
            Refuse("WebP library version mismatch");
            Release();
            return;
        }
        configured_ = true;
        config_.output.colorspace = bytesPerPixel_ == 4 ? MODE_BGRA : MODE_BGR;
        // The decoder itself is made with the first row, when the rows' buffer is known.
        try {
            chunk_.resize(kChunk);
        } catch (const std::bad_alloc&) {
            Refuse("out of memory");
            Release();
            return;
        }
        std::rewind(file_);
    }
    DeclareHeader(width_, -height_, bytesPerPixel_ * 8);
}

bool CWebpReader::OpenAnimation() {
    if (std::fseek(file_, 0, SEEK_END) != 0) return Refuse("cannot read the file");
    const long size = std::ftell(file_);
    if (size <= 0 || size > kMaxAnimatedFile) return Refuse("animated WebP file too large");
    std::rewind(file_);
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return Refuse("out of memory");
    }
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), file_);
    WebPData data{bytes.data(), got};
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return Refuse("WebP library version mismatch");
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
    if (!decoder) return Refuse(got < bytes.size() ? "truncated" : "damaged animated WebP");
    WebPAnimInfo info;
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    bool ok = WebPAnimDecoderGetInfo(decoder, &info) &&
              static_cast<int32_t>(info.canvas_width) == width_ &&
              static_cast<int32_t>(info.canvas_height) == height_ &&
              WebPAnimDecoderGetNext(decoder, &canvas, &timestamp) && canvas;
    if (ok) {
        try {
            frame_.assign(canvas, canvas + static_cast<size_t>(width_) * height_ * 4);
        } catch (const std::bad_alloc&) {
            ok = false;
            Refuse("out of memory");
        }
    } else {
        Refuse("damaged animated WebP");
    }
    WebPAnimDecoderDelete(decoder);
    return ok;
}

bool CWebpReader::StartDecoder(const uint8_t* row) {
    // Decoding straight into the rows' own buffer saves a second full-size picture and a copy
    // of every row. The library checks the buffer against the picture's size itself as well.
    const size_t rowBytes = static_cast<size_t>(width_) * bytesPerPixel_;
    const size_t stride = rowTargetStride;
    // Lossy pictures are filtered and converted on a second thread while the next rows are
    // decoded: the whole picture sooner. Rows handed over to a row pipe are already resampled
    // on a thread of their own; a third thread there only meets the decoder twice per 16 rows
    // (some 300 context switches for 12 MP), costing more processor time and no less wall time.
    config_.options.use_threads = ownRows ? 0 : 1;
    if (rowTarget && row == rowTarget && stride >= rowBytes &&
        stride <= static_cast<size_t>(std::numeric_limits<int>::max()) &&
        stride * static_cast<size_t>(height_ - 1) + rowBytes <= rowTargetBytes) {
        config_.output.is_external_memory = 1;
        config_.output.u.RGBA.rgba = rowTarget;
        config_.output.u.RGBA.stride = static_cast<int>(stride);
        config_.output.u.RGBA.size = rowTargetBytes;
        inPlace_ = true;
    } else if (height_ > 0 && rowBytes <= static_cast<size_t>(std::numeric_limits<int>::max())) {
        MapPicture(rowBytes * static_cast<size_t>(height_));
        if (mapped_) {
            config_.output.is_external_memory = 1;
            config_.output.u.RGBA.rgba = mapped_;
            config_.output.u.RGBA.stride = static_cast<int>(rowBytes);
            config_.output.u.RGBA.size = mappedBytes_;
        }
    }
    decoder_ = WebPIDecode(nullptr, 0, &config_);
    if (decoder_) return true;
    broken_ = true;
    return Refuse("out of memory");
}

bool CWebpReader::DecodeThrough(int32_t row) {
    for (;;) {
        if (decoder_) WebPIDecGetRGB(decoder_, &decodedRows_, nullptr, nullptr, nullptr);
        if (decodedRows_ > row) return true;
        if (finished_ || broken_) {
            // Writing into the rows' buffer ends here: the library's second thread is joined.
            if (inPlace_ && decoder_) {
                WebPIDelete(decoder_);
                decoder_ = nullptr;
            }
            return false;
        }
        RecyclePages();
        const size_t got = std::fread(chunk_.data(), 1, chunk_.size(), file_);
        if (got == 0) {
            broken_ = true;
            Refuse(lineCounter > 0 ? "truncated after row " + std::to_string(lineCounter - 1)
                                   : "truncated");
            return false;
        }
        const VP8StatusCode status = WebPIAppend(decoder_, chunk_.data(), got);
        if (status == VP8_STATUS_OK) {
            finished_ = true;
        } else if (status != VP8_STATUS_SUSPENDED) {
            broken_ = true;
            Refuse(std::string(StatusText(status)) + " after row " + std::to_string(row - 1));
        }
    }
}

int CWebpReader::NextLine(uint8_t** row) {
    if (lineCounter + 1 >= height_) return lineCounter;
    if (animated_ ? frame_.empty() : !configured_) return lineCounter;
    ++lineCounter;
    const size_t rowBytes = static_cast<size_t>(width_) * bytesPerPixel_;
    if (animated_) {
        std::memcpy(*row, frame_.data() + static_cast<size_t>(lineCounter) * rowBytes, rowBytes);
        if (lineCounter + 1 == height_) frame_ = {};
        return lineCounter;
    }
    if (lineCounter == 0 && !StartDecoder(*row)) return lineCounter;
    if (!DecodeThrough(lineCounter)) return lineCounter;  // the rows so far stay
    if (inPlace_) {
        // The row is in the buffer already; a caller's other buffer gets a copy of it.
        const uint8_t* decoded = rowTarget + rowTargetStride * static_cast<size_t>(lineCounter);
        if (*row != decoded) std::memcpy(*row, decoded, rowBytes);
        return lineCounter;
    }
    int stride = 0;
    uint8_t* pixels = WebPIDecGetRGB(decoder_, nullptr, nullptr, nullptr, &stride);
    if (!pixels) return lineCounter;
    // The library writes each row of its picture once and keeps the picture until Release.
    uint8_t* decoded = pixels + static_cast<size_t>(lineCounter) * stride;
    if (ownRows)
        *row = decoded;
    else
        std::memcpy(*row, decoded, rowBytes);
    return lineCounter;
}

void CWebpReader::MapPicture(size_t bytes) {
    // A batch resize or a reduced load passes each row on, so this picture is written once and
    // read once: most of its cost was faulting in 4 KiB pages (for 12 MP, some 9000 faults,
    // about a tenth of the decode). Huge pages take a few dozen. When the map fails, the
    // library allocates as before and reports its own failure.
    if (bytes > std::numeric_limits<size_t>::max() - kPageUnit) return;
    const size_t length = bytes + kPageUnit;
    void* at = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) return;
    const uintptr_t aligned =
        (reinterpret_cast<uintptr_t>(at) + kPageUnit - 1) & ~uintptr_t{kPageUnit - 1};
    mapBase_ = at;
    mapLength_ = length;
    mapped_ = reinterpret_cast<uint8_t*>(aligned);
    mappedBytes_ = bytes;
    madvise(mapped_, bytes, MADV_HUGEPAGE);
    nextGiven_ = 0;
    nextFilled_ = 1;
}

void CWebpReader::RecyclePages() {
    if (!mapped_ || !ownRows || !rowsDone) return;
    const size_t rowBytes = static_cast<size_t>(width_) * bytesPerPixel_;
    const int64_t done = rowsDone->load(std::memory_order_acquire);
    // The library writes rows from the one it last reported on; with alpha it may have begun
    // the next rows already, so a unit it could have touched is left alone.
    const int64_t untouched = static_cast<int64_t>(decodedRows_) + 32;
    for (;;) {
        // A unit to give: every row reaching into it done with.
        const size_t givenEnd = (nextGiven_ + 1) * kPageUnit;
        if (givenEnd > mappedBytes_ ||
            static_cast<int64_t>((givenEnd - 1) / rowBytes) >= done)
            return;
        // A unit to fill: whole, and no row reaching into it written yet.
        if (nextFilled_ <= nextGiven_) nextFilled_ = nextGiven_ + 1;
        const size_t filledStart = nextFilled_ * kPageUnit;
        if (filledStart + kPageUnit > mappedBytes_) return;
        if (static_cast<int64_t>(filledStart / rowBytes) < untouched) {
            ++nextFilled_;
            continue;
        }
        void* moved = mremap(mapped_ + nextGiven_ * kPageUnit, kPageUnit, kPageUnit,
                             MREMAP_MAYMOVE | MREMAP_FIXED, mapped_ + filledStart);
        // Where the kernel refuses, the pages stay and fresh ones are cleared as before.
        if (moved == MAP_FAILED) {
            nextGiven_ = mappedBytes_ / kPageUnit;
            return;
        }
        ++nextGiven_;
        ++nextFilled_;
    }
}

void CWebpReader::Release() {
    if (decoder_) WebPIDelete(decoder_);
    decoder_ = nullptr;
    if (configured_) WebPFreeDecBuffer(&config_.output);
    configured_ = false;
    // Only now: the decoder (and its second thread) no longer writes into it.
    if (mapBase_) munmap(mapBase_, mapLength_);
    mapBase_ = nullptr;
    mapLength_ = 0;
    mapped_ = nullptr;
    mappedBytes_ = 0;
    if (file_) std::fclose(file_);
    file_ = nullptr;
    chunk_ = {};
    frame_ = {};
}

void CWebpReader::CloseFile() {
    Release();
}
