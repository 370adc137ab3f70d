// The pictures of the cover flow: one Photo per file of the pane, loaded in
// the background for the items around the selection only. A loader thread
// works from a copy of what it needs taken on the main thread; finished
// pictures come back to the main thread, where they are stored in their
// item unless the folder changed in the meantime.
#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <thread>
#include <vector>

#include "OpNodeData.h"
#include "VKMainThreadInbox.h"

namespace velmora::browser {

// The identifier of an item still waiting for its picture.
inline const QString kLoadingIdentifier = QStringLiteral("Loading...");

// One cover-flow item.
class Photo {
public:
    Photo() = default;
    Photo(const QImage& image, const QString& imageID) : image_(image), imageID_(imageID) {}

    QString imageUID() const { return imageID_; }
    const QImage& imageRepresentation() const { return image_; }
    QString imageTitle() const { return imageName_; }
    qint64 imageVersion() const { return iImageVersion_; }

    void setImageRepresentation(const QImage& image) { image_ = image; }
    void setImageUID(const QString& imageID) { imageID_ = imageID; }
    void setName(const QString& name) { imageName_ = name; }
    // Makes the view draw the item again.
    void setImageVersion() { ++iImageVersion_; }

    bool isPlaceholder() const { return imageID_ == kLoadingIdentifier; }
    // The file has no picture of its own: the item shows its type's icon.
    bool isTypeIcon() const { return imageID_.startsWith(QLatin1String("icon:")); }

private:
    QImage image_;
    QString imageID_;
    QString imageName_;
    qint64 iImageVersion_ = 0;
};

// The loaders' state words.
enum LoaderState : int {
    kLoaderNeverStarted = -1,
    kLoaderRunning = 0,
    kLoaderStopRequested = 1,
    kLoaderStopped = 2,
};

// The items a loader started at `index` covers, [first, end): all of them
// for 10 items or fewer, else the hundred on each side of the selection.
struct LoadWindow {
    qint64 first = 0;
    qint64 end = 0;
    bool operator==(const LoadWindow&) const = default;
};
LoadWindow CoverFlowLoadWindow(qint64 index, qint64 count);

// Gives the bytes of a node's picture, empty when it has none. Runs on
// loader threads; gives up early when `stop` is asked.
using ImageSource =
    std::function<std::vector<uint8_t>(const OpNodePtr& node, std::stop_token stop)>;

// The biggest picture kept per item: enough for the front cover at full
// HD, and bounds the memory of a loaded window.
inline constexpr QSize kMaxPictureSize{640, 640};

// Decodes picture bytes, scaled down while decoding to fit `maxSize`. Any
// thread. Null when the bytes are no picture.
QImage DecodePicture(const std::vector<uint8_t>& bytes, QSize maxSize = kMaxPictureSize);

// The name (for the image registry) of the icon of a file's type, chosen by
// its name's extension; files of no known kind get the plain file's icon.
QString FileTypeIconName(const QString& fileName);

// Puts the calling thread below the window's priority (batch class, nice
// 10): decoding yields to the window but still runs on a busy machine.
void LowerThreadPriority();

class VKPhotoLoader : public QObject {
    Q_OBJECT

public:
    explicit VKPhotoLoader(ImageSource source, QObject* parent = nullptr);
    ~VKPhotoLoader() override;

    // A new folder: stops the loader, drops every picture on its way and
    // gives each node a placeholder item.
    void setNodes(std::vector<OpNodePtr> nodes);
    const std::vector<OpNodePtr>& nodes() const { return nodes_; }
    const std::vector<Photo>& photos() const { return photos_; }
    Photo* photoAt(qint64 index);

    // Loads the window of items around `index` in the background; pictures
    // of items outside it are let go.
    void start(qint64 index);
    // Stops the loader and waits for its thread: a picture being read is
    // given up, so this returns at once even on a slow device.
    void stop();
    int state() const { return state_.load(); }

signals:
    // Main thread: the item at index got its picture.
    void photoLoaded(qint64 index);
    // Main thread: the latest loader went through its whole window.
    void finished();

private:
    struct Job {
        qint64 index;
        OpNodePtr node;
    };
    // A picture for index (none when the file has none: its type's icon is
    // shown instead), or, with index -1, the end of a run.
    struct Delivery {
        quint64 generation;
        quint64 runId;
        qint64 index;
        QImage image;
    };
    void run(std::stop_token stop, std::vector<Job> jobs, quint64 generation, quint64 runId);
    void post(Delivery delivery);
    // Queued by name from worker threads: the queued call is then made and
    // read inside Qt alone.
    Q_INVOKABLE void takeDeliveries();
    void deliver(const Delivery& delivery);

    ImageSource source_;
    std::vector<OpNodePtr> nodes_;
    std::vector<Photo> photos_;
    // Changes with every folder: pictures of an older one are dropped.
    quint64 generation_ = 0;
    // The items the last start covers; a late picture outside it is dropped.
    LoadWindow window_;
    // Counts the starts: only the latest run's end is announced.
    quint64 runId_ = 0;
    std::atomic<int> state_{kLoaderNeverStarted};
    VKMainThreadInbox<Delivery> inbox_;
    std::jthread thread_;
};

}  // namespace velmora::browser
