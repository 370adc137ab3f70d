#include "VKGridThumbnails.h"

namespace velmora::browser {

VKGridThumbnailQueue::VKGridThumbnailQueue(ImageSource source) : source_(std::move(source)) {
    worker_ = std::jthread([this](std::stop_token stop) { work(stop); });
}

VKGridThumbnailQueue::~VKGridThumbnailQueue() {
    stop();
    worker_.request_stop();
    worker_.join();
}

void VKGridThumbnailQueue::enqueue(CNGridViewItem* item, velmora::ui::ICellNode* cell,
                                   const OpNodePtr& node) {
    {
        std::lock_guard lock(mutex_);
        state_.store(kLoaderRunning);
        jobs_.push_back({QPointer<CNGridViewItem>(item), cell, node});
    }
    wake_.notify_one();
}

void VKGridThumbnailQueue::stop() {
    std::unique_lock lock(mutex_);
    if (state_.load() == kLoaderRunning) {
        state_.store(kLoaderStopRequested);
        jobs_.clear();
        current_.request_stop();
        // Blocks only while one picture gives up, never polling.
        idle_.wait(lock, [this] { return !busy_; });
        state_.store(kLoaderStopped);
    }
    // Pictures made but not handed over are dropped too, even when the last
    // job ended before the stop: the files they were made for may be gone,
    // and a new file's cell could take an old one's address.
    (void)inbox_.take();
}

void VKGridThumbnailQueue::takeDeliveries() {
    for (Delivery& delivery : inbox_.take()) {
        // The item drops a picture for a file it no longer shows.
        if (delivery.item)
            delivery.item->updateImageViewWithImage(delivery.image, delivery.cell);
    }
}

size_t VKGridThumbnailQueue::pending() const {
    std::lock_guard lock(mutex_);
    return jobs_.size() + (busy_ ? 1 : 0);
}

void VKGridThumbnailQueue::work(std::stop_token stop) {
    LowerThreadPriority();
    std::unique_lock lock(mutex_);
    while (true) {
        if (!wake_.wait(lock, stop, [this] { return !jobs_.empty(); }))
            return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        current_ = std::stop_source();
        std::stop_token jobStop = current_.get_token();
        lock.unlock();
        QImage image;
        if (!jobStop.stop_requested())
            image = DecodePicture(source_(job.node, jobStop));
        if (!image.isNull() && !jobStop.stop_requested()) {
            if (inbox_.put({std::move(job.item), job.cell, std::move(image)}))
                QMetaObject::invokeMethod(this, "takeDeliveries", Qt::QueuedConnection);
        }
        lock.lock();
        busy_ = false;
        if (jobs_.empty()) {
            int running = kLoaderRunning;
            state_.compare_exchange_strong(running, kLoaderStopped);
        }
        idle_.notify_all();
    }
}

}  // namespace velmora::browser
