#pragma once

#include <cstdint>
#include <vector>

#include "image/reader.h"

struct GifFileType;

// The first picture of a GIF file, decoded with giflib. Rows are 24-bit, top row first, one per
// call; an interlaced picture is decoded whole at open so that its rows still come in picture
// order. Transparency, delays and disposal are not used: every index shows its colour.
class CGifReader : public CImageReader {
public:
    explicit CGifReader(std::string path) : CImageReader(std::move(path)) {}
    ~CGifReader() override { Close(); }

    void OpenFile() override;
    int NextLine(uint8_t** row) override;
    void CloseFile() override;

private:
    bool ReadFirstPicture(uint64_t fileSize);
    void DecodeInterlaced();
    void WriteRow(const uint8_t* indices, uint8_t* row) const;
    // Records the decoder's last error, with what it was reading.
    bool RefuseDecoderError(const std::string& where);

    GifFileType* decoder_ = nullptr;
    bool ready_ = false;
    bool buffered_ = false;
    // The decoder failed on a row: its state is lost, so no later row is asked for.
    bool failed_ = false;
    int32_t width_ = 0;
    int32_t height_ = 0;
    std::vector<uint8_t> colours_;       // the picture's colour map as blue, green, red
    std::vector<uint8_t> lineBuffer_;    // one row of colour indices
    std::vector<uint8_t> wholePicture_;  // interlaced pictures, in picture order
    std::vector<uint8_t> rowDecoded_;    // which rows of the whole picture the decoder gave
};
