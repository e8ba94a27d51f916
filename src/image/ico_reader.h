#pragma once

#include <cstdint>
#include <vector>

#include "image/reader.h"

// Icon and cursor files, read without a library (PNG-compressed entries excepted). One entry is
// chosen from the directory and decoded at open into a 24-bit bottom-up picture, with masked
// pixels white; the whole picture is handed over on the first row call.
class CIcoReader : public CImageReader {
public:
    explicit CIcoReader(std::string path) : CImageReader(std::move(path)) { allRowsAtOnce = true; }
    ~CIcoReader() override { Close(); }

    void OpenFile() override;
    int NextLine(uint8_t** row) override;
    void CloseFile() override;

    // The directory entry as stored (little-endian fields already decoded).
    struct Entry {
        uint8_t width = 0;
        uint8_t height = 0;
        uint8_t colourCount = 0;
        uint16_t bitCount = 0;  // the hot spot's y in a cursor file
        uint32_t dataSize = 0;
        uint32_t dataOffset = 0;
    };
    // Which entry is shown: wider than the best so far, or a colour count or bit count above
    // the best bit count so far.
    static size_t ChooseEntry(const std::vector<Entry>& entries);

private:
    bool Decode(int fd, uint64_t fileSize);
    void DecodeBitmap(const uint8_t* data, size_t size, int32_t width, int32_t height);

    std::vector<uint8_t> picture_;  // rows of the declared format, bottom row first
};
