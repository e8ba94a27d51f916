#include "image/jpeg_reader.h"

#include <jerror.h>  // after jpeglib.h, which the header includes
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "image/exif.h"
#include "platform/file_io.h"
#include "platform/start_trace.h"
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

// Scans read ahead of any output, until the end of the file or a yield (checked after every
// iMCU row); *atEnd tells which.
bool AbsorbGuarded(j_decompress_ptr d, JpegErrorManager* errors, const std::atomic<bool>* yield,
                   bool* atEnd) {
    if (setjmp(errors->jump)) return false;
    while (!yield->load(std::memory_order_relaxed)) {
        const int result = jpeg_consume_input(d);
        if (result == JPEG_REACHED_EOI) {
            *atEnd = true;
            return true;
        }
        if (result == JPEG_SUSPENDED) return false;
        if (d->input_scan_number > CJpegReader::kMaxScans) {
            std::snprintf(errors->message, sizeof errors->message, "more than %d progressive scans",
                          CJpegReader::kMaxScans);
            return false;
        }
    }
    return true;
}

bool SameFile(FILE* file, const std::string& path) {
    struct stat opened {}, now {};
    return file && fstat(fileno(file), &opened) == 0 && stat(path.c_str(), &now) == 0 &&
           opened.st_dev == now.st_dev && opened.st_ino == now.st_ino &&
           opened.st_size == now.st_size && opened.st_mtim.tv_sec == now.st_mtim.tv_sec &&
           opened.st_mtim.tv_nsec == now.st_mtim.tv_nsec;
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

CJpegReader::CJpegReader(std::string filePath)
    : CImageReader(std::move(filePath)), lib_(std::make_unique<Library>()) {}

void CJpegReader::OpenFile() {
    lineCounter = -1;
    // A reducible reader settles its scale first, which the early read has not waited for.
    if (!reducible && AdoptEarlyRead()) return;
    OpenHere();
}

void CJpegReader::OpenHere() {
    lineCounter = -1;
    buffered_ = outputStarted_ = coarseActive_ = storedRows_ = false;
    jpeg_std_error(&lib_->errors.pub);
    lib_->errors.pub.error_exit = ErrorExit;
    lib_->errors.pub.emit_message = EmitMessage;
    lib_->errors.pub.output_message = OutputMessage;
    lib_->errors.warnings = 0;
    lib_->errors.endedEarly = false;
    lib_->errors.message[0] = '\0';
    lib_->decompressor.err = &lib_->errors.pub;
    // Destroying a half-created decompressor is safe, so every failure has one way out.
    decompressorAlive_ = true;
    file_ = OpenRegularFileStream(path);
    if (!file_) RefuseOpen();
    if (!CreateGuarded(&lib_->decompressor, &lib_->errors)) RefuseWithLibraryMessage("out of memory");
    // A reducible reader starts the library only once the output size is settled (Reduce or
    // the first row): the scale cannot change after that.
    if (!failure.empty() || !ReadHeader() || (!reducible && !StartDecoding())) {
        // Nothing to deliver: the header stays 0 x 0 and nothing is held on to.
        header = EmptyBitmapInfo();
        CloseFile();
        return;
    }
    const int32_t width = static_cast<int32_t>(lib_->decompressor.image_width);
    const int32_t height = static_cast<int32_t>(lib_->decompressor.image_height);
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
    return Refuse(lib_->errors.message[0] ? lib_->errors.message : otherwise);
}

bool CJpegReader::ReadHeader() {
    if (!ReadHeaderGuarded(&lib_->decompressor, &lib_->errors, file_))
        return RefuseWithLibraryMessage("not a JPEG file");

    const int64_t width = lib_->decompressor.image_width;
    const int64_t height = lib_->decompressor.image_height;
    if (!AcceptSize(width, height, 24)) return false;
    struct stat st {};
    if (fstat(fileno(file_), &st) != 0) return Refuse(std::strerror(errno));
    if (width * height > static_cast<int64_t>(st.st_size) * kMaxPixelsPerByte)
        return Refuse("file far too short for the picture");

    switch (lib_->decompressor.jpeg_color_space) {
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
            lib_->decompressor.out_color_space = JCS_CMYK;
            break;
        default:
            // Two or five and more components: no picture this reader can show.
            return Refuse("unsupported JPEG colour space");
    }

    // The first Exif segment counts; a second one (rare, and then usually a copy) does not.
    orientation_ = kOrientationAsStored;
    for (jpeg_saved_marker_ptr m = lib_->decompressor.marker_list; m; m = m->next) {
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
    if (libraryGivesBgr_) lib_->decompressor.out_color_space = JCS_EXT_BGR;

    lib_->progress.progress_monitor = CheckScanCount;
    lib_->decompressor.progress = &lib_->progress;
    width_ = static_cast<int32_t>(width);
    height_ = static_cast<int32_t>(height);
    return true;
}

// Starts the library at the output size width_ x height_, which the header or Reduce set.
bool CJpegReader::StartDecoding() {
    started_ = true;
    buffered_ = lib_->decompressor.progressive_mode != FALSE;
    lib_->decompressor.buffered_image = buffered_ ? TRUE : FALSE;
    if (!StartGuarded(&lib_->decompressor, &lib_->errors))
        return RefuseWithLibraryMessage("damaged JPEG data");

    const int components = layout_ == Layout::kGrey ? 1 : layout_ == Layout::kRgb ? 3 : 4;
    if (lib_->decompressor.output_components != components ||
        static_cast<int64_t>(lib_->decompressor.output_width) != width_ ||
        static_cast<int64_t>(lib_->decompressor.output_height) != height_)
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
        lib_->decompressor.scale_num = n;
        lib_->decompressor.scale_denom = 8;
        if (!CalcOutputGuarded(&lib_->decompressor, &lib_->errors)) break;
        const int64_t w = lib_->decompressor.output_width, h = lib_->decompressor.output_height;
        if (w < minWidth || h < minHeight) continue;
        // Never larger than the declared picture, whose buffer the rows go into.
        if (w <= 0 || h <= 0 || w > lib_->decompressor.image_width || h > lib_->decompressor.image_height)
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
    lib_->decompressor.scale_num = lib_->decompressor.scale_denom = 1;
    width_ = static_cast<int32_t>(lib_->decompressor.image_width);
    height_ = static_cast<int32_t>(lib_->decompressor.image_height);
    return false;
}

int CJpegReader::DeliverStoredRows() {
    if (!OrientationTransposes(orientation_) || lineCounter != -1) return kOrientationAsStored;
    storedRows_ = true;
    allRowsAtOnce = false;
    return orientation_;
}

int CJpegReader::NextLine(uint8_t** row) {
    if (early_) TakeEarlyDecode();
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
    // Turned pictures are shown only once whole: a coarse pass would only cost time; so would
    // one of a file whose scans are all in already.
    coarseActive_ = coarsePass && !OrientationTransposes(orientation_) && !absorbedAll_;
    finalDct_ = lib_->decompressor.dct_method;
    finalSmoothing_ = lib_->decompressor.do_block_smoothing;
    coarseFirst_ = std::clamp(coarseFirstRow, 0, height_ - 1);
    coarseEnd_ = std::clamp(coarseEndRow, coarseFirst_ + 1, height_);
    bool started = coarseActive_ ? StartCoarseOutputGuarded(&lib_->decompressor, &lib_->errors)
                                 : StartOutputGuarded(&lib_->decompressor, &lib_->errors);
    if (started && coarseActive_)
        started = SkipRowsGuarded(&lib_->decompressor, &lib_->errors, static_cast<JDIMENSION>(coarseFirst_));
    if (!started) {
        Refuse(lib_->errors.message[0] ? lib_->errors.message : "damaged JPEG data");
        DestroyDecompressor();
    }
    return started;
}

bool CJpegReader::ReadRow(uint8_t* row) {
    if (buffered_ && !outputStarted_ && !StartOutput()) return false;
    bool ok;
    if (layout_ == Layout::kRgb) {
        ok = ReadScanlineGuarded(&lib_->decompressor, &lib_->errors, row);
    } else {
        ok = ReadScanlineGuarded(&lib_->decompressor, &lib_->errors, scanline_.get());
        if (ok && layout_ == Layout::kGrey) ExpandGrey(row);
        if (ok && layout_ == Layout::kCmyk) ConvertCmyk(row);
    }
    // After a fatal error the rows so far stay; later calls deliver nothing.
    if (!ok) {
        Refuse(std::string(lib_->errors.message[0] ? lib_->errors.message : "damaged JPEG data") +
               " at row " + std::to_string(lib_->decompressor.output_scanline));
        DestroyDecompressor();
    } else if (lib_->errors.endedEarly) {
        Refuse("truncated after row " + std::to_string(lib_->decompressor.output_scanline - 1));
    }
    return ok;
}

// The final pass: the rest of the scans absorbed, then the output pass that a decode without a
// coarse pass makes, with the same parameters, so its rows are the same bytes.
bool CJpegReader::NextPass() {
    if (!coarseActive_ || !decompressorAlive_) return false;
    coarseActive_ = false;
    bool ok = FinishOutputGuarded(&lib_->decompressor, &lib_->errors);
    lib_->decompressor.dct_method = finalDct_;
    lib_->decompressor.do_block_smoothing = finalSmoothing_;
    ok = ok && StartOutputGuarded(&lib_->decompressor, &lib_->errors);
    if (!ok) {
        // The coarse picture stays, with the reason it is no more than that.
        Refuse(lib_->errors.message[0] ? lib_->errors.message : "damaged JPEG data");
        DestroyDecompressor();
        return false;
    }
    lineCounter = -1;
    return true;
}

// The stored rows are decoded a strip at a time and each strip is put in its upright place, so
// the memory beyond the picture's own buffer is one strip, whatever the picture's size.
void CJpegReader::DecodeTransposed(uint8_t* upright) {
    if (early_) TakeEarlyDecode();
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
    if (decompressorAlive_) jpeg_destroy_decompress(&lib_->decompressor);
    decompressorAlive_ = false;
}

void CJpegReader::CloseFile() {
    // Closed before its first row: the early read's thread is stopped and its work dropped.
    early_.reset();
    DestroyDecompressor();
    scanline_.reset();
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

// --- the early read ---------------------------------------------------------------------------

struct EarlyJpegRead {
    explicit EarlyJpegRead(const std::string& file) : reader(file) {}
    ~EarlyJpegRead() {
        yield = true;
        if (thread.joinable()) thread.join();
    }
    void Run() {
        TraceStartStep("early-read");
        // Not OpenFile, which would find this very read to adopt.
        reader.OpenHere();
        {
            std::lock_guard<std::mutex> hold(lock);
            headerRead = true;
        }
        opened.notify_all();
        failed = !reader.AbsorbScans(yield);
    }

    CJpegReader reader;
    std::thread thread;
    std::mutex lock;
    std::condition_variable opened;
    bool headerRead = false;  // under lock: the reader's header and layout are set
    std::atomic<bool> yield{false};
    bool failed = false;  // the thread's own until it is joined
};

namespace {

std::mutex g_earlyLock;
std::shared_ptr<EarlyJpegRead> g_early;

}  // namespace

void StartEarlyJpegRead(const std::string& path) {
    if (!dynamic_cast<CJpegReader*>(CreateReader(path).get())) return;
    auto job = std::make_shared<EarlyJpegRead>(path);
    std::lock_guard<std::mutex> hold(g_earlyLock);
    if (g_early) return;
    job->thread = std::thread([raw = job.get()] { raw->Run(); });
    g_early = std::move(job);
}

void EndEarlyJpegRead() {
    std::shared_ptr<EarlyJpegRead> job;
    {
        std::lock_guard<std::mutex> hold(g_earlyLock);
        job = std::move(g_early);
    }
    // Its destructor stops the thread where it is.
}

bool CJpegReader::AbsorbScans(const std::atomic<bool>& yield) {
    if (!decompressorAlive_ || !buffered_) return true;
    bool atEnd = false;
    const bool ok = AbsorbGuarded(&lib_->decompressor, &lib_->errors, &yield, &atEnd);
    absorbedAll_ = ok && atEnd;
    return ok;
}

bool CJpegReader::AdoptEarlyRead() {
    std::shared_ptr<EarlyJpegRead> job;
    {
        std::lock_guard<std::mutex> hold(g_earlyLock);
        if (!g_early || g_early->reader.path != path) return false;
        job = std::move(g_early);
    }
    {
        std::unique_lock<std::mutex> hold(job->lock);
        job->opened.wait(hold, [&] { return job->headerRead; });
    }
    const CJpegReader& early = job->reader;
    // A file refused or replaced since is read afresh here.
    if (!early.decompressorAlive_ || !SameFile(early.file_, path)) return false;
    header = early.header;
    rgbOrder = early.rgbOrder;
    allRowsAtOnce = early.allRowsAtOnce;
    failure = early.failure;
    layout_ = early.layout_;
    width_ = early.width_;
    height_ = early.height_;
    libraryGivesBgr_ = early.libraryGivesBgr_;
    orientation_ = early.orientation_;
    early_ = std::move(job);
    TraceStartStep("early-read-adopted");
    return true;
}

void CJpegReader::TakeEarlyDecode() {
    const std::shared_ptr<EarlyJpegRead> job = std::move(early_);
    job->yield = true;
    job->thread.join();
    CJpegReader& early = job->reader;
    TraceStartStep("early-read-taken", early.lib_->decompressor.input_scan_number);
    if (job->failed) {
        // The library gave up part-way: read as if there had been no early read, so a coarse
        // picture still shows what the file holds before its damage.
        OpenHere();
        return;
    }
    std::swap(lib_, early.lib_);
    std::swap(file_, early.file_);
    std::swap(decompressorAlive_, early.decompressorAlive_);
    std::swap(scanline_, early.scanline_);
    started_ = early.started_;
    buffered_ = early.buffered_;
    absorbedAll_ = early.absorbedAll_;
}
