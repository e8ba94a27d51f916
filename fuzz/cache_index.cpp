// The cache index is read from disk at every start; a damaged or hostile file must parse without
// harm, and whatever is kept must survive being written and read again unchanged.
#include <cstdlib>
#include <string_view>

#include "thumbs/cache_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<CacheEntry> records = ParseCacheIndex(text);
    for (const CacheEntry& record : records)
        if (!IsFolderKey(record.key) || record.key.find('/') != std::string::npos) std::abort();
    const std::string written = FormatCacheIndex(records);
    if (ParseCacheIndex(written) != records) std::abort();
    if (FormatCacheIndex(ParseCacheIndex(written)) != written) std::abort();
    return 0;
}
