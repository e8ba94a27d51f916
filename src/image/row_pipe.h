#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class INextLine;

// Source rows read ahead on a thread of their own, so that decoding the next rows and
// resampling the ones before them run at the same time. The rows come out in order, each
// exactly as the reader wrote it into a cleared row, or the reader's own row where it pointed to
// one (a reader told ownRows). Only the pipe's thread calls the reader while the pipe exists;
// destroying the pipe stops and joins that thread.
class CRowPipe {
public:
    // rowBytes: the bytes a reader may write for one row (stride and the spare byte).
    CRowPipe(INextLine* reader, int32_t rows, size_t rowBytes);
    ~CRowPipe();
    CRowPipe(const CRowPipe&) = delete;
    CRowPipe& operator=(const CRowPipe&) = delete;

    // The next row, valid until the following call.
    const uint8_t* Next();

private:
    static constexpr int32_t kAhead = 32;  // rows decoded ahead at most
    // Whichever side waits is woken only once this many rows (or slots) are ready for it, so
    // the two threads meet once per batch of rows instead of at every row. Each side counts
    // rows without the lock and takes it only to sleep or to wake the other.
    static constexpr int32_t kBatch = 16;

    void Produce();
    size_t SlotIndex(int64_t row) const { return static_cast<size_t>(row % kAhead); }
    // Reads the next row into slot `slot` and records where the row is.
    void ReadInto(size_t slot);
    void Wake();

    INextLine* reader_;
    int32_t rows_;
    size_t rowBytes_;
    std::vector<uint8_t> buffer_;
    // Per slot: where its row is (the slot's bytes, or the reader's own row), and whether a
    // reader may have written into the slot's bytes, which must be cleared before reuse.
    std::vector<const uint8_t*> where_;
    std::vector<uint8_t> written_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<int64_t> produced_{0};        // rows ready in the ring
    std::atomic<int64_t> released_{0};        // rows the consumer is done with
    std::atomic<int64_t> consumerWants_{-1};  // while the consumer sleeps: the produced_ to wake it
    std::atomic<int64_t> producerWants_{-1};  // while the producer sleeps: the released_ to wake it
    std::atomic<bool> quit_{false};
    bool holding_ = false;  // the consumer holds row released_
    std::thread thread_;    // none when no thread could be made: rows are then read in Next
};
