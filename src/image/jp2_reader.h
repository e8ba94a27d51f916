#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "image/reader.h"
#include "platform/heap.h"

// JPEG 2000 files in the JP2 file format (a bare code stream is refused), through OpenJPEG. The
// library only decodes whole pictures, so this reader learns nothing at OpenFile: DecodeAll
// decodes everything into a 24-bit picture of its own and only then declares the header; rows
// are then copied out one per NextLine call, top row first. Grey, RGB and YCbCr pictures whose
// chosen components are unsigned and at full resolution are shown; an ICC profile carried in
// the file is applied with Little CMS, an enumerated colour space never is.
//
// The library cannot be interrupted inside a tile, so the decode runs on a thread of its own
// that DecodeAll waits for while asking decodeStopped. A decode that is left finishes there
// (a tiled one after its current tile), frees its memory and is forgotten; a few such decodes
// at most run at once, and later ones wait for their place.
// Tests: called on the decode thread before each decode, to hold it there.
void SetJp2DecodeHook(void (*hook)());
// Decodes that have not ended yet, left ones included.
int Jp2DecodesRunning();

class CJp2Reader : public CImageReader {
public:
    explicit CJp2Reader(std::string path) : CImageReader(std::move(path)) { deferredHeader = true; }
    ~CJp2Reader() override { Close(); }

    void OpenFile() override;
    void DecodeAll() override;
    int NextLine(uint8_t** row) override;
    void CloseFile() override;

private:
    std::unique_ptr<CPrivateHeap> heap_;
    uint8_t* picture_ = nullptr;  // rows of width x 3 bytes B, G, R, no padding, top row first
    uint32_t rowSize_ = 0;
    int32_t height_ = 0;
};
