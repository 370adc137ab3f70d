// The thumbnail grid scrolled from top to bottom offscreen at 1920 x 1080,
// next to Qt's own icon list view (QListView in icon mode, the same cells)
// scrolled the same way in the same run:
//   grid_scroll [items] [pixels per frame]
// A frame is the scroll step, the events it sets off (recycling, filling,
// late thumbnails) and the paint of the whole viewport. Thumbnails are
// decoded from PNG on a pool of idle-priority threads and handed to the
// items from there.
#include <QAbstractListModel>
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QListView>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

#include "CNGridView/CNGridView.h"
#include "CNGridView/CNGridViewItem.h"
#include "Resources/ImageRegistry.h"
#include "Widgets/CellNode.h"

namespace {

constexpr QSize kViewport(1920, 1080);

struct Node : velmora::ui::ICellNode {
    QString name() const override { return {}; }
    int state() const override { return 0; }
    int iconKind() const override { return -1; }
};

QByteArray EncodedPicture() {
    QImage image(160, 120, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 160, 120);
    g.setColorAt(0, QColor(240, 140, 90));
    g.setColorAt(1, QColor(60, 90, 170));
    p.fillRect(image.rect(), g);
    p.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

struct FrameTimes {
    double longestMs = 0;
    int longestFrame = 0;
    double totalMs = 0;
    int frames = 0;
    std::vector<double> all;
    void add(double ms) {
        if (ms > longestMs) {
            longestMs = ms;
            longestFrame = frames;
        }
        totalMs += ms;
        ++frames;
        all.push_back(ms);
    }
    int over(double ms) const {
        return int(std::count_if(all.begin(), all.end(), [ms](double t) { return t > ms; }));
    }
    double percentile(double p) {
        if (all.empty()) {
            return 0;
        }
        std::sort(all.begin(), all.end());
        return all[std::min(all.size() - 1, size_t(p * double(all.size())))];
    }
};

// Scrolls the area's viewport from top to bottom, a frame per step.
FrameTimes Scroll(QAbstractScrollArea& area, int step) {
    FrameTimes times;
    QImage frame(kViewport, QImage::Format_ARGB32_Premultiplied);
    QScrollBar* bar = area.verticalScrollBar();
    // One paint before timing: fonts, pictures and caches are loaded once
    // per process, not per frame.
    QCoreApplication::processEvents();
    area.viewport()->render(&frame);
    QElapsedTimer clock;
    for (int y = 0;; y = std::min(y + step, bar->maximum())) {
        clock.start();
        bar->setValue(y);
        QCoreApplication::processEvents();
        area.viewport()->render(&frame);
        times.add(double(clock.nsecsElapsed()) / 1e6);
        if (y == bar->maximum()) {
            break;
        }
    }
    return times;
}

class GridSource : public CNGridViewDataSource {
public:
    explicit GridSource(qint64 count)
        : nodes(size_t(count)),
          png(EncodedPicture()),
          placeholder(velmora::ui::ImageRegistry::Pixmap(QStringLiteral("loading.png")).toImage()),
          mainThread(QThread::currentThread()) {
        // Decoding yields to the interface's thread, as a loader should.
        decoders.setThreadPriority(QThread::IdlePriority);
    }
    qint64 numberOfItemsInSection(CNGridView*, qint64) override { return qint64(nodes.size()); }
    CNGridViewItemBase* itemAtIndex(CNGridView* grid, qint64 index, qint64) override {
        auto* item = static_cast<CNGridViewItem*>(
            grid->dequeueReusableItemWithIdentifier(QLatin1String(kCNDefaultItemIdentifier)));
        if (item == nullptr) {
            item = new CNGridViewItem;
            ++created;
        }
        Node* node = &nodes[size_t(index)];
        item->setNode(node);
        item->setItemImage(placeholder);
        item->titleLabel()->setText(QStringLiteral("IMG_%1.JPG").arg(index, 6, 10, QChar('0')));
        item->itemButton()->setImageName(QStringLiteral("pf_checkbox_no"));
        // Items live as long as the grid: the loader may hold one.
        decoders.start([this, item, node] {
            if (QThread::currentThread() == mainThread) {
                ++decodedOnMainThread;
            }
            QImage image = QImage::fromData(png, "PNG");
            ++decoded;
            item->updateImageViewWithImage(image, node);
        });
        return item;
    }

    std::vector<Node> nodes;
    QByteArray png;
    QImage placeholder;
    QThread* mainThread;
    QThreadPool decoders;
    int created = 0;
    std::atomic<int> decoded{0};
    std::atomic<int> decodedOnMainThread{0};
};

// Qt's own virtualised icon list, the peer.
class PeerModel : public QAbstractListModel {
public:
    PeerModel(qint64 count, QPixmap icon) : count_(int(count)), icon_(std::move(icon)) {}
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : count_; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::DisplayRole) {
            return QStringLiteral("IMG_%1.JPG").arg(index.row(), 6, 10, QChar('0'));
        }
        if (role == Qt::DecorationRole) {
            return icon_;
        }
        if (role == Qt::CheckStateRole) {
            return Qt::Unchecked;
        }
        return {};
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return QAbstractListModel::flags(index) | Qt::ItemIsUserCheckable;
    }

private:
    int count_;
    QPixmap icon_;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const qint64 items = argc > 1 ? std::atoll(argv[1]) : 100000;
    const int step = argc > 2 ? std::atoi(argv[2]) : 150;
    CNGridView::SetAnimationScale(0);

    GridSource source(items);
    QScrollArea area;
    area.setAttribute(Qt::WA_DontShowOnScreen);
    area.setFrameShape(QFrame::NoFrame);
    area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area.resize(kViewport);
    auto* grid = new CNGridView;
    grid->setDataSource(&source);
    area.setWidget(grid);
    area.show();
    grid->reloadData();
    QCoreApplication::processEvents();
    const qint64 columns = grid->columnsInGridView();
    const qint64 limit = (grid->visibleRowsInGridView() + 1) * columns;
    FrameTimes gridTimes = Scroll(area, step);
    source.decoders.waitForDone();
    QCoreApplication::processEvents();

    PeerModel model(items, QPixmap::fromImage(source.placeholder));
    QListView peer;
    peer.setAttribute(Qt::WA_DontShowOnScreen);
    peer.setFrameShape(QFrame::NoFrame);
    peer.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    peer.setViewMode(QListView::IconMode);
    peer.setUniformItemSizes(true);
    peer.setGridSize(QSize(150, 150));
    peer.setIconSize(QSize(90, 90));
    peer.setMovement(QListView::Static);
    peer.setResizeMode(QListView::Adjust);
    peer.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    peer.setModel(&model);
    peer.resize(kViewport);
    peer.show();
    QCoreApplication::processEvents();
    FrameTimes peerTimes = Scroll(peer, step);

    std::printf("items %lld, viewport %dx%d, %lld columns, %d pixels a frame\n", (long long)items,
                kViewport.width(), kViewport.height(), (long long)columns, step);
    std::printf(
        "grid:  %d frames, longest %.2f ms (frame %d), 99th percentile %.2f ms, mean %.2f "
        "ms\n",
        gridTimes.frames, gridTimes.longestMs, gridTimes.longestFrame, gridTimes.percentile(0.99),
        gridTimes.totalMs / std::max(1, gridTimes.frames));
    std::printf(
        "peer (QListView, icon mode): %d frames, longest %.2f ms, 99th percentile %.2f ms, "
        "mean %.2f ms\n",
        peerTimes.frames, peerTimes.longestMs, peerTimes.percentile(0.99),
        peerTimes.totalMs / std::max(1, peerTimes.frames));
    std::printf("ratio grid/peer: longest %.2f, mean %.2f\n",
                gridTimes.longestMs / std::max(1e-9, peerTimes.longestMs),
                (gridTimes.totalMs / std::max(1, gridTimes.frames)) /
                    std::max(1e-9, peerTimes.totalMs / std::max(1, peerTimes.frames)));
    std::printf("frames over 16 ms: grid %d, peer %d\n", gridTimes.over(16), peerTimes.over(16));
    std::printf("tiles created %d (limit: visible rows plus one spare row = %lld)\n",
                source.created, (long long)limit);
    std::printf("thumbnails decoded %d, on the main thread %d\n", source.decoded.load(),
                source.decodedOnMainThread.load());
    return source.created <= limit && source.decodedOnMainThread == 0 ? 0 : 1;
}
