#include "image/row_pipe.h"

#include <algorithm>
#include <system_error>

#include "image/image.h"

CRowPipe::CRowPipe(INextLine* reader, int32_t rows, size_t rowBytes)
    : reader_(reader), rows_(rows), rowBytes_(rowBytes), buffer_(rowBytes * kAhead) {
    try {
        thread_ = std::thread([this] { Produce(); });
    } catch (const std::system_error&) {
        // Without a second thread the rows are read one at a time as they are asked for.
    }
}

CRowPipe::~CRowPipe() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void CRowPipe::ReadInto(uint8_t* slot) {
    // What a damaged file leaves undelivered reads as zeros, as in a fresh buffer.
    std::fill(slot, slot + rowBytes_, 0);
    uint8_t* row = slot;
    reader_->NextLine(&row);
}

void CRowPipe::Produce() {
    for (int64_t row = 0; row < rows_; ++row) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // The slot is free once the row kAhead before it has been released.
            if (row - released_ >= kAhead) {
                producerWants_ = row - kAhead + kBatch;
                changed_.wait(lock, [&] { return quit_ || released_ >= producerWants_; });
                producerWants_ = -1;
            }
            if (quit_) return;
        }
        ReadInto(Slot(row));
        bool wake;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            produced_ = row + 1;
            wake = consumerWants_ >= 0 && produced_ >= consumerWants_;
        }
        if (wake) changed_.notify_all();
    }
}

const uint8_t* CRowPipe::Next() {
    if (!thread_.joinable()) {
        uint8_t* slot = Slot(0);
        ReadInto(slot);
        return slot;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (holding_) {
        ++released_;
        if (producerWants_ >= 0 && released_ >= producerWants_) changed_.notify_all();
    }
    holding_ = true;
    if (produced_ <= released_ && released_ < rows_) {
        consumerWants_ = std::min<int64_t>(released_ + kBatch, rows_);
        changed_.wait(lock, [&] { return produced_ >= consumerWants_; });
        consumerWants_ = -1;
    }
    // Asked for more rows than there are: the last one again, as an image hands out its rows.
    return Slot(std::min<int64_t>(released_, rows_ - 1));
}
