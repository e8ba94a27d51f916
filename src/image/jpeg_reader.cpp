#include "image/jpeg_reader.h"

#include <jerror.h>  // after jpeglib.h, which the header includes
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "image/exif.h"
#include "platform/file_io.h"
#include "settings/settings.h"

static_assert(std::endian::native == std::endian::little,
              "grey expansion stores little-endian words");

namespace {

JpegErrorManager* Errors(j_common_ptr info) {
    return reinterpret_cast<JpegErrorManager*>(info->err);
}

[[noreturn]] void ErrorExit(j_common_ptr info) {
    JpegErrorManager* errors = Errors(info);
    if (errors->message[0] == '\0') info->err->format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings (negative levels) are counted, never printed; trace messages are ignored.
void EmitMessage(j_common_ptr info, int level) {
    if (level >= 0) return;
    JpegErrorManager* errors = Errors(info);
    if (info->err->msg_code == JWRN_JPEG_EOF) errors->endedEarly = true;
    if (++errors->warnings > kMaxDecoderWarnings) {
        std::snprintf(errors->message, sizeof errors->message, "too much damaged data");
        ErrorExit(info);
    }
}

void OutputMessage(j_common_ptr) {}

void CheckScanCount(j_common_ptr info) {
    if (!info->is_decompressor) return;
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > CJpegReader::kMaxScans) {
        std::snprintf(Errors(info)->message, sizeof Errors(info)->message,
                      "more than %d progressive scans", CJpegReader::kMaxScans);
        ErrorExit(info);
    }
}

// Every call into libjpeg goes through one of these. The error manager jumps back into the
// function that armed it, which holds nothing with a destructor, and the caller learns of the
// failure from the result. Only parameters live across setjmp, and none is changed after it.

bool CreateGuarded(j_decompress_ptr d, JpegErrorManager* errors) {
    if (setjmp(errors->jump)) return false;
    jpeg_create_decompress(d);
    return true;
}

bool ReadHeaderGuarded(j_decompress_ptr d, JpegErrorManager* errors, FILE* file) {
    if (setjmp(errors->jump)) return false;
    jpeg_stdio_src(d, file);
    // Kept for the orientation; the library bounds each marker by its 16-bit length.
    jpeg_save_markers(d, JPEG_APP0 + 1, 0xFFFF);
    return jpeg_read_header(d, TRUE) == JPEG_HEADER_OK;
}

bool CalcOutputGuarded(j_decompress_ptr d, JpegErrorManager* errors) {
    if (setjmp(errors->jump)) return false;
    jpeg_calc_output_dimensions(d);
    return true;
}

bool StartGuarded(j_decompress_ptr d, JpegErrorManager* errors) {
    if (setjmp(errors->jump)) return false;
    return jpeg_start_decompress(d) != FALSE;
}

// A progressive file's scans, absorbed on the thread that reads the rows (the library's
// single-pass mode absorbs them inside jpeg_start_decompress, on the thread that opens the file),
// then one output pass over the complete picture: the pixels single-pass mode gives.
bool StartOutputGuarded(j_decompress_ptr d, JpegErrorManager* errors) {
    if (setjmp(errors->jump)) return false;
    for (int result = JPEG_SUSPENDED + 1; result != JPEG_REACHED_EOI;) {
        result = jpeg_consume_input(d);
        if (result == JPEG_SUSPENDED) return false;  // the stdio source never suspends
        if (d->input_scan_number > CJpegReader::kMaxScans) {
            std::snprintf(errors->message, sizeof errors->message, "more than %d progressive scans",
                          CJpegReader::kMaxScans);
            return false;
        }
    }
    jpeg_start_output(d, d->input_scan_number);
    return true;
}

// A coarse picture as early as the file allows: the scans up to the first that refines AC
// coefficients (so every component has its DC ones), shown without waiting for that scan, with
// the fast inverse DCT and without block smoothing, which would cost the coarse picture about
// half as much time again to soften its 8 x 8 blocks.
bool StartCoarseOutputGuarded(j_decompress_ptr d, JpegErrorManager* errors) {
    if (setjmp(errors->jump)) return false;
    // Ss describes the scan whose header was read last, the one about to be absorbed.
    while (d->Ss == 0) {
        const int result = jpeg_consume_input(d);
        if (result == JPEG_SUSPENDED) return false;
        if (result == JPEG_REACHED_EOI) break;
        if (d->input_scan_number > CJpegReader::kMaxScans) {
            std::snprintf(errors->message, sizeof errors->message, "more than %d progressive scans",
                          CJpegReader::kMaxScans);
            return false;
        }
    }
    d->dct_method = JDCT_IFAST;
    d->do_block_smoothing = FALSE;
    jpeg_start_output(d, d->input_scan_number > 1 ? d->input_scan_number - 1 : 1);
    return true;
}

// Never to the last row: skipping there would end the input too, and the final pass's scans
// would go unread.
bool SkipRowsGuarded(j_decompress_ptr d, JpegErrorManager* errors, JDIMENSION rows) {
    if (setjmp(errors->jump)) return false;
    if (rows > 0 && d->output_scanline + rows < d->output_height) jpeg_skip_scanlines(d, rows);
    return true;
}

bool FinishOutputGuarded(j_decompress_ptr d, JpegErrorManager* errors) {
    if (setjmp(errors->jump)) return false;
    jpeg_finish_output(d);
    return true;
}

bool ReadScanlineGuarded(j_decompress_ptr d, JpegErrorManager* errors, JSAMPROW row) {
    if (setjmp(errors->jump)) return false;
    jpeg_read_scanlines(d, &row, 1);
    return true;
}

// round(a * b / 255) for bytes, exactly.
inline uint8_t MulDiv255(unsigned a, unsigned b) {
    const unsigned t = a * b + 128;
    return static_cast<uint8_t>((t + (t >> 8)) >> 8);
}

}  // namespace

CJpegReader::CJpegReader(std::string filePath) : CImageReader(std::move(filePath)) {
    std::memset(&decompressor_, 0, sizeof decompressor_);
    std::memset(&progress_, 0, sizeof progress_);
}

void CJpegReader::OpenFile() {
    lineCounter = -1;
    buffered_ = outputStarted_ = coarseActive_ = storedRows_ = false;
    jpeg_std_error(&errors_.pub);
    errors_.pub.error_exit = ErrorExit;
    errors_.pub.emit_message = EmitMessage;
    errors_.pub.output_message = OutputMessage;
    errors_.warnings = 0;
    errors_.endedEarly = false;
    errors_.message[0] = '\0';
    decompressor_.err = &errors_.pub;
    // Destroying a half-created decompressor is safe, so every failure has one way out.
    decompressorAlive_ = true;
    file_ = OpenRegularFileStream(path);
    if (!file_) RefuseOpen();
    if (!CreateGuarded(&decompressor_, &errors_)) RefuseWithLibraryMessage("out of memory");
    // A reducible reader starts the library only once the output size is settled (Reduce or
    // the first row): the scale cannot change after that.
    if (!failure.empty() || !ReadHeader() || (!reducible && !StartDecoding())) {
        // Nothing to deliver: the header stays 0 x 0 and nothing is held on to.
        header = EmptyBitmapInfo();
        CloseFile();
        return;
    }
    const int32_t width = static_cast<int32_t>(decompressor_.image_width);
    const int32_t height = static_cast<int32_t>(decompressor_.image_height);
    if (OrientationTransposes(orientation_)) {
        DeclareHeader(height, -width, 24);
        allRowsAtOnce = true;
    } else {
        // Shown bottom to top, the rows are declared in that order and still come one by one.
        DeclareHeader(width, OrientationReversesRows(orientation_) ? height : -height, 24);
    }
    // Mirrored rows come B, G, R too: reversing an R, G, B row's bytes mirrors it and swaps.
    rgbOrder =
        layout_ != Layout::kGrey && !libraryGivesBgr_ && !OrientationMirrorsRows(orientation_);
}

bool CJpegReader::RefuseWithLibraryMessage(const char* otherwise) {
    return Refuse(errors_.message[0] ? errors_.message : otherwise);
}

bool CJpegReader::ReadHeader() {
    if (!ReadHeaderGuarded(&decompressor_, &errors_, file_))
        return RefuseWithLibraryMessage("not a JPEG file");

    const int64_t width = decompressor_.image_width;
    const int64_t height = decompressor_.image_height;
    if (!AcceptSize(width, height, 24)) return false;
    struct stat st {};
    if (fstat(fileno(file_), &st) != 0) return Refuse(std::strerror(errno));
    if (width * height > static_cast<int64_t>(st.st_size) * kMaxPixelsPerByte)
        return Refuse("file far too short for the picture");

    switch (decompressor_.jpeg_color_space) {
        case JCS_GRAYSCALE:
            layout_ = Layout::kGrey;
            break;
        case JCS_YCbCr:
        case JCS_RGB:
            layout_ = Layout::kRgb;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            // libjpeg turns YCCK into CMYK; the reader does the rest.
            layout_ = Layout::kCmyk;
            decompressor_.out_color_space = JCS_CMYK;
            break;
        default:
            // Two or five and more components: no picture this reader can show.
            return Refuse("unsupported JPEG colour space");
    }

    // The first Exif segment counts; a second one (rare, and then usually a copy) does not.
    orientation_ = kOrientationAsStored;
    for (jpeg_saved_marker_ptr m = decompressor_.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1 || m->data_length < 6 ||
            std::memcmp(m->data, "Exif\0\0", 6) != 0)
            continue;
        orientation_ = JpegApp1Orientation(m->data, m->data_length);
        break;
    }
    // The setting is read only for the pictures it concerns: most have nothing to turn.
    if (orientation_ != kOrientationAsStored && ReadSetting(settings::kApplyOrientation) == 0)
        orientation_ = kOrientationAsStored;
    // The library gives B, G, R, the display's order, so no row needs a swap afterwards (for
    // a 13 MP photo, a few milliseconds a pass). Mirrored rows are the exception: they take R,
    // G, B, as reversing a row's bytes mirrors it and swaps. Turned ones are placed pixel by
    // pixel, so they take B, G, R whatever their mirroring.
    libraryGivesBgr_ = layout_ == Layout::kRgb &&
                       (OrientationTransposes(orientation_) || !OrientationMirrorsRows(orientation_));
    if (libraryGivesBgr_) decompressor_.out_color_space = JCS_EXT_BGR;

    progress_.progress_monitor = CheckScanCount;
    decompressor_.progress = &progress_;
    width_ = static_cast<int32_t>(width);
    height_ = static_cast<int32_t>(height);
    return true;
}

// Starts the library at the output size width_ x height_, which the header or Reduce set.
bool CJpegReader::StartDecoding() {
    started_ = true;
    buffered_ = decompressor_.progressive_mode != FALSE;
    decompressor_.buffered_image = buffered_ ? TRUE : FALSE;
    if (!StartGuarded(&decompressor_, &errors_))
        return RefuseWithLibraryMessage("damaged JPEG data");

    const int components = layout_ == Layout::kGrey ? 1 : layout_ == Layout::kRgb ? 3 : 4;
    if (decompressor_.output_components != components ||
        static_cast<int64_t>(decompressor_.output_width) != width_ ||
        static_cast<int64_t>(decompressor_.output_height) != height_)
        return Refuse("unexpected decoder output");
    if (layout_ != Layout::kRgb) {
        scanline_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(width_) * components]);
        if (!scanline_) return Refuse("out of memory");
    }
    return true;
}

bool CJpegReader::Reduce(int32_t minWidth, int32_t minHeight, int32_t* width, int32_t* height) {
    if (!reducible || !decompressorAlive_ || started_ || lineCounter != -1) return false;
    // The library's sizes are the stored picture's; the caller's are the upright one's.
    const bool transposed = OrientationTransposes(orientation_);
    if (transposed) std::swap(minWidth, minHeight);
    // libjpeg scales by n/8 inside the inverse DCT; the first n that gives enough rows.
    for (unsigned n = kMinScaleEighths; n < 8; ++n) {
        decompressor_.scale_num = n;
        decompressor_.scale_denom = 8;
        if (!CalcOutputGuarded(&decompressor_, &errors_)) break;
        const int64_t w = decompressor_.output_width, h = decompressor_.output_height;
        if (w < minWidth || h < minHeight) continue;
        // Never larger than the declared picture, whose buffer the rows go into.
        if (w <= 0 || h <= 0 || w > decompressor_.image_width || h > decompressor_.image_height)
            break;
        width_ = static_cast<int32_t>(w);
        height_ = static_cast<int32_t>(h);
        if (!StartDecoding()) {
            // Nothing will come: the rows stay as they are, as for a file damaged at its start.
            DestroyDecompressor();
            return false;
        }
        *width = transposed ? height_ : width_;
        *height = transposed ? width_ : height_;
        return true;
    }
    decompressor_.scale_num = decompressor_.scale_denom = 1;
    width_ = static_cast<int32_t>(decompressor_.image_width);
    height_ = static_cast<int32_t>(decompressor_.image_height);
    return false;
}

int CJpegReader::DeliverStoredRows() {
    if (!OrientationTransposes(orientation_) || lineCounter != -1) return kOrientationAsStored;
    storedRows_ = true;
    allRowsAtOnce = false;
    return orientation_;
}

int CJpegReader::NextLine(uint8_t** row) {
    if (OrientationTransposes(orientation_) && !storedRows_) {
        // Every row came with the first call; the later ones only count.
        if (lineCounter + 1 >= width_) return lineCounter;
        ++lineCounter;
        if (lineCounter == 0 && row && *row) DecodeTransposed(*row);
        return lineCounter;
    }
    if (!decompressorAlive_ || lineCounter + 1 >= height_) return lineCounter;
    if (!started_ && !StartDecoding()) {
        DestroyDecompressor();
        return lineCounter;
    }
    ++lineCounter;
    if (buffered_ && !outputStarted_ && !StartOutput()) return lineCounter;
    // Rows the coarse pass need not make keep what they hold.
    if (coarseActive_ && (lineCounter < coarseFirst_ || lineCounter >= coarseEnd_))
        return lineCounter;
    if (ReadRow(*row) && OrientationMirrorsRows(orientation_))
        ReverseBytes(*row, static_cast<size_t>(width_) * 3);
    return lineCounter;
}

bool CJpegReader::StartOutput() {
    outputStarted_ = true;
    // Turned pictures are shown only once whole: a coarse pass would only cost time.
    coarseActive_ = coarsePass && !OrientationTransposes(orientation_);
    finalDct_ = decompressor_.dct_method;
    finalSmoothing_ = decompressor_.do_block_smoothing;
    coarseFirst_ = std::clamp(coarseFirstRow, 0, height_ - 1);
    coarseEnd_ = std::clamp(coarseEndRow, coarseFirst_ + 1, height_);
    bool started = coarseActive_ ? StartCoarseOutputGuarded(&decompressor_, &errors_)
                                 : StartOutputGuarded(&decompressor_, &errors_);
    if (started && coarseActive_)
        started = SkipRowsGuarded(&decompressor_, &errors_, static_cast<JDIMENSION>(coarseFirst_));
    if (!started) {
        Refuse(errors_.message[0] ? errors_.message : "damaged JPEG data");
        DestroyDecompressor();
    }
    return started;
}

bool CJpegReader::ReadRow(uint8_t* row) {
    if (buffered_ && !outputStarted_ && !StartOutput()) return false;
    bool ok;
    if (layout_ == Layout::kRgb) {
        ok = ReadScanlineGuarded(&decompressor_, &errors_, row);
    } else {
        ok = ReadScanlineGuarded(&decompressor_, &errors_, scanline_.get());
        if (ok && layout_ == Layout::kGrey) ExpandGrey(row);
        if (ok && layout_ == Layout::kCmyk) ConvertCmyk(row);
    }
    // After a fatal error the rows so far stay; later calls deliver nothing.
    if (!ok) {
        Refuse(std::string(errors_.message[0] ? errors_.message : "damaged JPEG data") +
               " at row " + std::to_string(decompressor_.output_scanline));
        DestroyDecompressor();
    } else if (errors_.endedEarly) {
        Refuse("truncated after row " + std::to_string(decompressor_.output_scanline - 1));
    }
    return ok;
}

// The final pass: the rest of the scans absorbed, then the output pass that a decode without a
// coarse pass makes, with the same parameters, so its rows are the same bytes.
bool CJpegReader::NextPass() {
    if (!coarseActive_ || !decompressorAlive_) return false;
    coarseActive_ = false;
    bool ok = FinishOutputGuarded(&decompressor_, &errors_);
    decompressor_.dct_method = finalDct_;
    decompressor_.do_block_smoothing = finalSmoothing_;
    ok = ok && StartOutputGuarded(&decompressor_, &errors_);
    if (!ok) {
        // The coarse picture stays, with the reason it is no more than that.
        Refuse(errors_.message[0] ? errors_.message : "damaged JPEG data");
        DestroyDecompressor();
        return false;
    }
    lineCounter = -1;
    return true;
}

// The stored rows are decoded a strip at a time and each strip is put in its upright place, so
// the memory beyond the picture's own buffer is one strip, whatever the picture's size.
void CJpegReader::DecodeTransposed(uint8_t* upright) {
    if (!decompressorAlive_) return;
    if (!started_ && !StartDecoding()) {
        DestroyDecompressor();
        return;
    }
    // One spare byte: grey expansion stores four bytes for the last pixel.
    const size_t rowBytes = static_cast<size_t>(width_) * 3;
    std::unique_ptr<uint8_t[]> strip(new (std::nothrow) uint8_t[rowBytes * kTransposeStrip + 1]);
    if (!strip) {
        Refuse("out of memory");
        DestroyDecompressor();
        return;
    }
    const size_t uprightStride = static_cast<size_t>(DibStride(height_, 24));
    for (int32_t first = 0; first < height_ && decompressorAlive_; first += kTransposeStrip) {
        int32_t count = 0;
        while (count < kTransposeStrip && first + count < height_ &&
               ReadRow(strip.get() + static_cast<size_t>(count) * rowBytes))
            ++count;
        PlaceTransposedRows(strip.get(), rowBytes, first, count, width_, height_, 3, orientation_,
                            upright, uprightStride);
        if (count < kTransposeStrip && first + count < height_) break;
    }
}

// One 32-bit store per pixel: g, g, g and a fourth byte that the next pixel overwrites. The last
// store reaches one byte past the row's pixels, into its padding or the image's spare byte.
void CJpegReader::ExpandGrey(uint8_t* row) const {
    const uint8_t* grey = scanline_.get();
    for (int32_t x = 0; x < width_; ++x) {
        const uint32_t word = grey[x] * 0x010101u;
        std::memcpy(row + 3 * static_cast<size_t>(x), &word, 4);
    }
}

// The samples are taken as inverted (255 means no ink), Adobe's convention: Photoshop and
// libjpeg write CMYK that way, and files without Adobe's marker turn out to carry it too (read
// the other way they come out nearly black).
void CJpegReader::ConvertCmyk(uint8_t* row) const {
    const uint8_t* cmyk = scanline_.get();
    for (int32_t x = 0; x < width_; ++x, cmyk += 4, row += 3) {
        row[0] = MulDiv255(cmyk[0], cmyk[3]);
        row[1] = MulDiv255(cmyk[1], cmyk[3]);
        row[2] = MulDiv255(cmyk[2], cmyk[3]);
    }
}

void CJpegReader::DestroyDecompressor() {
    if (decompressorAlive_) jpeg_destroy_decompress(&decompressor_);
    decompressorAlive_ = false;
}

void CJpegReader::CloseFile() {
    DestroyDecompressor();
    scanline_.reset();
    if (file_) std::fclose(file_);
    file_ = nullptr;
}
