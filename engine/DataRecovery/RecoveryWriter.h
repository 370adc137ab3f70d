// Writes one recovered file's pieces in order while the next piece is read.
// A file of more than one piece is written on a thread of its own, so that
// the source and the destination work at the same time; a file of one piece
// is written on the caller's thread (a thread could overlap nothing there).
// Either way every byte goes through the same write, WriteAllAt.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora::recovery {

class RecoveryWriter {
public:
    // Buffers of `bufferSize` bytes, at most `buffers` of them in flight.
    RecoveryWriter(size_t bufferSize, int buffers);
    ~RecoveryWriter();
    RecoveryWriter(const RecoveryWriter&) = delete;
    RecoveryWriter& operator=(const RecoveryWriter&) = delete;

    size_t BufferSize() const { return bufferSize_; }
    // Starts a file on `fd`; `threaded` when more than one piece will come.
    void Begin(int fd, bool threaded);
    // A buffer to fill, waiting while every buffer is being written; null
    // once a write failed (nothing more of this file is written).
    char* Acquire();
    // Hands over the buffer from Acquire, filled with `length` bytes that
    // belong at `offset`.
    void Submit(char* buffer, size_t length, long long offset);
    // Pieces written whole so far, in the order they were handed over.
    size_t Written();
    // Waits until everything handed over is written, or a write failed, and
    // ends the thread. True when every piece was written; otherwise errno
    // holds the failed write's error.
    bool Finish();

private:
    struct Piece {
        char* data;
        size_t length;
        long long offset;
    };
    void Run();
    // Writes one piece and notes the outcome; the caller holds no lock.
    void WritePiece(const Piece& piece);

    const size_t bufferSize_;
    const int buffers_;
    std::vector<std::unique_ptr<char[]>> owned_;
    int fd_ = -1;
    bool threaded_ = false;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<char*> free_;
    std::deque<Piece> queue_;
    size_t written_ = 0;
    bool failed_ = false;
    int error_ = 0;
    bool ending_ = false;
    std::thread thread_;
};

}  // namespace velmora::recovery
