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
    // Rows read ahead at most. A row the reader hands out as its own costs only a pointer, so
    // such rows may run far ahead: the reader then keeps decoding while the rows before are
    // resampled, and neither side waits on the other often. Rows written into the pipe's own
    // bytes take one of its few byte slots each.
    static constexpr int32_t kAhead = 1024;
    static constexpr int32_t kSlots = 32;
    // Whichever side waits is woken only once this many rows (or slots) are ready for it, so
    // the two threads meet once per batch of rows instead of at every row. Each side counts
    // rows without the lock and takes it only to sleep or to wake the other.
    static constexpr int32_t kBatch = 16;

    void Produce();
    size_t SlotIndex(int64_t row) const { return static_cast<size_t>(row % kAhead); }
    size_t BytesIndex(int64_t row) const { return static_cast<size_t>(row % kSlots); }
    // The released_ the producer needs before it may read `row`: the slot's bytes and its
    // pointer must both be done with.
    int64_t FreeFor(int64_t row) const;
    // Reads row `row` and records where it is.
    void ReadInto(int64_t row);
    void Wake();

    INextLine* reader_;
    int32_t rows_;
    size_t rowBytes_;
    std::vector<uint8_t> buffer_;
    // Per row in the ring: where it is (a byte slot, or the reader's own row). Per byte slot:
    // the last row a reader may have written into it (-1: none), which must be released before
    // the slot is used again, and cleared.
    std::vector<const uint8_t*> where_;
    std::vector<int64_t> writer_;
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
