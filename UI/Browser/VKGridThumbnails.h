// The grid's thumbnails: one job per item the grid asks for, run one at a
// time on a worker thread at low priority. A finished picture is handed to
// its item on the main thread, where the item drops it if it shows another
// file by then.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "CNGridView/CNGridViewItem.h"
#include "VKMainThreadInbox.h"
#include "VKPhotoLoader.h"

namespace velmora::browser {

class VKGridThumbnailQueue : public QObject {
    Q_OBJECT

public:
    explicit VKGridThumbnailQueue(ImageSource source);
    ~VKGridThumbnailQueue() override;

    // Main thread: queues the thumbnail of `node` for `item`, which shows
    // `cell` (the node as the item knows it).
    void enqueue(CNGridViewItem* item, velmora::ui::ICellNode* cell, const OpNodePtr& node);
    // Drops the queued jobs and the pictures not yet handed over, gives up
    // the running job and waits for it.
    void stop();
    int state() const { return state_.load(); }
    // Jobs queued or running.
    size_t pending() const;

private:
    struct Job {
        QPointer<CNGridViewItem> item;
        velmora::ui::ICellNode* cell;
        OpNodePtr node;
    };
    struct Delivery {
        QPointer<CNGridViewItem> item;
        velmora::ui::ICellNode* cell;
        QImage image;
    };
    void work(std::stop_token stop);
    // Queued by name from worker threads: the queued call is then made and
    // read inside Qt alone.
    Q_INVOKABLE void takeDeliveries();

    ImageSource source_;
    VKMainThreadInbox<Delivery> inbox_;
    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    std::condition_variable idle_;
    std::deque<Job> jobs_;
    bool busy_ = false;
    std::stop_source current_;
    std::atomic<int> state_{kLoaderNeverStarted};
    std::jthread worker_;
};

}  // namespace velmora::browser
