#include "image/writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

#include "image/bmp_writer.h"
#include "image/image.h"
#include "image/jpeg_writer.h"
#include "image/png_writer.h"
#include "platform/file_io.h"

namespace {

std::atomic<unsigned> g_temporaryCounter{0};

// The path up to and including its last slash; empty for a bare name.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

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

void CImageWriter::Fail(const std::string& reason) {
    if (failure_.empty()) failure_ = reason;
}

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

FILE* CImageWriter::CreateOutput() {
    // Through symbolic links, so that a link stays a link and the file it names gets the picture.
    const std::optional<std::string> target = FileToReplace(path);
    if (!target) {
        Fail("cannot follow the symbolic links");
        return nullptr;
    }
    target_ = *target;
    struct stat existing;
    replacing_ = stat(target_.c_str(), &existing) == 0;
    // Only a regular file is replaced, and only one the user may write, as when it was written
    // in place; a rename would otherwise replace folders, devices and read-only files too.
    if (replacing_ && !S_ISREG(existing.st_mode)) {
        Fail("not a regular file");
        return nullptr;
    }
    if (replacing_ && access(target_.c_str(), W_OK) != 0) {
        Fail(std::strerror(errno));
        return nullptr;
    }
    // The picture goes to a file of its own next to the target and replaces it only when
    // whole: a write that fails (a full disk) leaves the older file as it was.
    const std::string folder = FolderOf(target_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = folder + ".lumora-" + std::to_string(getpid()) + "-" +
                                std::to_string(g_temporaryCounter.fetch_add(1)) + ".tmp";
        // Not inherited by programs the viewer starts (the wallpaper setter).
        const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            Fail(std::strerror(errno));
            return nullptr;
        }
        // Held until the file is closed: a cache sweep never takes a file still being written.
        flock(fd, LOCK_EX | LOCK_NB);
        if (replacing_) fchmod(fd, existing.st_mode & 07777);
        FILE* file = fdopen(fd, "wb");
        if (!file) {
            Fail(std::strerror(errno));
            close(fd);
            unlink(candidate.c_str());
            return nullptr;
        }
        temporary_ = std::move(candidate);
        return file;
    }
    Fail("no free temporary name");
    return nullptr;
}

void CImageWriter::FinishOutput(FILE* file, bool complete) {
    if (!file) {
        if (!temporary_.empty()) unlink(temporary_.c_str());
        temporary_.clear();
        succeeded_ = false;
        return;
    }
    // A write that failed has left its errno; nothing since has made a system call.
    const int writeError = errno;
    auto failWith = [this, &complete](int error) {
        complete = false;
        Fail(std::strerror(error));
    };
    if (!complete && std::ferror(file)) failWith(writeError);
    // Errors of buffered writes only show when the buffer goes to the disk. A file that
    // replaces another is on the disk before the rename, so that a crash leaves one of the two
    // whole; a new file need not wait.
    if (std::fflush(file) != 0) failWith(errno);
    if (complete && replacing_ && fsync(fileno(file)) != 0) failWith(errno);
    if (std::fclose(file) != 0) failWith(errno);
    if (complete && rename(temporary_.c_str(), target_.c_str()) != 0) failWith(errno);
    if (!complete) unlink(temporary_.c_str());
    temporary_.clear();
    succeeded_ = complete;
}

bool CImage::Save(const std::string& target, std::string* why) {
    auto fail = [why](const std::string& reason) {
        if (why) *why = reason;
        return false;
    };
    // The display is not the whole picture.
    if (outOfMemory) return fail("the picture is incomplete: out of memory");
    std::unique_ptr<CImageWriter> writer = CreateWriter(target, this);
    if (!writer) return fail("unsupported output type");
    writer->Write();
    if (!writer->succeeded()) return fail(writer->failure());
    struct stat info;
    // An older file the writer could not replace is not this picture.
    if (stat(target.c_str(), &info) != 0) return fail(std::strerror(errno));
    return true;
}
