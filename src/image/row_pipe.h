#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class INextLine;

// Source rows read ahead on a thread of their own, so that decoding the next rows and
// resampling the ones before them run at the same time. The rows come out in order, each
// exactly as the reader wrote it into a cleared row. Only the pipe's thread calls the reader
// while the pipe exists; destroying the pipe stops and joins that thread.
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
    // the two threads meet a few times per batch of rows instead of at every row.
    static constexpr int32_t kBatch = 8;

    void Produce();
    uint8_t* Slot(int64_t row) { return buffer_.data() + (row % kAhead) * rowBytes_; }
    void ReadInto(uint8_t* slot);

    INextLine* reader_;
    int32_t rows_;
    size_t rowBytes_;
    std::vector<uint8_t> buffer_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int64_t produced_ = 0;  // rows written into the ring
    int64_t released_ = 0;  // rows the consumer is done with
    bool holding_ = false;  // the consumer holds row released_
    bool quit_ = false;
    int64_t consumerWants_ = -1;  // while the consumer waits: the produced_ that wakes it
    int64_t producerWants_ = -1;  // while the producer waits: the released_ that wakes it
    std::thread thread_;          // none when no thread could be made: rows are then read in Next
};
