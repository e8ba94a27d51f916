#include "image/ico_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "image/ico_png.h"
#include "image/rgb16.h"
#include "platform/file_io.h"

namespace {

// An entry of at most 255 x 255 pixels needs well under a megabyte, even as an uncompressed PNG;
// a data size beyond this is not read.
constexpr size_t kMaxEntryBytes = size_t{16} << 20;

constexpr size_t kBitmapHeaderBytes = 40;

// Bytes of a bitmap row: bits x width rounded up to whole bytes, then to a multiple of 4.
int64_t BitmapRowBytes(int64_t bits, int64_t width) {
    return ((bits * width + 7) / 8 + 3) & ~int64_t{3};
}

// The bytes of the entry data from `start`, as many of `wanted` as the data hold.
struct Span {
    const uint8_t* bytes = nullptr;
    int64_t length = 0;
};
Span Available(const uint8_t* data, size_t size, int64_t start, int64_t wanted) {
    if (start < 0 || start >= static_cast<int64_t>(size) || wanted <= 0) return {};
    return {data + start, std::min<int64_t>(wanted, static_cast<int64_t>(size) - start)};
}

}  // namespace

size_t CIcoReader::ChooseEntry(const std::vector<Entry>& entries) {
    size_t chosen = 0;
    uint32_t bestWidth = 0;
    uint32_t bestDepth = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        // The colour count (16 for a 4-bit icon) is compared with a bit count, as icons have
        // always been chosen here.
        if (e.width > bestWidth || e.colourCount > bestDepth || e.bitCount > bestDepth) {
            chosen = i;
            bestWidth = e.width;
            bestDepth = e.bitCount;
        }
    }
    return chosen;
}

void CIcoReader::OpenFile() {
    lineCounter = -1;
    uint64_t fileSize = 0;
    const int fd = OpenRegularFile(path, &fileSize);
    if (fd < 0) {
        RefuseOpen();
        return;
    }
    bool ok = false;
    try {
        ok = Decode(fd, fileSize);
    } catch (const std::bad_alloc&) {
        ok = Refuse("out of memory");
    }
    close(fd);
    if (!ok) {
        header = EmptyBitmapInfo();
        picture_ = {};
    }
}

bool CIcoReader::Decode(int fd, uint64_t fileSize) {
    if (fileSize < 7) return Refuse("too short for an icon file");

    uint8_t head[6];
    if (ReadAt(fd, 0, head, sizeof head) != sizeof head) return Refuse("read error");
    const uint16_t type = Le16(head + 2);
    const uint16_t count = Le16(head + 4);
    if (type != 1 && type != 2) return Refuse("not an ICO or CUR file");
    if (count == 0) return Refuse("no pictures in the icon file");

    // Only the entries the file really holds take part in the choice.
    std::vector<uint8_t> raw(static_cast<size_t>(count) * 16);
    const size_t got = ReadAt(fd, 6, raw.data(), raw.size());
    std::vector<Entry> entries(got / 16);
    if (entries.empty()) return Refuse("truncated in the icon directory");
    for (size_t i = 0; i < entries.size(); ++i) {
        const uint8_t* p = raw.data() + 16 * i;
        entries[i] = {p[0], p[1], p[2], Le16(p + 6), Le32(p + 8), Le32(p + 12)};
    }
    const Entry& entry = entries[ChooseEntry(entries)];

    // The entry's data as far as the file holds them; a bitmap header that claims more than
    // this is cut to what is there.
    if (entry.dataOffset >= fileSize) return Refuse("icon data outside the file");
    const size_t wanted = static_cast<size_t>(
        std::min<uint64_t>({entry.dataSize, fileSize - entry.dataOffset, kMaxEntryBytes}));
    std::vector<uint8_t> data(wanted);
    data.resize(ReadAt(fd, entry.dataOffset, data.data(), data.size()));

    const int32_t width = entry.width;  // 0 stands for 256 elsewhere; here it gives no pixels
    const int32_t height = entry.height;
    const bool png = IsPngIconData(data.data(), data.size());
    if (!png && data.size() < kBitmapHeaderBytes) return Refuse("icon data too short");

    if (width > 0 && height > 0) {
        // Pixels the entry data do not reach stay black.
        picture_.assign(static_cast<size_t>(DibStride(width, 24)) * static_cast<size_t>(height), 0);
        if (png) {
            std::string pngFailure;
            const bool decoded =
                DecodePngIcon(data.data(), data.size(), width, height, picture_.data(),
                              static_cast<size_t>(DibStride(width, 24)), &pngFailure);
            if (!pngFailure.empty()) Refuse(pngFailure);
            if (!decoded) return Refuse("damaged PNG icon");
        } else {
            DecodeBitmap(data.data(), data.size(), width, height);
        }
    } else {
        Refuse("icon entry of " + std::to_string(width) + " x " + std::to_string(height) +
               " pixels");
    }
    DeclareHeader(width, height, 24);
    return true;
}

void CIcoReader::DecodeBitmap(const uint8_t* data, size_t size, int32_t width, int32_t height) {
    BITMAPINFOHEADER info;
    std::memcpy(&info, data, sizeof info);
    const int bits = info.biBitCount;
    const int64_t bitmapWidth = info.biWidth;
    const int64_t bitmapRows = info.biHeight / 2;  // the height counts the colour rows and the mask
    if (bitmapWidth <= 0 || bitmapRows <= 0) return;

    // Where the parts lie, in 64 bits so that no header value can wrap them.
    const int64_t tableEntries =
        bits < 16 ? (info.biClrUsed ? int64_t{info.biClrUsed} : int64_t{1} << bits) : 0;
    int64_t colourStart;
    if (bits < 16)
        colourStart = kBitmapHeaderBytes + 4 * tableEntries;
    else if (bits == 16 && info.biCompression == BI_BITFIELDS)
        colourStart = kBitmapHeaderBytes + 12;
    else
        colourStart = kBitmapHeaderBytes + 4 * int64_t{info.biClrUsed};
    const int64_t colourRowBytes = BitmapRowBytes(bits, bitmapWidth);
    // A mask start past any file stands for every start that far out.
    const int64_t kFarBeyond = int64_t{1} << 62;
    const int64_t maskStart =
        colourRowBytes > 0 && bitmapRows > (kFarBeyond - colourStart) / colourRowBytes
            ? kFarBeyond
            : colourStart + colourRowBytes * bitmapRows;
    const int64_t maskRowBytes = BitmapRowBytes(1, bitmapWidth);

    // Indices beyond the table (a biClrUsed below the depth's full table) take entry 0, and a
    // table the data do not hold gives black.
    const int64_t tableInData =
        std::min<int64_t>(tableEntries, (static_cast<int64_t>(size) - 40) / 4);
    static constexpr uint8_t kBlack[3] = {0, 0, 0};
    auto tableColour = [&](int64_t index) -> const uint8_t* {
        if (index >= tableInData) index = 0;
        return index < tableInData ? data + kBitmapHeaderBytes + 4 * index : kBlack;
    };
    Rgb16Layout layout16 = Rgb16Layout::Rgb555();
    if (bits == 16 && info.biCompression == BI_BITFIELDS && size >= kBitmapHeaderBytes + 12)
        layout16 = Rgb16Layout::FromMasks(Le32(data + 40), Le32(data + 44), Le32(data + 48));

    const int64_t columns = std::min<int64_t>(width, bitmapWidth);
    const int64_t rows = std::min<int64_t>(height, bitmapRows);
    const size_t stride = static_cast<size_t>(DibStride(width, 24));
    for (int64_t r = 0; r < rows; ++r) {
        const Span colour = Available(data, size, colourStart + colourRowBytes * r, colourRowBytes);
        const Span mask = Available(data, size, maskStart + maskRowBytes * r, maskRowBytes);
        uint8_t* out = picture_.data() + static_cast<size_t>(r) * stride;
        for (int64_t x = 0; x < columns; ++x, out += 3) {
            // Mask bits the data do not hold count as opaque.
            if (x / 8 < mask.length && (mask.bytes[x / 8] >> (7 - x % 8)) & 1) {
                std::memset(out, 255, 3);
                continue;
            }
            // Only pixels whose bits are all in the data are written.
            if ((x + 1) * bits > colour.length * 8) continue;
            const uint8_t* c = colour.bytes;
            switch (bits) {
                case 1:
                    std::memcpy(out, tableColour((c[x / 8] >> (7 - x % 8)) & 1), 3);
                    break;
                case 4:
                    std::memcpy(out, tableColour(x % 2 == 0 ? c[x / 2] >> 4 : c[x / 2] & 0x0F), 3);
                    break;
                case 8:
                    std::memcpy(out, tableColour(c[x]), 3);
                    break;
                case 16:
                    layout16.ToBgr(Le16(c + 2 * x), out);
                    break;
                case 24:
                    std::memcpy(out, c + 3 * x, 3);
                    break;
                case 32:
                    std::memcpy(out, c + 4 * x, 3);
                    break;
                default:
                    break;  // no such depth: the pixel is not written
            }
        }
    }
}

int CIcoReader::NextLine(uint8_t** row) {
    const int32_t rows = header.bmiHeader.biHeight;
    if (lineCounter + 1 >= rows) return lineCounter;
    ++lineCounter;
    if (lineCounter == 0 && !picture_.empty()) std::memcpy(*row, picture_.data(), picture_.size());
    return lineCounter;
}

void CIcoReader::CloseFile() {
    picture_ = {};
}
