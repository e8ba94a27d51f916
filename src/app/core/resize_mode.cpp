#include "app/core/resize_mode.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "image/image.h"
#include "image/reader.h"
#include "image/resample.h"
#include "image/writer.h"

namespace {

constexpr int kExitWritten = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadArguments = 2;

// A side of the box: decimal digits only, at most the largest 32-bit value.
bool ParseSize(const std::string& word, const char* name, int32_t& value, std::string& error) {
    const bool negative = !word.empty() && word[0] == '-';
    const size_t first = negative ? 1 : 0;
    bool digits = word.size() > first;
    for (size_t i = first; i < word.size(); ++i)
        if (word[i] < '0' || word[i] > '9') digits = false;
    if (!digits) {
        error = std::string(name) + " must be a whole number";
        return false;
    }
    if (negative) {
        error = std::string(name) + " must not be negative";
        return false;
    }
    int64_t v = 0;
    for (size_t i = 0; i < word.size(); ++i) {
        v = v * 10 + (word[i] - '0');
        if (v > std::numeric_limits<int32_t>::max()) {
            error = std::string(name) + " is too large";
            return false;
        }
    }
    value = static_cast<int32_t>(v);
    return true;
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

// ": reason", or nothing when there is none to give.
std::string Because(const std::string& reason) {
    return reason.empty() ? std::string() : ": " + reason;
}

}  // namespace

bool IsResizeCommand(const std::vector<std::string>& words) {
    return words.size() == 5 && words[0] == "-resize";
}

bool ParseResizeRequest(const std::vector<std::string>& words, ResizeRequest& request,
                        std::string& error) {
    if (!IsResizeCommand(words)) {
        error = "usage: lumora -resize INPUT WIDTH HEIGHT OUTPUT";
        return false;
    }
    request.input = words[1];
    request.output = words[4];
    if (!ParseSize(words[2], "width", request.width, error)) return false;
    if (!ParseSize(words[3], "height", request.height, error)) return false;
    if (request.width == 0 && request.height == 0) {
        // Nothing would be left to fit the other side to.
        error = "width and height cannot both be 0";
        return false;
    }
    return true;
}

void LoadFitted(CImage& image, const std::string& path, int32_t maxWidth, int32_t maxHeight) {
    // Only the fitted picture is wanted, so a reduced load need not hold the whole source.
    image.streamSource = true;
    image.LoadNow(path, maxWidth, maxHeight);
    image.DiscardSource();
}

bool RunResize(const ResizeRequest& request, std::string& error) {
    // Checked first: a file that could never be written is not worth decoding.
    if (WriterKindFor(request.output) == WriterKind::kNone) {
        error = "cannot write " + Quoted(request.output) + ": unsupported output type";
        return false;
    }
    if (!CreateReader(request.input)) {
        error = "cannot read " + Quoted(request.input) + ": unsupported input type";
        return false;
    }
    struct stat info;
    if (stat(request.input.c_str(), &info) != 0) {
        error = "cannot read " + Quoted(request.input) + ": " + std::strerror(errno);
        return false;
    }
    // A FIFO or device could keep the decoder waiting for ever.
    if (!S_ISREG(info.st_mode)) {
        error = "cannot read " + Quoted(request.input) + ": not a regular file";
        return false;
    }

    BuildGammaTables();
    CImage image;
    LoadFitted(image, request.input, request.width, request.height);
    if (image.GetSourceWidth() <= 0 || image.GetSourceHeight() <= 0) {
        error = "cannot read " + Quoted(request.input) + Because(image.failure);
        return false;
    }
    if (image.outOfMemory) {
        error = "cannot read " + Quoted(request.input) + ": out of memory";
        return false;
    }
    if (image.GetWidth() <= 0 || image.GetHeight() <= 0) {
        error = "cannot write " + Quoted(request.output) + ": " + Quoted(request.input) + " (" +
                std::to_string(image.GetSourceWidth()) + " x " +
                std::to_string(image.GetSourceHeight()) + ") fitted to " +
                std::to_string(request.width) + " x " + std::to_string(request.height) +
                " has no pixels";
        return false;
    }
    std::string why;
    if (!image.Save(request.output, &why)) {
        error = "cannot write " + Quoted(request.output) + Because(why);
        return false;
    }
    return true;
}

int RunResizeMode(const std::vector<std::string>& words, std::FILE* errors) {
    ResizeRequest request;
    std::string error;
    if (!ParseResizeRequest(words, request, error)) {
        std::fprintf(errors, "lumora: %s\n", error.c_str());
        return kExitBadArguments;
    }
    if (!RunResize(request, error)) {
        std::fprintf(errors, "lumora: %s\n", error.c_str());
        return kExitFailed;
    }
    return kExitWritten;
}
