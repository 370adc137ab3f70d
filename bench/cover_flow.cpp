// The cover flow scrolled through a folder of 10,000 pictures offscreen at
// 1920 x 1080, next to the same view fed by a loader that decodes on the
// interface's thread (its peer), in the same run:
//   cover_flow [items] [device milliseconds per picture]
// A frame is one step of the selection (the loader restarted around it),
// the events that arrived and a paint of the whole view. Also measured: the
// frames of the slide animation with 200 pictures loaded, the longest stop
// of a loader whose device takes a second per picture, how many pictures
// are held after the scroll and the process's resident memory: before the
// scroll and its peak by the scroll's end (run it with 1,000 and 10,000
// items: the peak follows the loaded window, not the folder).
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "Browser/VKCoverFlowMode.h"
#include "UIPlatform/Timing.h"
#include "platform/HeapPages.h"
#include "support/TestNode.h"

using namespace velmora::browser;

namespace {

constexpr QSize kViewport(1920, 1080);

// A size field of /proc/self/status ("VmRSS", "VmHWM") in MiB, 0 unknown.
double StatusMiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').front().toDouble() / 1024;
    }
    return 0;
}

struct Folder {
    std::vector<std::unique_ptr<TestNode>> files;
    std::vector<OpNodePtr> nodes;
    explicit Folder(int count) {
        for (int i = 0; i < count; ++i) {
            files.push_back(std::make_unique<TestNode>(i + 100, 5, std::to_string(i) + ".jpg"));
            nodes.push_back(OpNodeData::initWithFileNode(files.back().get()));
        }
    }
};

std::vector<std::vector<uint8_t>> SamplePictures() {
    std::vector<std::vector<uint8_t>> pictures;
    for (const char* name : {"camera_pair.jpg", "crowded.jpg", "exif_camera.jpg", "gray.jpg",
                             "motion.jpg", "pair.jpg", "picture.png", "jfif_progressive.jpg"}) {
        QFile file(QStringLiteral(VELMORA_SAMPLES_DIR "/") + QLatin1String(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        pictures.emplace_back(bytes.begin(), bytes.end());
    }
    return pictures;
}

struct Frames {
    std::vector<double> ms;
    double longest() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
    double mean() const {
        return ms.empty() ? 0 : std::accumulate(ms.begin(), ms.end(), 0.0) / double(ms.size());
    }
    double p99() const {
        if (ms.empty())
            return 0;
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)];
    }
};

// The naive peer: the flow's data source decodes the pictures it is asked
// for on the interface's thread.
class DecodingOnTheMainThread : public VKImageFlowDataSource {
public:
    DecodingOnTheMainThread(const Folder& folder, ImageSource source)
        : folder_(folder), source_(std::move(source)), photos_(folder.nodes.size()) {}
    qint64 numberOfItemsInImageFlow(VKCoverFlowView*) override { return qint64(photos_.size()); }
    const Photo* imageFlowItemAtIndex(VKCoverFlowView*, qint64 index) override {
        if (index < 0 || index >= qint64(photos_.size()))
            return nullptr;
        Photo& photo = photos_[size_t(index)];
        if (photo.imageUID().isEmpty()) {
            photo = Photo(DecodePicture(source_(folder_.nodes[size_t(index)], {})),
                          QString::number(index));
        }
        return &photo;
    }

private:
    const Folder& folder_;
    ImageSource source_;
    std::vector<Photo> photos_;
};

Frames Scroll(VKCoverFlowView& view, qint64 count, const std::function<void(qint64)>& select) {
    Frames frames;
    QElapsedTimer timer;
    // Quick flicks through the folder, then a slow stretch one by one.
    std::vector<qint64> steps;
    for (qint64 k = 0; k < count; k += 37)
        steps.push_back(k);
    for (qint64 k = count / 2; k < count / 2 + 120; ++k)
        steps.push_back(k);
    for (qint64 k : steps) {
        timer.start();
        select(k);
        QCoreApplication::processEvents();
        view.repaint();
        frames.ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return frames;
}

void Print(const char* what, const Frames& f) {
    std::printf("%-34s longest %8.2f ms  p99 %8.2f ms  mean %7.2f ms  (%zu frames)\n", what,
                f.longest(), f.p99(), f.mean(), f.ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    velmora::platform::StartWithHugePageHeap(argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(20, std::atoi(argv[1])) : 10000;
    const int deviceMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 2;
    const auto pictures = SamplePictures();
    if (pictures.empty()) {
        std::fprintf(stderr, "no sample pictures in %s\n", VELMORA_SAMPLES_DIR);
        return 1;
    }
    const Qt::HANDLE mainThread = QThread::currentThreadId();
    std::atomic<int> readsOnMainThread{0};
    ImageSource source = [&](const OpNodePtr& node, std::stop_token stop) {
        if (QThread::currentThreadId() == mainThread)
            ++readsOnMainThread;
        const auto wake = std::chrono::steady_clock::now() + std::chrono::milliseconds(deviceMs);
        while (std::chrono::steady_clock::now() < wake && !stop.stop_requested())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        return pictures[std::hash<std::string>()(node->name()) % pictures.size()];
    };
    Folder folder(count);
    velmora::ui::SetDurationScale(0);

    // Ours.
    Frames ours;
    size_t heldAfterScroll = 0;
    const double rssBefore = StatusMiB("VmRSS");
    double peakAfterScroll = 0;
    {
        VKCoverFlowView view;
        view.resize(kViewport);
        view.show();
        VKCoverFlowMode mode(&view, source);
        mode.showCoverFlowerViewWithRefresh(folder.nodes, true);
        ours = Scroll(view, count, [&](qint64 k) { mode.imageFlowDidSelectItemAtIndex(&view, k); });
        mode.stopImageLoading();
        QCoreApplication::processEvents();
        for (const Photo& photo : mode.loader().photos())
            heldAfterScroll += photo.imageRepresentation().isNull() ? 0 : 1;
        peakAfterScroll = StatusMiB("VmHWM");
    }
    const int oursMainReads = readsOnMainThread.exchange(0);

    // The peer.
    Frames peer;
    {
        VKCoverFlowView view;
        view.resize(kViewport);
        view.show();
        DecodingOnTheMainThread data(folder, source);
        view.setDataSource(&data);
        view.reloadData();
        peer = Scroll(view, count, [&](qint64 k) { view.setSelectedIndex(k); });
    }

    // The slide with 200 pictures loaded, animated at full length.
    Frames slide;
    {
        VKCoverFlowView view;
        view.resize(kViewport);
        view.show();
        VKCoverFlowMode mode(&view, source);
        Folder two(200);
        mode.showCoverFlowerViewWithRefresh(two.nodes, true);
        mode.imageFlowDidSelectItemAtIndex(&view, 100);
        QElapsedTimer wait;
        wait.start();
        while (mode.loader().state() == kLoaderRunning && wait.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents();
        velmora::ui::SetDurationScale(1);
        QElapsedTimer timer;
        for (qint64 k : {101, 103, 99, 95, 100}) {
            view.setSelectedIndex(k);
            QElapsedTimer run;
            run.start();
            while (run.elapsed() < 320) {
                timer.start();
                QCoreApplication::processEvents();
                view.repaint();
                slide.ms.push_back(double(timer.nsecsElapsed()) / 1e6);
            }
        }
        velmora::ui::SetDurationScale(0);
    }

    // Stops with a device that takes a second per picture.
    double longestStop = 0;
    {
        ImageSource slow = [&](const OpNodePtr& node, std::stop_token stop) {
            const auto wake = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            while (std::chrono::steady_clock::now() < wake && !stop.stop_requested())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return pictures[std::hash<std::string>()(node->name()) % pictures.size()];
        };
        VKPhotoLoader loader(slow);
        loader.setNodes(folder.nodes);
        for (int round = 0; round < 20; ++round) {
            loader.start(round * 50);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            QElapsedTimer timer;
            timer.start();
            loader.stop();
            longestStop = std::max(longestStop, double(timer.nsecsElapsed()) / 1e6);
        }
    }

    std::printf("cover flow, %d items, device %d ms per picture, %dx%d\n", count, deviceMs,
                kViewport.width(), kViewport.height());
    Print("loader threads (ours)", ours);
    Print("decoding on the main thread (peer)", peer);
    std::printf("ratio ours/peer: longest %.3f  p99 %.3f  mean %.3f\n",
                ours.longest() / peer.longest(), ours.p99() / peer.p99(),
                ours.mean() / peer.mean());
    std::printf("picture reads on the main thread (ours): %d\n", oursMainReads);
    std::printf("pictures held after the scroll: %zu of %d\n", heldAfterScroll, count);
    std::printf("resident memory: %.1f MiB before the scroll, peak %.1f MiB by its end\n",
                rssBefore, peakAfterScroll);
    Print("slide, 200 pictures loaded", slide);
    std::printf("frames of the slide over 16 ms: %zd\n",
                std::count_if(slide.ms.begin(), slide.ms.end(), [](double ms) { return ms > 16; }));
    std::printf("longest stop, 1 s per picture: %.2f ms\n", longestStop);
    return oursMainReads == 0 && heldAfterScroll <= 200 ? 0 : 1;
}
