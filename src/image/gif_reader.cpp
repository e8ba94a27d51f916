#include "image/gif_reader.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/file_io.h"

namespace {

// A 12-bit LZW code stands for at most 4096 pixels, so a file of N bytes cannot hold more than
// about 2700 N pixels. A picture claiming more than this is not trusted with an allocation.
constexpr int64_t kMaxPixelsPerFileByte = 4096;

// Where each interlace pass starts and how far apart its rows are.
constexpr int32_t kPassStart[4] = {0, 4, 2, 1};
constexpr int32_t kPassStep[4] = {8, 8, 4, 2};

}  // namespace

void CGifReader::OpenFile() {
    lineCounter = -1;
    // A FIFO or device would block the decoder or feed it without end.
    uint64_t fileSize = 0;
    const int fd = OpenRegularFile(path, &fileSize);
    if (fd < 0) {
        RefuseOpen();
        return;
    }
    int error = 0;
    decoder_ = DGifOpenFileHandle(fd, &error);  // takes the descriptor, even when it fails
    if (!decoder_) {
        // A colour map cut short fails without any error code.
        const char* text = GifErrorString(error);
        Refuse(error == D_GIF_ERR_NOT_GIF_FILE                ? "not a GIF file"
               : error == D_GIF_ERR_READ_FAILED || error == 0 ? "truncated in the GIF header"
               : text                                         ? text
                                                              : "damaged GIF header");
        return;
    }
    bool ok = false;
    try {
        ok = ReadFirstPicture(fileSize);
    } catch (const std::bad_alloc&) {
        ok = Refuse("out of memory");
    }
    if (!ok) {
        header = EmptyBitmapInfo();
        CloseFile();
        return;
    }
    DeclareHeader(width_, -height_, 24);
    ready_ = true;
}

bool CGifReader::RefuseDecoderError(const std::string& where) {
    if (decoder_->Error == D_GIF_ERR_READ_FAILED) return Refuse("truncated " + where);
    const char* text = GifErrorString(decoder_->Error);
    return Refuse(std::string(text ? text : "damaged GIF data") + " " + where);
}

bool CGifReader::ReadFirstPicture(uint64_t fileSize) {
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(decoder_, &type) == GIF_ERROR)
            return RefuseDecoderError("before the first picture");
        if (type == TERMINATE_RECORD_TYPE) return Refuse("no picture in the file");
        if (type == IMAGE_DESC_RECORD_TYPE) break;
        if (type != EXTENSION_RECORD_TYPE)
            return Refuse("damaged GIF data before the first picture");
        // Extensions, the graphic control one included, are skipped whole.
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(decoder_, &code, &block) == GIF_ERROR)
            return RefuseDecoderError("in an extension");
        while (block)
            if (DGifGetExtensionNext(decoder_, &block) == GIF_ERROR)
                return RefuseDecoderError("in an extension");
    }
    if (DGifGetImageDesc(decoder_) == GIF_ERROR) return RefuseDecoderError("in the picture header");

    // The picture's own size; where it sits on the logical screen does not matter here.
    const GifImageDesc& desc = decoder_->Image;
    width_ = desc.Width;
    height_ = desc.Height;
    if (!AcceptSize(width_, height_, 24)) return false;
    if (static_cast<int64_t>(width_) * height_ >
        static_cast<int64_t>(std::min<uint64_t>(fileSize, INT32_MAX)) * kMaxPixelsPerFileByte)
        return Refuse("file far too short for the picture");

    // The local map, else the global one. Without either every index is beyond the map, so
    // the whole picture is black.
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : decoder_->SColorMap;
    if (map && map->Colors) {
        const int count = std::clamp(map->ColorCount, 0, 256);
        colours_.resize(static_cast<size_t>(count) * 3);
        for (int i = 0; i < count; ++i) {
            colours_[3 * i] = map->Colors[i].Blue;
            colours_[3 * i + 1] = map->Colors[i].Green;
            colours_[3 * i + 2] = map->Colors[i].Red;
        }
    }

    if (desc.Interlace) {
        DecodeInterlaced();
    } else {
        lineBuffer_.assign(static_cast<size_t>(width_), 0);
    }
    return true;
}

// Decodes the four passes into the whole-picture buffer. After a failure the decoder cannot go
// on; the rows it gave so far are kept and the others are left for the image to show empty.
void CGifReader::DecodeInterlaced() {
    wholePicture_.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_), 0);
    rowDecoded_.assign(static_cast<size_t>(height_), 0);
    buffered_ = true;
    for (int pass = 0; pass < 4; ++pass) {
        for (int32_t y = kPassStart[pass]; y < height_; y += kPassStep[pass]) {
            uint8_t* row =
                wholePicture_.data() + static_cast<size_t>(y) * static_cast<size_t>(width_);
            if (DGifGetLine(decoder_, row, width_) == GIF_ERROR) {
                RefuseDecoderError("in interlace pass " + std::to_string(pass + 1) + " of 4");
                failed_ = true;
                return;
            }
            rowDecoded_[static_cast<size_t>(y)] = 1;
        }
    }
}

// An index beyond the map repeats the colour written before it in the row, or is black when
// nothing was written yet.
void CGifReader::WriteRow(const uint8_t* indices, uint8_t* row) const {
    const size_t count = colours_.size() / 3;
    uint8_t last[3] = {0, 0, 0};
    for (int32_t x = 0; x < width_; ++x) {
        const size_t index = indices[x];
        if (index < count) std::memcpy(last, colours_.data() + 3 * index, 3);
        std::memcpy(row + static_cast<size_t>(x) * 3, last, 3);
    }
}

int CGifReader::NextLine(uint8_t** row) {
    if (!ready_) return lineCounter;
    if (lineCounter + 1 >= height_) return lineCounter;
    ++lineCounter;
    if (buffered_) {
        if (rowDecoded_[static_cast<size_t>(lineCounter)])
            WriteRow(wholePicture_.data() +
                         static_cast<size_t>(lineCounter) * static_cast<size_t>(width_),
                     *row);
        return lineCounter;
    }
    // A row the decoder fails on is left as the image holds it, and so are the rows after it.
    if (failed_) return lineCounter;
    if (DGifGetLine(decoder_, lineBuffer_.data(), width_) == GIF_ERROR) {
        RefuseDecoderError("after row " + std::to_string(lineCounter));
        failed_ = true;
        return lineCounter;
    }
    WriteRow(lineBuffer_.data(), *row);
    return lineCounter;
}

void CGifReader::CloseFile() {
    if (decoder_) {
        int error = 0;
        DGifCloseFile(decoder_, &error);
        decoder_ = nullptr;
    }
    ready_ = false;
    colours_ = {};
    lineBuffer_ = {};
    wholePicture_ = {};
    rowDecoded_ = {};
}
