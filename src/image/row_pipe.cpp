#include "image/row_pipe.h"

#include <algorithm>
#include <system_error>

#include "image/image.h"

// The counters are read and written without the lock. A side about to sleep publishes what it
// waits for under the lock and then checks the counter again; the other side publishes its
// counter and then reads what is waited for. Both pairs are sequentially consistent, so at
// least one of them sees the other's write, and no wake-up is lost.

CRowPipe::CRowPipe(INextLine* reader, int32_t rows, size_t rowBytes)
    : reader_(reader),
      rows_(rows),
      rowBytes_(rowBytes),
      buffer_(rowBytes * kSlots),
      where_(kAhead, nullptr),
      writer_(kSlots, -1) {
    reader_->rowsDone = &released_;
    try {
        thread_ = std::thread([this] { Produce(); });
    } catch (const std::system_error&) {
        // Without a second thread the rows are read one at a time as they are asked for.
        reader_->rowsDone = nullptr;
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
    reader_->rowsDone = nullptr;
}

int64_t CRowPipe::FreeFor(int64_t row) const {
    return std::max(row - kAhead, writer_[BytesIndex(row)]) + 1;
}

void CRowPipe::ReadInto(int64_t row) {
    const size_t slot = BytesIndex(row);
    uint8_t* bytes = buffer_.data() + slot * rowBytes_;
    // What a damaged file leaves undelivered reads as zeros, as in a fresh buffer. The buffer
    // starts cleared, so only a slot a reader wrote into needs it again.
    if (writer_[slot] >= 0) std::fill(bytes, bytes + rowBytes_, 0);
    uint8_t* got = bytes;
    reader_->NextLine(&got);
    writer_[slot] = got == bytes ? row : -1;
    where_[SlotIndex(row)] = got;
}

void CRowPipe::Wake() {
    // Under the lock: a side that has published what it waits for is then asleep or rechecking.
    { std::lock_guard<std::mutex> lock(mutex_); }
    changed_.notify_all();
}

void CRowPipe::Produce() {
    for (int64_t row = 0; row < rows_; ++row) {
        // Waiting, the producer asks for a batch more than it needs, so that it wakes less often.
        const int64_t needed = FreeFor(row);
        if (released_.load() < needed) {
            std::unique_lock<std::mutex> lock(mutex_);
            producerWants_ = std::min<int64_t>(needed - 1 + kBatch, row);
            changed_.wait(lock, [&] { return quit_ || released_.load() >= producerWants_.load(); });
            producerWants_ = -1;
        }
        if (quit_) return;
        ReadInto(row);
        produced_ = row + 1;
        const int64_t wants = consumerWants_.load();
        if (wants >= 0 && row + 1 >= wants) Wake();
    }
}

const uint8_t* CRowPipe::Next() {
    if (!thread_.joinable()) {
        ReadInto(0);
        return where_[SlotIndex(0)];
    }
    // Only this thread changes released_.
    int64_t row = released_.load(std::memory_order_relaxed);
    if (holding_) {
        released_ = ++row;
        const int64_t wants = producerWants_.load();
        if (wants >= 0 && row >= wants) Wake();
    }
    holding_ = true;
    if (row < rows_ && produced_.load() <= row) {
        std::unique_lock<std::mutex> lock(mutex_);
        consumerWants_ = std::min<int64_t>(row + kBatch, rows_);
        changed_.wait(lock, [&] { return produced_.load() >= consumerWants_.load(); });
        consumerWants_ = -1;
    }
    // Asked for more rows than there are: the last one again, as an image hands out its rows.
    return where_[SlotIndex(std::min<int64_t>(row, rows_ - 1))];
}
