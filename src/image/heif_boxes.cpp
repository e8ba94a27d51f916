#include "image/heif_boxes.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "platform/file_io.h"

namespace {

// A meta box beyond this is not a picture's: item lists and properties take kilobytes.
constexpr uint64_t kMaxMeta = 16u << 20;
// The most any derived item's header needs: an overlay's version, flags, fill colour and two
// 32-bit sides.
constexpr size_t kDerivedHeader = 18;

// Big-endian fields from a span of bytes; any read past its end fails the whole reading.
struct Cursor {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    bool ok = true;

    uint64_t Read(unsigned bytes) {
        if (bytes > size - pos) {
            ok = false;
            pos = size;
            return 0;
        }
        uint64_t value = 0;
        for (unsigned i = 0; i < bytes; ++i) value = (value << 8) | data[pos++];
        return value;
    }
};

// Calls `box` with each child box's type, body and the body's place in the span; false when a
// child claims more bytes than the span holds.
template <typename Box>
bool ForEachBox(const uint8_t* data, size_t size, Box box) {
    size_t pos = 0;
    while (size - pos >= 8) {
        Cursor c{data + pos, size - pos};
        uint64_t length = c.Read(4);
        const std::string type(reinterpret_cast<const char*>(data + pos + 4), 4);
        c.Read(4);
        if (length == 1) length = c.Read(8);
        if (length == 0) length = size - pos;
        if (!c.ok || length < c.pos || length > size - pos) return false;
        box(type, data + pos + c.pos, static_cast<size_t>(length) - c.pos, pos + c.pos);
        pos += static_cast<size_t>(length);
    }
    return true;
}

struct Extent {
    uint64_t offset;
    uint64_t length;  // 0: to the end of where it lies
};

struct Location {
    uint32_t item;
    int method;  // 0: the file's bytes, 1: the meta box's idat
    uint64_t base;
    std::vector<Extent> extents;
};

bool ReadLocations(const uint8_t* body, size_t size, std::vector<Location>* out) {
    Cursor c{body, size};
    const unsigned version = static_cast<unsigned>(c.Read(1));
    c.Read(3);
    const uint64_t sizes = c.Read(2);
    const unsigned offsetSize = (sizes >> 12) & 15, lengthSize = (sizes >> 8) & 15;
    const unsigned baseSize = (sizes >> 4) & 15, indexSize = version >= 1 ? sizes & 15 : 0;
    if (!c.ok || version > 2) return false;
    const uint64_t count = c.Read(version < 2 ? 2 : 4);
    for (uint64_t i = 0; i < count && c.ok; ++i) {
        Location location;
        location.item = static_cast<uint32_t>(c.Read(version < 2 ? 2 : 4));
        location.method = version >= 1 ? static_cast<int>(c.Read(2) & 15) : 0;
        c.Read(2);  // data reference
        location.base = c.Read(baseSize);
        const uint64_t extents = c.Read(2);
        for (uint64_t e = 0; e < extents && c.ok; ++e) {
            c.Read(indexSize);
            const uint64_t offset = c.Read(offsetSize);
            location.extents.push_back({offset, c.Read(lengthSize)});
        }
        if (c.ok) out->push_back(std::move(location));
    }
    return c.ok;
}

// The first `want` bytes of an item, gathered over its extents; fewer when it has fewer.
std::string ItemBytes(int fd, uint64_t fileSize, const Location& location, uint64_t idatOffset,
                      uint64_t idatSize, size_t want) {
    std::string bytes;
    for (const Extent& extent : location.extents) {
        if (bytes.size() >= want) break;
        uint64_t start = location.base + extent.offset;
        if (start < location.base) break;
        uint64_t end = fileSize;
        if (location.method == 1) {
            if (start > idatSize) break;
            end = idatOffset + idatSize;
            start += idatOffset;
        }
        if (start >= end) break;
        uint64_t length = extent.length == 0 ? end - start : std::min(extent.length, end - start);
        length = std::min<uint64_t>(length, want - bytes.size());
        const size_t had = bytes.size();
        bytes.resize(had + static_cast<size_t>(length));
        const size_t got = ReadAt(fd, start, bytes.data() + had, static_cast<size_t>(length));
        bytes.resize(had + got);
        if (got < length) break;
    }
    return bytes;
}

// The canvas a grid or overlay header declares; false when the header is cut short.
bool ReadCanvas(const std::string& type, const std::string& bytes, HeifCanvas* canvas) {
    Cursor c{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
    c.Read(1);  // version
    const bool wide = (c.Read(1) & 1) != 0;
    c.Read(type == "grid" ? 2 : 8);  // rows and columns, or the fill colour
    canvas->width = static_cast<uint32_t>(c.Read(wide ? 4 : 2));
    canvas->height = static_cast<uint32_t>(c.Read(wide ? 4 : 2));
    return c.ok;
}

}  // namespace

bool ReadHeifCanvases(int fd, uint64_t fileSize, std::vector<HeifCanvas>* canvases) {
    try {
        // The top-level boxes, by their headers, up to the meta box.
        uint64_t at = 0, metaAt = 0, metaSize = 0;
        while (fileSize - at >= 8) {
            uint8_t header[16];
            const size_t got = ReadAt(fd, at, header, sizeof header);
            Cursor c{header, got};
            uint64_t length = c.Read(4);
            c.Read(4);
            if (length == 1) length = c.Read(8);
            if (length == 0) length = fileSize - at;
            if (!c.ok || length < c.pos || length > fileSize - at) return false;
            if (std::memcmp(header + 4, "meta", 4) == 0) {
                metaAt = at + c.pos;
                metaSize = length - c.pos;
                break;
            }
            at += length;
        }
        if (metaSize == 0) return true;
        if (metaSize > kMaxMeta) return false;
        std::vector<uint8_t> meta(static_cast<size_t>(metaSize));
        if (ReadAt(fd, metaAt, meta.data(), meta.size()) != meta.size() || meta.size() < 4)
            return false;

        std::vector<std::pair<uint32_t, std::string>> derived;
        std::vector<Location> locations;
        uint64_t idatOffset = 0, idatSize = 0;
        bool ok = true;
        const bool read = ForEachBox(meta.data() + 4, meta.size() - 4, [&](const std::string& type,
                                                                 const uint8_t* body, size_t size,
                                                                 size_t offset) {
            if (type == "iloc") {
                ok = ReadLocations(body, size, &locations) && ok;
            } else if (type == "idat") {
                idatOffset = metaAt + 4 + offset;
                idatSize = size;
            } else if (type == "iinf" && size >= 4) {
                const size_t skip = 4 + (body[0] == 0 ? 2 : 4);
                if (size < skip) return;
                ok = ForEachBox(body + skip, size - skip, [&](const std::string& entry,
                                                              const uint8_t* e, size_t n, size_t) {
                    Cursor c{e, n};
                    const uint64_t version = c.Read(1);
                    c.Read(3);
                    if (entry != "infe" || version < 2) return;
                    const uint32_t item = static_cast<uint32_t>(c.Read(version == 2 ? 2 : 4));
                    c.Read(2);  // protection
                    if (!c.ok || n - c.pos < 4) return;
                    const std::string itemType(reinterpret_cast<const char*>(e + c.pos), 4);
                    if (itemType == "grid" || itemType == "iovl") derived.emplace_back(item, itemType);
                }) && ok;
            }
        });
        if (!read || !ok) return false;
        for (const auto& [item, type] : derived) {
            for (const Location& location : locations) {
                if (location.item != item || location.method > 1) continue;
                HeifCanvas canvas;
                if (ReadCanvas(type, ItemBytes(fd, fileSize, location, idatOffset, idatSize,
                                               kDerivedHeader),
                               &canvas))
                    canvases->push_back(canvas);
            }
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
