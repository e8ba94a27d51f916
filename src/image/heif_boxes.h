#pragma once

#include <cstdint>
#include <vector>

// The canvas sizes HEIF derived pictures (tiled "grid" and "iovl" overlay items) declare in their
// own item data. The decoding library makes a canvas of that size for them before it decodes a
// tile, and takes the size from there rather than from the sizes it reports for the picture, so
// a reader checks these before it lets the library decode. Any item counts, the primary's alpha
// and other auxiliary pictures included.
struct HeifCanvas {
    uint32_t width = 0;
    uint32_t height = 0;
};

// Reads the file's meta box and each derived item's first bytes with ReadAt. Items whose data
// cannot be found or read are left out (the library fails on them itself); false only when the
// boxes that locate them are damaged beyond reading.
bool ReadHeifCanvases(int fd, uint64_t fileSize, std::vector<HeifCanvas>* canvases);
