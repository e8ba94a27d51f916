#pragma once

#include <bit>
#include <cstdint>

// A channel of `bits` bits brought to 8 by repeating its bit pattern (31 -> 255, 16 -> 132), so
// that full scale stays full scale and the steps stay even.
inline uint8_t ScaleTo8(uint32_t value, int bits) {
    if (bits <= 0) return 0;
    if (bits >= 8) return static_cast<uint8_t>(value >> (bits - 8));
    uint32_t out = 0;
    int have = 0;
    while (have < 8) {
        out = (out << bits) | value;
        have += bits;
    }
    return static_cast<uint8_t>(out >> (have - 8));
}

// How the three channels of a 16-bit bitmap pixel sit in its word: 5-5-5 by default, or given
// by bit-field masks (their low 16 bits). Shared by every reader of 16-bit bitmaps, so a BMP
// file and an icon entry with the same pixels show the same colours.
class Rgb16Layout {
public:
    // Red in bits 10-14, green 5-9, blue 0-4.
    static Rgb16Layout Rgb555() { return Rgb16Layout(0x7C00, 0x03E0, 0x001F); }
    static Rgb16Layout FromMasks(uint32_t red, uint32_t green, uint32_t blue) {
        return Rgb16Layout(static_cast<uint16_t>(red), static_cast<uint16_t>(green),
                           static_cast<uint16_t>(blue));
    }

    // Writes blue, green, red.
    void ToBgr(uint16_t word, uint8_t* bgr) const {
        for (int c = 0; c < 3; ++c) {
            const uint32_t value = shifts_[c] >= 16 ? 0 : (word & masks_[c]) >> shifts_[c];
            bgr[2 - c] = ScaleTo8(value, widths_[c]);  // red, green, blue into bytes 2, 1, 0
        }
    }

private:
    Rgb16Layout(uint16_t red, uint16_t green, uint16_t blue) : masks_{red, green, blue} {
        for (int c = 0; c < 3; ++c) {
            // An empty mask gives a channel that is always 0.
            shifts_[c] = masks_[c] ? std::countr_zero(masks_[c]) : 16;
            widths_[c] =
                masks_[c] ? std::bit_width(static_cast<unsigned>(masks_[c] >> shifts_[c])) : 0;
        }
    }

    uint16_t masks_[3];
    int shifts_[3] = {16, 16, 16};
    int widths_[3] = {0, 0, 0};
};
