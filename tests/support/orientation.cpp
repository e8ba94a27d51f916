#include "support/orientation.h"

#include <cstdlib>

#include "image/image.h"

namespace {

void Put16(std::string& out, unsigned v, bool big) {
    out += static_cast<char>(big ? v >> 8 : v & 0xFF);
    out += static_cast<char>(big ? v & 0xFF : v >> 8);
}

void Put32(std::string& out, uint32_t v, bool big) {
    Put16(out, big ? v >> 16 : v & 0xFFFF, big);
    Put16(out, big ? v & 0xFFFF : v >> 16, big);
}

}  // namespace

std::string ExifBlock(int orientation, bool big) {
    std::string b = big ? "MM" : "II";
    Put16(b, 42, big);
    Put32(b, 8, big);
    Put16(b, 1, big);  // one entry
    Put16(b, 0x0112, big);
    Put16(b, 3, big);  // SHORT
    Put32(b, 1, big);
    Put16(b, static_cast<unsigned>(orientation), big);
    Put16(b, 0, big);
    Put32(b, 0, big);  // no next IFD
    return b;
}

std::string WithExifSegment(const std::string& jpeg, const std::string& block) {
    const std::string payload = std::string("Exif\0\0", 6) + block;
    std::string segment = "\xFF\xE1";
    Put16(segment, static_cast<unsigned>(payload.size() + 2), true);
    return jpeg.substr(0, 2) + segment + payload + jpeg.substr(2);
}

RgbPicture ShownPixels(const CImage& image) {
    const BITMAPINFOHEADER& h = image.displayHeader.bmiHeader;
    RgbPicture p{h.biWidth, std::abs(h.biHeight), {}};
    const int bpp = h.biBitCount / 8;
    for (int y = 0; y < p.height; ++y) {
        const int stored = h.biHeight < 0 ? y : p.height - 1 - y;
        const uint8_t* row = image.displayBuffer + static_cast<size_t>(stored) * image.displayStride;
        for (int x = 0; x < p.width; ++x) p.bytes.insert(p.bytes.end(), row + x * bpp, row + x * bpp + 3);
    }
    return p;
}

RgbPicture Oriented(const RgbPicture& s, int o) {
    const int w = s.width, h = s.height;
    const bool transposed = o >= 5 && o <= 8;
    RgbPicture u{transposed ? h : w, transposed ? w : h, {}};
    for (int y = 0; y < u.height; ++y)
        for (int x = 0; x < u.width; ++x) {
            int sx = x, sy = y;
            switch (o) {
                case 2: sx = w - 1 - x; break;
                case 3: sx = w - 1 - x, sy = h - 1 - y; break;
                case 4: sy = h - 1 - y; break;
                case 5: sx = y, sy = x; break;
                case 6: sx = y, sy = h - 1 - x; break;
                case 7: sx = w - 1 - y, sy = h - 1 - x; break;
                case 8: sx = w - 1 - y, sy = x; break;
                default: break;
            }
            const uint8_t* px = s.at(sx, sy);
            u.bytes.insert(u.bytes.end(), px, px + 3);
        }
    return u;
}
