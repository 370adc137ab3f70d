#include "RecoveryWriter.h"

#include <cerrno>

#include "RecoveryOutput.h"

namespace velmora::recovery {

RecoveryWriter::RecoveryWriter(size_t bufferSize, int buffers)
    : bufferSize_(bufferSize), buffers_(buffers < 2 ? 2 : buffers) {}

RecoveryWriter::~RecoveryWriter() {
    Finish();
}

void RecoveryWriter::Begin(int fd, bool threaded) {
    // A file left unfinished (its copy was cut short by an exception) ends
    // here: one thread at a time.
    Finish();
    // Buffers are made the first time they are needed and kept for the
    // files after: one for a file of one piece, all of them for a longer one.
    const size_t wanted = threaded ? static_cast<size_t>(buffers_) : 1;
    while (owned_.size() < wanted)
        owned_.emplace_back(new char[bufferSize_]);
    std::lock_guard<std::mutex> hold(mutex_);
    fd_ = fd;
    threaded_ = threaded;
    free_.clear();
    for (auto& buffer : owned_)
        free_.push_back(buffer.get());
    queue_.clear();
    written_ = 0;
    failed_ = false;
    error_ = 0;
    ending_ = false;
    if (threaded_)
        thread_ = std::thread([this] { Run(); });
}

char* RecoveryWriter::Acquire() {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [this] { return failed_ || !free_.empty(); });
    if (failed_)
        return nullptr;
    char* buffer = free_.back();
    free_.pop_back();
    return buffer;
}

void RecoveryWriter::Submit(char* buffer, size_t length, long long offset) {
    const Piece piece{buffer, length, offset};
    if (!threaded_) {
        WritePiece(piece);
        return;
    }
    {
        std::lock_guard<std::mutex> hold(mutex_);
        queue_.push_back(piece);
    }
    changed_.notify_all();
}

size_t RecoveryWriter::Written() {
    std::lock_guard<std::mutex> hold(mutex_);
    return written_;
}

bool RecoveryWriter::Finish() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            ending_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    std::lock_guard<std::mutex> hold(mutex_);
    fd_ = -1;
    if (failed_)
        errno = error_;
    return !failed_;
}

void RecoveryWriter::Run() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        changed_.wait(hold, [this] { return ending_ || !queue_.empty(); });
        // An ending writer first writes what it was handed: a stopped
        // recovery keeps every piece it read.
        if (queue_.empty())
            return;
        const Piece piece = queue_.front();
        queue_.pop_front();
        hold.unlock();
        WritePiece(piece);
        hold.lock();
    }
}

void RecoveryWriter::WritePiece(const Piece& piece) {
    bool skip = false;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        skip = failed_;
    }
    // After a failed write the file is lost: the pieces behind it are let
    // go unwritten, so that nothing lands beyond the hole.
    const bool ok = !skip && WriteAllAt(fd_, piece.data, piece.length, piece.offset);
    const int error = errno;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (ok) {
            ++written_;
        } else if (!failed_) {
            failed_ = true;
            error_ = error;
        }
        free_.push_back(piece.data);
    }
    changed_.notify_all();
}

}  // namespace velmora::recovery
