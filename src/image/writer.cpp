#include "image/writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <utility>

#include "image/bmp_writer.h"
#include "image/image.h"
#include "image/jpeg_writer.h"
#include "image/png_writer.h"

WriterKind WriterKindFor(const std::string& path) {
    if (path.size() <= 4) return WriterKind::kNone;
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".jpg") return WriterKind::kJpeg;
    if (ext == ".bmp") return WriterKind::kBmp;
    if (ext == ".png") return WriterKind::kPng;
    return WriterKind::kNone;
}

std::unique_ptr<CImageWriter> CreateWriter(const std::string& path, CImage* image) {
    switch (WriterKindFor(path)) {
        case WriterKind::kJpeg:
            return std::make_unique<CJpegWriter>(path, image);
        case WriterKind::kBmp:
            return std::make_unique<CBmpWriter>(path, image);
        case WriterKind::kPng:
            return std::make_unique<CPngWriter>(path, image);
        case WriterKind::kNone:
            break;
    }
    return nullptr;
}

CImageWriter::CImageWriter(std::string filePath, CImage* writtenImage)
    : image(writtenImage), path(std::move(filePath)) {}

bool CImageWriter::GetDisplayRows(DisplayRows& rows) const {
    rows = DisplayRows();
    if (!image || !image->displayBuffer) return false;
    const BITMAPINFOHEADER& h = image->displayHeader.bmiHeader;
    if (h.biBitCount != 24 && h.biBitCount != 32) return false;
    const int32_t width = image->GetWidth();
    const int32_t height = image->GetHeight();
    if (width <= 0 || height <= 0) return false;
    const int bytesPerPixel = h.biBitCount / 8;
    const uint64_t rowBytes = static_cast<uint64_t>(width) * bytesPerPixel;
    const int32_t stride = image->displayStride;
    if (stride < 0 || static_cast<uint64_t>(stride) < rowBytes) return false;
    // The last row's pixels must end inside the buffer; padding after them need not exist.
    const uint64_t needed =
        static_cast<uint64_t>(stride) * static_cast<uint64_t>(height - 1) + rowBytes;
    if (needed > image->displayBytes) return false;
    rows.buffer = image->displayBuffer;
    rows.width = width;
    rows.height = height;
    rows.stride = stride;
    rows.bytesPerPixel = bytesPerPixel;
    rows.bottomUp = h.biHeight > 0;
    return true;
}

FILE* CImageWriter::CreateOutput() const {
    // Not inherited by programs the viewer starts (the wallpaper setter).
    return std::fopen(path.c_str(), "wbe");
}

void CImageWriter::FinishOutput(FILE* file, bool complete) {
    if (!file) {
        succeeded_ = false;
        return;
    }
    // Errors of buffered writes only show when the buffer goes to the disk.
    if (std::fclose(file) != 0) complete = false;
    if (!complete) unlink(path.c_str());
    succeeded_ = complete;
}

bool CImage::Save(const std::string& target) {
    std::unique_ptr<CImageWriter> writer = CreateWriter(target, this);
    if (!writer) return false;
    writer->Write();
    struct stat info;
    // An older file the writer could not replace is not this picture.
    return writer->succeeded() && stat(target.c_str(), &info) == 0;
}
