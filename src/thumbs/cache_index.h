#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One line of the cache index: a subfolder of the cache root and the image folder it serves.
struct CacheEntry {
    std::string key;     // the subfolder's name
    int32_t size = 0;    // bytes of thumbnails the subfolder holds, as counted by the cache
    std::string folder;  // the image folder, without trailing "/"
    // Its thumbnails were made with photos turned upright by their orientation. Those of older
    // records may lie on their side, so the cache makes them again.
    bool upright = true;

    bool operator==(const CacheEntry&) const = default;
};

// The index text: one record per line, "key TAB size TAB folder LF", most recently used first.
// Lines that are not such a record (fewer than three fields, a size that is not a 32-bit
// decimal number, a key that is not 1 to 32 lower-case hexadecimal digits, or a key already
// listed above) are skipped, so they vanish when the index is next written. The key check keeps
// a damaged index from naming anything outside the cache root.
//
// The line kUprightDivider follows the records whose thumbnails are upright, when there are
// any; the records after it, and all those of an index without it (written before thumbnails
// were turned, or rewritten by such a copy, which skips the line), are of the older kind.
std::vector<CacheEntry> ParseCacheIndex(std::string_view text);
// Records whose folder holds a line break cannot be written in this format and are left out.
// Upright records after one of the older kind are written as older ones (their thumbnails are
// made again), since the divider can only follow the first.
std::string FormatCacheIndex(const std::vector<CacheEntry>& records);
inline constexpr std::string_view kUprightDivider = "-- thumbnails above are upright";

bool IsFolderKey(std::string_view key);

// A GUID's fields, the layout folder keys are made from.
struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};
};

// The fields in lower-case hexadecimal without leading zeros or separators: data1, data2, data3,
// then each byte of data4. 11 to 32 characters.
std::string FolderKeyFromGuid(const Guid& guid);
// 128 random bits from the operating system.
Guid RandomGuid();

// Draws keys until one names no record and no existing entry under root, and makes its
// subfolder. When the folder cannot be made for another reason, the key is returned all the same
// (thumbnails written there later fail, and the subfolder is tried again then).
std::string DrawFolderKey(const std::string& root, const std::vector<CacheEntry>& records,
                          const std::function<Guid()>& draw);
