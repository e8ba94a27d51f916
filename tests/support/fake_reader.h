#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "support/resample_reference.h"

// A picture served by a stand-in reader, with switches for the behaviours of the real readers
// (R, G, B order, a header known only after DecodeAll, all rows on the first call) and hooks
// that hold the reader at a chosen point until the test lets it go, so that stops land where
// the test wants them.
struct FakePicture {
    TestPicture rows;     // in memory order
    bool topDown = true;  // declared with a negative height
    bool rgbOrder = false;
    bool deferredHeader = false;
    bool allRowsAtOnce = false;

    // NextLine for this row (0-based) waits until *release is true.
    int32_t holdAtRow = -1;
    // OpenFile waits until *release is true.
    bool holdInOpen = false;
    const std::atomic<bool>* release = nullptr;
    // Set when the reader starts to wait at a hold.
    std::atomic<bool> held{false};

    // What happened, counted across every reader made for the picture.
    std::atomic<int> readersMade{0};
    std::atomic<int> decodeAllCalls{0};
    std::atomic<int> closes{0};
    std::atomic<int32_t> lastRowDelivered{-1};
};

// Registers the picture under a fresh path ending in ".fake"; readers made for that path serve
// it. The picture must outlive every image that uses the path.
std::string RegisterFakePicture(std::shared_ptr<FakePicture> picture);
// The same under a path of the caller's (ending in ".fake"), for a file that is really there.
void RegisterFakePictureAt(const std::string& path, std::shared_ptr<FakePicture> picture);
// Forgets every registered picture.
void ClearFakePictures();
