#include "image/jxl_reader.h"

#include <lcms2.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/file_io.h"

namespace {

// Larger profiles are not applied; real ones are a few KiB.
constexpr size_t kMaxProfile = size_t{16} << 20;

// Every block carries its size in front, so that a free can be counted back.
constexpr size_t kBlockHeader = 64;

void* BudgetAlloc(void* opaque, size_t size) {
    auto* budget = static_cast<CJxlReader::Budget*>(opaque);
    if (size > budget->cap - budget->used) {
        budget->refused = true;
        return nullptr;
    }
    auto* block = static_cast<uint8_t*>(std::malloc(size + kBlockHeader));
    if (!block) {
        budget->refused = true;
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    budget->used += size;
    if (budget->used > budget->peak) budget->peak = budget->used;
    return block + kBlockHeader;
}

void BudgetFree(void* opaque, void* address) {
    if (!address) return;
    auto* budget = static_cast<CJxlReader::Budget*>(opaque);
    uint8_t* block = static_cast<uint8_t*>(address) - kBlockHeader;
    size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    budget->used -= size;
    std::free(block);
}

JxlColorEncoding Srgb(bool grey) {
    JxlColorEncoding encoding{};
    encoding.color_space = grey ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
    encoding.white_point = JXL_WHITE_POINT_D65;
    encoding.primaries = JXL_PRIMARIES_SRGB;
    encoding.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
    encoding.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
    return encoding;
}

bool IsSrgb(const JxlColorEncoding& encoding) {
    return encoding.white_point == JXL_WHITE_POINT_D65 &&
           encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB &&
           (encoding.color_space == JXL_COLOR_SPACE_GRAY ||
            (encoding.color_space == JXL_COLOR_SPACE_RGB &&
             encoding.primaries == JXL_PRIMARIES_SRGB));
}

}  // namespace

CJxlReader::CJxlReader(std::string path) : CImageReader(std::move(path)) {}

size_t CJxlReader::PeakDecoderMemory() const {
    return budget_ ? budget_->peak : 0;
}

void CJxlReader::OpenFile() {
    Release();
    budget_.reset(new (std::nothrow) Budget);
    file_ = OpenRegularFileStream(path);
    if (!file_) {
        RefuseOpen();
        Release();
        return;
    }
    if (std::fseek(file_, 0, SEEK_END) == 0) fileSize_ = std::ftell(file_);
    std::rewind(file_);
    const JxlMemoryManager memory{budget_.get(), BudgetAlloc, BudgetFree};
    decoder_ = budget_ ? JxlDecoderCreate(&memory) : nullptr;
    if (!decoder_) {
        Refuse("out of memory");
        Release();
        return;
    }
    // The library turns the picture upright by the code stream's orientation itself (keep
    // orientation stays off), and the sizes declared here are the upright ones.
    if (JxlDecoderSubscribeEvents(decoder_, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                                JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetUnpremultiplyAlpha(decoder_, JXL_TRUE) != JXL_DEC_SUCCESS) {
        Refuse("JPEG XL library refused its settings");
        Release();
        return;
    }
    try {
        input_.resize(kChunk);
    } catch (const std::bad_alloc&) {
        Refuse("out of memory");
        Release();
        return;
    }
    if (!ReadHeader()) {
        Release();
        return;
    }
    DeclareHeader(width_, -height_, bytesPerPixel_ * 8);
}

bool CJxlReader::ReadHeader() {
    bool sized = false;
    JxlBasicInfo info{};
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder_);
        if (status == JXL_DEC_NEED_MORE_INPUT) {
            if (inputBytes_ == 0 && !inputSet_) {
                // The first bytes: anything but a JPEG XL signature is refused before the
                // decoder sees it.
                if (!Feed()) return Refuse(fileEnded_ ? "not a JPEG XL file" : "out of memory");
                const JxlSignature signature = JxlSignatureCheck(input_.data(), inputBytes_);
                if (signature != JXL_SIG_CODESTREAM && signature != JXL_SIG_CONTAINER)
                    return Refuse(signature == JXL_SIG_NOT_ENOUGH_BYTES ? "truncated JPEG XL header"
                                                                        : "not a JPEG XL file");
                continue;
            }
            if (!Feed()) return Refuse(fileEnded_ ? "truncated JPEG XL header" : "out of memory");
        } else if (status == JXL_DEC_BASIC_INFO) {
            if (JxlDecoderGetBasicInfo(decoder_, &info) != JXL_DEC_SUCCESS)
                return Refuse("damaged JPEG XL header");
            const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
            const int64_t width = turned ? info.ysize : info.xsize;
            const int64_t height = turned ? info.xsize : info.ysize;
            bytesPerPixel_ = info.alpha_bits > 0 ? 4 : 3;
            if (!AcceptSize(width, height, bytesPerPixel_ * 8)) return false;
            // A small file declaring a huge picture would have the decoder work and allocate
            // for pixels that are not there.
            const int64_t pixels = width * height;
            if (pixels > kFreePixels && fileSize_ > 0 && pixels > kMaxPixelsPerByte * fileSize_)
                return Refuse("JPEG XL picture too large for its file");
            width_ = static_cast<int32_t>(width);
            height_ = static_cast<int32_t>(height);
            budget_->cap = kBaseBudget + static_cast<size_t>(pixels) * kBudgetPerPixel;
            sized = true;
        } else if (status == JXL_DEC_COLOR_ENCODING) {
            if (!sized) return Refuse("damaged JPEG XL header");
            ChooseColour(info);
            return true;
        } else if (status == JXL_DEC_ERROR) {
            return Refuse(budget_->refused ? "out of memory" : "damaged JPEG XL header");
        } else {
            return Refuse("damaged JPEG XL header");
        }
    }
}

void CJxlReader::ChooseColour(const JxlBasicInfo& info) {
    const bool grey = info.num_color_channels == 1;
    // Pixels stored in the codec's own colour space can be had in any encoded one.
    if (!info.uses_original_profile) {
        const JxlColorEncoding srgb = Srgb(grey);
        JxlDecoderSetPreferredColorProfile(decoder_, &srgb);
    }
    JxlColorEncoding data{};
    if (JxlDecoderGetColorAsEncodedProfile(decoder_, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                           &data) == JXL_DEC_SUCCESS &&
        IsSrgb(data))
        return;
    // Grey comes out as three equal samples, shown as they are.
    if (grey) return;
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder_, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
            JXL_DEC_SUCCESS ||
        size == 0 || size > kMaxProfile)
        return;
    std::vector<uint8_t> profile;
    try {
        profile.resize(size);
    } catch (const std::bad_alloc&) {
        return;
    }
    if (JxlDecoderGetColorAsICCProfile(decoder_, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       profile.data(), size) != JXL_DEC_SUCCESS)
        return;
    // A profile Little CMS cannot use leaves the pixels as they are.
    cmsHPROFILE input = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(size));
    if (!input) return;
    if (cmsGetColorSpace(input) == cmsSigRgbData) {
        if (cmsHPROFILE output = cmsCreate_sRGBProfile()) {
            const bool alpha = bytesPerPixel_ == 4;
            const cmsUInt32Number format = alpha ? TYPE_BGRA_8 : TYPE_BGR_8;
            transform_ = cmsCreateTransform(input, format, output, format, INTENT_PERCEPTUAL,
                                            alpha ? cmsFLAGS_COPY_ALPHA : 0);
            cmsCloseProfile(output);
        }
    }
    cmsCloseProfile(input);
}

bool CJxlReader::Feed() {
    if (inputSet_) {
        const size_t left = JxlDecoderReleaseInput(decoder_);
        inputSet_ = false;
        if (left <= inputBytes_) {
            std::memmove(input_.data(), input_.data() + (inputBytes_ - left), left);
            inputBytes_ = left;
        }
    }
    if (fileEnded_) return false;
    if (inputBytes_ == input_.size()) {
        // The decoder needs a longer piece than it holds (one section of a small picture may
        // be the whole frame): it gets room for more, never much more than the file.
        if (fileSize_ > 0 && input_.size() > static_cast<size_t>(fileSize_) + kChunk) {
            fileEnded_ = true;
            return false;
        }
        try {
            input_.resize(input_.size() * 2);
        } catch (const std::bad_alloc&) {
            broken_ = true;
            return false;
        }
    }
    const size_t got =
        std::fread(input_.data() + inputBytes_, 1, input_.size() - inputBytes_, file_);
    if (got < input_.size() - inputBytes_) fileEnded_ = true;
    if (got == 0) return false;
    inputBytes_ += got;
    if (JxlDecoderSetInput(decoder_, input_.data(), inputBytes_) != JXL_DEC_SUCCESS) {
        broken_ = true;
        return false;
    }
    inputSet_ = true;
    return true;
}

bool CJxlReader::SetOutput() {
    const size_t rowBytes = static_cast<size_t>(width_) * bytesPerPixel_;
    JxlPixelFormat format{static_cast<uint32_t>(bytesPerPixel_), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN,
                          0};
    size_t size = 0;
    if (JxlDecoderImageOutBufferSize(decoder_, &format, &size) != JXL_DEC_SUCCESS ||
        size != rowBytes * height_) {
        Fail("damaged JPEG XL frame");
        return false;
    }
    std::unique_ptr<CPrivateHeap> heap(new (std::nothrow) CPrivateHeap);
    picture_ = heap ? static_cast<uint8_t*>(heap->Alloc(rowBytes * height_)) : nullptr;
    if (!picture_) {
        Fail("out of memory");
        return false;
    }
    heap_ = std::move(heap);
    try {
        filled_.assign(static_cast<size_t>(height_), 0);
    } catch (const std::bad_alloc&) {
        Fail("out of memory");
        return false;
    }
    if (JxlDecoderSetImageOutCallback(decoder_, &format, TakePixels, this) != JXL_DEC_SUCCESS) {
        Fail("damaged JPEG XL frame");
        return false;
    }
    return true;
}

void CJxlReader::TakePixels(void* opaque, size_t x, size_t y, size_t count, const void* pixels) {
    auto* reader = static_cast<CJxlReader*>(opaque);
    const size_t width = static_cast<size_t>(reader->width_);
    if (y >= static_cast<size_t>(reader->height_) || x >= width || count > width - x) return;
    const int bpp = reader->bytesPerPixel_;
    const auto* in = static_cast<const uint8_t*>(pixels);
    uint8_t* out = reader->picture_ + (y * width + x) * bpp;
    if (bpp == 4) {
        for (size_t i = 0; i < count; ++i, in += 4, out += 4) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            out[3] = in[3];
        }
    } else {
        for (size_t i = 0; i < count; ++i, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
    }
    reader->filled_[y] += static_cast<uint32_t>(count);
}

void CJxlReader::Fail(const std::string& reason) {
    broken_ = true;
    Refuse(complete_ > 0 ? reason + " after row " + std::to_string(complete_ - 1) : reason);
}

bool CJxlReader::Step() {
    const JxlDecoderStatus status = JxlDecoderProcessInput(decoder_);
    switch (status) {
        case JXL_DEC_NEED_MORE_INPUT:
            if (Feed()) return true;
            // What the file held is rendered as far as it goes: finished groups as they are,
            // the others from the coarser passes that have come.
            if (fileEnded_ && picture_ && JxlDecoderFlushImage(decoder_) == JXL_DEC_SUCCESS)
                AdvanceComplete();
            Fail(fileEnded_ ? "truncated" : "out of memory");
            return false;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
            return SetOutput();
        case JXL_DEC_FULL_IMAGE:
        case JXL_DEC_SUCCESS:
            // The first frame is all this reader shows; the decoder and file go at once.
            finished_ = true;
            JxlDecoderDestroy(decoder_);
            decoder_ = nullptr;
            inputSet_ = false;
            input_ = {};
            if (file_) std::fclose(file_);
            file_ = nullptr;
            return true;
        case JXL_DEC_ERROR:
            Fail(budget_->refused ? "out of memory" : "damaged JPEG XL data");
            return false;
        default:
            return true;
    }
}

void CJxlReader::AdvanceComplete() {
    while (complete_ < height_ && !filled_.empty() &&
           filled_[complete_] >= static_cast<uint32_t>(width_))
        ++complete_;
}

bool CJxlReader::DecodeThrough(int32_t row) {
    for (;;) {
        AdvanceComplete();
        if (complete_ > row) return true;
        if (finished_) {
            Fail("JPEG XL frame incomplete");
            return false;
        }
        if (broken_ || !decoder_) return false;
        if (decodeStopped && decodeStopped()) {
            broken_ = true;
            Refuse("decode stopped");
            return false;
        }
        if (!Step()) return false;
    }
}

int CJxlReader::NextLine(uint8_t** row) {
    if (lineCounter + 1 >= height_) return lineCounter;
    ++lineCounter;
    if (!DecodeThrough(lineCounter)) return lineCounter;  // the rows so far stay
    const size_t rowBytes = static_cast<size_t>(width_) * bytesPerPixel_;
    std::memcpy(*row, picture_ + static_cast<size_t>(lineCounter) * rowBytes, rowBytes);
    if (transform_) cmsDoTransform(transform_, *row, *row, static_cast<cmsUInt32Number>(width_));
    if (lineCounter + 1 == height_) {
        heap_.reset();
        picture_ = nullptr;
    }
    return lineCounter;
}

void CJxlReader::Release() {
    if (decoder_) JxlDecoderDestroy(decoder_);
    decoder_ = nullptr;
    inputSet_ = false;
    if (file_) std::fclose(file_);
    file_ = nullptr;
    input_ = {};
    inputBytes_ = 0;
    if (transform_) cmsDeleteTransform(transform_);
    transform_ = nullptr;
    heap_.reset();
    picture_ = nullptr;
    filled_ = {};
}

void CJxlReader::CloseFile() {
    Release();
}
