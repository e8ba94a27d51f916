#include "settings/field_check.h"

#include <limits>

namespace {

constexpr const char* kCacheFolderName = "LumoraCache";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::optional<int32_t> ParseNumberField(const std::string& text) {
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int32_t>::max()) return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

std::string ThumbnailMemoryEstimate(int32_t thumbnails) {
    // In 64 bits: from 43691 thumbnails on, 32 bits would wrap to a negative estimate.
    const int64_t megabytes = (static_cast<int64_t>(thumbnails) * 49152) >> 20;
    return "Approx. " + std::to_string(megabytes) + " MB.";
}

std::string CacheFolderFromField(const std::string& field, const std::string& stored) {
    if (field.empty() || field == stored || EndsWith(field, kCacheFolderName)) return field;
    return field + (field.back() == '/' ? "" : "/") + kCacheFolderName;
}
