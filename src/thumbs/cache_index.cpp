#include "thumbs/cache_index.h"

#include <sys/random.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <random>
#include <unordered_set>

namespace {

void AppendHex(std::string& out, uint32_t value) {
    char buffer[8];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
    out.append(buffer, result.ptr);
}

// A signed decimal number that fits 32 bits, nothing else.
bool ParseSize(std::string_view text, int32_t& size) {
    if (text.empty()) return false;
    const char* first = text.data();
    const char* last = first + text.size();
    // from_chars takes no "+", and a lone "-" fails.
    auto result = std::from_chars(first, last, size, 10);
    return result.ec == std::errc() && result.ptr == last;
}

}  // namespace

bool IsFolderKey(std::string_view key) {
    if (key.empty() || key.size() > 32) return false;
    for (char c : key)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::vector<CacheEntry> ParseCacheIndex(std::string_view text) {
    std::vector<CacheEntry> records;
    std::unordered_set<std::string_view> keys;
    // Only the first divider counts: the records above it are upright.
    bool dividerSeen = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line == kUprightDivider && !dividerSeen) {
            dividerSeen = true;
            for (CacheEntry& record : records) record.upright = true;
            continue;
        }
        size_t tab1 = line.find('\t');
        if (tab1 == std::string_view::npos) continue;
        size_t tab2 = line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos) continue;
        std::string_view key = line.substr(0, tab1);
        int32_t size = 0;
        if (!IsFolderKey(key) || !ParseSize(line.substr(tab1 + 1, tab2 - tab1 - 1), size)) continue;
        // Two records on one subfolder would let the eviction empty the current folder's.
        if (!keys.insert(key).second) continue;
        records.push_back({std::string(key), size, std::string(line.substr(tab2 + 1)), false});
    }
    return records;
}

std::string FormatCacheIndex(const std::vector<CacheEntry>& records) {
    std::string text;
    bool leadingUpright = true;  // still in the records before the divider
    for (const CacheEntry& record : records) {
        if (record.folder.find('\n') != std::string::npos) continue;
        if (leadingUpright && !record.upright) {
            leadingUpright = false;
            if (!text.empty()) text.append(kUprightDivider).append(1, '\n');
        }
        text += record.key;
        text += '\t';
        text += std::to_string(record.size);
        text += '\t';
        text += record.folder;
        text += '\n';
    }
    if (leadingUpright && !text.empty()) text.append(kUprightDivider).append(1, '\n');
    return text;
}

std::string FolderKeyFromGuid(const Guid& guid) {
    std::string key;
    key.reserve(32);
    AppendHex(key, guid.data1);
    AppendHex(key, guid.data2);
    AppendHex(key, guid.data3);
    for (uint8_t byte : guid.data4) AppendHex(key, byte);
    return key;
}

Guid RandomGuid() {
    uint8_t bits[16];
    size_t filled = 0;
    while (filled < sizeof bits) {
        ssize_t n = getrandom(bits + filled, sizeof bits - filled, 0);
        if (n > 0) {
            filled += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            // No kernel source of randomness: the key only has to be unlikely to repeat.
            std::random_device device;
            for (; filled < sizeof bits; ++filled) bits[filled] = static_cast<uint8_t>(device());
        }
    }
    Guid guid;
    std::memcpy(&guid.data1, bits, 4);
    std::memcpy(&guid.data2, bits + 4, 2);
    std::memcpy(&guid.data3, bits + 6, 2);
    std::memcpy(guid.data4, bits + 8, 8);
    return guid;
}

std::string DrawFolderKey(const std::string& root, const std::vector<CacheEntry>& records,
                          const std::function<Guid()>& draw) {
    std::string key;
    for (int attempt = 0; attempt < 64; ++attempt) {
        key = FolderKeyFromGuid(draw());
        bool used = std::any_of(records.begin(), records.end(),
                                [&](const CacheEntry& r) { return r.key == key; });
        if (used) continue;
        if (mkdir((root + "/" + key).c_str(), 0700) == 0 || errno != EEXIST) break;
    }
    return key;
}
