#pragma once

#include <csetjmp>
#include <cstdio>  // before jpeglib.h, which uses FILE without including it

#include <jpeglib.h>

#include <atomic>
#include <memory>
#include <string>

#include "image/reader.h"

// libjpeg's standard error manager, with the way back into the reader when the library gives up.
struct JpegErrorManager {
    jpeg_error_mgr pub;  // first, so the library's pointer to it is a pointer to the whole
    jmp_buf jump;
    int warnings = 0;
    bool endedEarly = false;          // the data ran out; the library fills the rest
    char message[JMSG_LENGTH_MAX]{};  // the fatal error, as the library words it
};

// JPEG files through libjpeg, one scanline per call at the file's full size. Colour scanlines
// are decoded straight into the caller's row in R, G, B order; grey rows are expanded to three
// equal bytes; CMYK and YCCK files are converted to R, G, B.
//
// Opened reducible, the reader can deliver the picture scaled by n/8 in the library's inverse DCT,
// for loads that only show it small (thumbnails): fewer rows to hold and to average down.
//
// The Exif orientation is applied (unless the "ApplyOrientation" setting is 0): the header
// declares the upright picture. Mirrored and flipped pictures still come row by row, flipped
// through the row order; transposed ones come all at once with the first row, or as stored
// when the loader turns its reduced result itself (DeliverStoredRows).
//
// A progressive file's scans are absorbed with the first row, on the loader's thread, not
// while the file is opened. Asked for a coarse pass, the reader first delivers the picture its
// DC scans make, then (NextPass) the rows again from the complete file.
//
// Damage is treated as kMaxDecoderWarnings describes.
struct EarlyJpegRead;

class CJpegReader : public CImageReader {
public:
    explicit CJpegReader(std::string path);
    ~CJpegReader() override { Close(); }

    void OpenFile() override;
    int NextLine(uint8_t** row) override;
    void CloseFile() override;
    bool Reduce(int32_t minWidth, int32_t minHeight, int32_t* width, int32_t* height) override;
    bool NextPass() override;
    int DeliverStoredRows() override;

    // A file holding fewer bytes than this many pixels each is refused: even a blank picture
    // needs about a bit per 8 x 8 block, so the decoder would be inventing nearly all of it.
    static constexpr int64_t kMaxPixelsPerByte = 1024;
    // Progressive files with more scans are refused; each scan walks the whole picture again.
    static constexpr int kMaxScans = 500;
    // The smallest scale Reduce uses, in eighths. The library's scaled inverse DCT averages the
    // gamma-encoded samples, so below this fine texture comes out visibly darker than the
    // linear-light box path makes it from the full picture (on the corpus photos by up to 5
    // levels on average at 1/8 and 1.5 at 1/2; at 5/8 by at most 0.3).
    static constexpr unsigned kMinScaleEighths = 5;
    // Stored rows decoded at a time when the picture must be transposed to stand upright (288 KB
    // at 6000 pixels wide); 32 measured a few per cent slower on the whole load.
    static constexpr int32_t kTransposeStrip = 16;

private:
    enum class Layout { kRgb, kGrey, kCmyk };

    // Reads and checks the header and chooses the layout; the output size is the file's.
    bool ReadHeader();
    bool StartDecoding();
    // A progressive file's first output pass: the coarse one when asked for, else the final.
    bool StartOutput();
    // One row at the output size into `row`; false, with the reason, when decoding failed.
    bool ReadRow(uint8_t* row);
    // For a transposing orientation: the whole upright picture into rows from `upright` on.
    void DecodeTransposed(uint8_t* upright);
    // Records the library's fatal error, or `otherwise` when it gave none.
    bool RefuseWithLibraryMessage(const char* otherwise);
    void DestroyDecompressor();
    // OpenFile's own reading of the file, on the calling thread.
    void OpenHere();
    // Takes over the early read of this file, unchanged since, at its header (on the opening
    // thread); its decode follows with the first row (TakeEarlyDecode, on the loader's thread).
    bool AdoptEarlyRead();
    void TakeEarlyDecode();
    // The early read's thread: a progressive file's scans until the end or a yield; false when
    // the library gave up.
    friend struct EarlyJpegRead;
    bool AbsorbScans(const std::atomic<bool>& yield);
    void ExpandGrey(uint8_t* row) const;
    void ConvertCmyk(uint8_t* row) const;

    // What the library points into, on the heap so that it stays put when another reader
    // takes the decode over.
    struct Library {
        jpeg_decompress_struct decompressor;
        JpegErrorManager errors;
        jpeg_progress_mgr progress;
    };

    FILE* file_ = nullptr;
    std::unique_ptr<Library> lib_;
    bool decompressorAlive_ = false;
    bool started_ = false;  // jpeg_start_decompress was called
    bool buffered_ = false;  // progressive: the scans are absorbed with the first row
    bool outputStarted_ = false;
    bool coarseActive_ = false;  // the rows being delivered are the coarse pass's
    int32_t coarseFirst_ = 0;    // the rows it makes: coarseFirstRow and coarseEndRow clamped
    int32_t coarseEnd_ = 0;
    J_DCT_METHOD finalDct_ = JDCT_ISLOW;  // the final pass's settings, as the caller left them
    boolean finalSmoothing_ = TRUE;
    Layout layout_ = Layout::kRgb;
    std::unique_ptr<uint8_t[]> scanline_;  // grey or CMYK samples before expansion
    int32_t width_ = 0;  // of the rows decoded: the file's size, or reduced
    int32_t height_ = 0;
    bool libraryGivesBgr_ = false;  // rows come B, G, R, so the loader need not swap them
    int orientation_ = 1;  // Exif numbering; 1 also when the setting turns it off
    bool storedRows_ = false;  // transposed, yet its rows go out as stored: the caller turns
    std::shared_ptr<EarlyJpegRead> early_;  // adopted, its decode not yet taken over
    bool absorbedAll_ = false;  // every scan is in before the first output pass
};

// The start file, read while the desktop starts: its header, and a progressive file's scans
// (most of its decode, and independent of the size it is shown at), on a thread of its own. The
// first reader then opened, not reducible, on the same file unchanged takes over what that
// thread has done instead of reading the file again; its first row asks the thread to stop
// where it is. Files of other formats are left alone.
void StartEarlyJpegRead(const std::string& path);
// Ends an early read that no reader took over, waiting for its thread; nothing otherwise.
void EndEarlyJpegRead();
