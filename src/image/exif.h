#pragma once

#include <cstddef>
#include <cstdint>

// Exif orientation, numbered as Exif numbers it: 1 the rows as stored, 2 mirrored, 3 turned
// 180 degrees, 4 flipped top to bottom, 5 transposed, 6 turned 90 degrees clockwise to show,
// 7 transversed, 8 turned 90 degrees anticlockwise to show.
inline constexpr int kOrientationAsStored = 1;

// The orientation in a TIFF-structured Exif block (byte order mark first: a PNG eXIf chunk, or
// a JPEG APP1 payload after its "Exif\0\0"). Only IFD0 is read, so links between IFDs cannot
// loop. Anything doubtful gives 1: a block too short for what it points at, a bad byte order
// mark, a value outside 1 to 8, a tag of the wrong type or count, more than one orientation tag.
int ExifOrientation(const uint8_t* block, size_t size);

// The same for a JPEG APP1 payload; 1 unless it starts with "Exif\0\0".
int JpegApp1Orientation(const uint8_t* payload, size_t size);

// 5 to 8: the picture shown is the stored one with rows and columns swapped.
constexpr bool OrientationTransposes(int orientation) {
    return orientation >= 5 && orientation <= 8;
}
// 2 and 3: each row is shown right to left.
constexpr bool OrientationMirrorsRows(int orientation) {
    return orientation == 2 || orientation == 3;
}
// 3 and 4: the rows are shown bottom to top.
constexpr bool OrientationReversesRows(int orientation) {
    return orientation == 3 || orientation == 4;
}

// Reverses the order of `width` pixels of `bytesPerPixel` bytes (3 or 4) in place.
void ReversePixels(uint8_t* row, int64_t width, int bytesPerPixel);

// Reverses `count` bytes in place. A row of R, G, B pixels comes out mirrored with its pixels
// B, G, R: the mirroring and the colour swap a 24-bit picture needs anyway, in one pass.
void ReverseBytes(uint8_t* bytes, size_t count);

// For a transposing orientation: puts `count` stored rows, starting at stored row `firstRow` of
// a picture `width` x `height` pixels as stored, where they belong in the upright picture
// (`height` x `width`, pixels of 3 or 4 bytes) at `upright`, whose rows are `uprightStride` bytes
// apart, top row first.
void PlaceTransposedRows(const uint8_t* rows, size_t rowStride, int64_t firstRow, int64_t count,
                         int64_t width, int64_t height, int bytesPerPixel, int orientation,
                         uint8_t* upright, size_t uprightStride);
