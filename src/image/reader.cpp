#include "image/reader.h"

#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

#include "image/bmp_reader.h"
#include "image/gif_reader.h"
#include "image/heif_reader.h"
#include "image/ico_reader.h"
#include "image/jp2_reader.h"
#include "image/jpeg_reader.h"
#include "image/jxl_reader.h"
#include "image/png_reader.h"
#include "image/tiff_reader.h"
#include "image/webp_reader.h"

CImageReader::CImageReader(std::string filePath) : header(EmptyBitmapInfo()), path(std::move(filePath)) {}

void CImageReader::Close() {
    if (closed) return;
    CloseFile();
    closed = true;
}

void CImageReader::DeclareHeader(int32_t width, int32_t height, int bitCount) {
    header = EmptyBitmapInfo();
    header.bmiHeader.biWidth = width;
    header.bmiHeader.biHeight = height;
    header.bmiHeader.biBitCount = static_cast<uint16_t>(bitCount);
    header.bmiHeader.biCompression = BI_RGB;
}

bool CImageReader::Refuse(const std::string& reason) {
    if (failure.empty()) failure = reason;
    return false;
}

bool CImageReader::RefuseOpen() {
    const int openError = errno;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return Refuse(std::strerror(errno));
    // The open helpers refuse anything but a regular file without an errno of their own.
    if (!S_ISREG(st.st_mode)) return Refuse("not a regular file");
    return Refuse(std::strerror(openError));
}

bool CImageReader::AcceptSize(int64_t width, int64_t height, int bitCount) {
    if (IsAcceptableImageSize(width, height, bitCount)) return true;
    const std::string size = " (" + std::to_string(width) + " x " + std::to_string(height) + ")";
    if (width <= 0 || height <= 0) return Refuse("no pixels" + size);
    return Refuse("more than 2^28 pixels" + size);
}

namespace {
std::atomic<ReaderMaker> g_fakeReaderMaker{nullptr};
}

void SetFakeReaderMaker(ReaderMaker maker) { g_fakeReaderMaker = maker; }

std::unique_ptr<CImageReader> CreateReader(const std::string& path) {
    std::string lower = path;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ReaderMaker maker = g_fakeReaderMaker.load(); maker && lower.ends_with(".fake"))
        return maker(path);
    if (lower.size() < 5) return nullptr;
    if (lower.ends_with(".webp")) return std::make_unique<CWebpReader>(path);
    const std::string ext = lower.substr(lower.size() - 4);
    if (ext == ".jpg") return std::make_unique<CJpegReader>(path);
    if (ext == ".png") return std::make_unique<CPngReader>(path);
    if (ext == ".tif") return std::make_unique<CTiffReader>(path);
    if (ext == ".bmp") return std::make_unique<CBmpReader>(path);
    if (ext == ".jp2") return std::make_unique<CJp2Reader>(path);
    if (ext == ".jxl") return std::make_unique<CJxlReader>(path);
    if (ext == ".gif") return std::make_unique<CGifReader>(path);
    if (ext == ".ico" || ext == ".cur") return std::make_unique<CIcoReader>(path);
    if (lower.ends_with(".heic") || lower.ends_with(".heif") || lower.ends_with(".avif"))
        return std::make_unique<CHeifReader>(path);
    return nullptr;
}
