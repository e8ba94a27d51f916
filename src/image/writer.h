#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class CImage;

// The file formats an image can be written as, chosen by the path's last four characters
// (".jpg", ".bmp", ".png", compared without regard to case). ".jpeg", ".tif" and the rest are
// none, as is a path of four characters or fewer.
enum class WriterKind { kNone, kJpeg, kBmp, kPng };
WriterKind WriterKindFor(const std::string& path);

// The display image as a writer may read it: every row it names lies inside the display buffer.
struct DisplayRows {
    const uint8_t* buffer = nullptr;
    int32_t width = 0;
    int32_t height = 0;  // absolute
    int32_t stride = 0;
    int bytesPerPixel = 0;  // 3 or 4
    bool bottomUp = false;  // memory row 0 is the bottom row of the picture

    // Row y counted from the top of the picture.
    const uint8_t* TopDown(int32_t y) const {
        const int32_t memoryRow = bottomUp ? height - 1 - y : y;
        return buffer + static_cast<size_t>(memoryRow) * static_cast<size_t>(stride);
    }
    size_t RowBytes() const { return static_cast<size_t>(width) * bytesPerPixel; }
};

// Writes the display image of one image to one file. A writer that cannot finish leaves the
// path as it was (no file, or the older file): whoever reads it later never finds half a
// picture.
class CImageWriter {
public:
    CImageWriter(std::string path, CImage* image);
    virtual ~CImageWriter() = default;
    CImageWriter(const CImageWriter&) = delete;
    CImageWriter& operator=(const CImageWriter&) = delete;

    virtual void Write() = 0;

    // Whether the last Write put a whole file at the path.
    bool succeeded() const { return succeeded_; }
    // Why it did not, in a few words ("No space left on device"); may be empty.
    const std::string& failure() const { return failure_; }

protected:
    // The display image, or false when it has no pixels or its header describes more rows than
    // the buffer holds. Nothing is written then.
    bool GetDisplayRows(DisplayRows& rows) const;
    // Creates a new file next to the one the path names (through symbolic links) that
    // FinishOutput puts in its place; nullptr when it cannot be created or the file there may
    // not be replaced.
    FILE* CreateOutput();
    // Closes the file; a completely written one replaces the file at the path, any other is
    // removed. Sets succeeded().
    void FinishOutput(FILE* file, bool complete);
    // Records the reason of a failure unless one is recorded already.
    void Fail(const std::string& reason);

    CImage* image;
    std::string path;

private:
    bool succeeded_ = false;
    std::string failure_;
    std::string target_;      // the path with symbolic links followed
    std::string temporary_;   // the file being written, until it replaces the target
    bool replacing_ = false;  // a file stood at the target
};

// The writer for the path's extension, or none.
std::unique_ptr<CImageWriter> CreateWriter(const std::string& path, CImage* image);
