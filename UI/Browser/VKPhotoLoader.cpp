#include "VKPhotoLoader.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QMimeDatabase>
#include <QUuid>
#include <algorithm>

#include "Resources/ImageRegistry.h"

namespace velmora::browser {

namespace {

constexpr qint64 kAllItemsUpTo = 10;
constexpr qint64 kItemsEachSide = 100;
constexpr QSize kTypeIconSize{256, 256};

// The generic icons of the shared MIME database, as the trees name them.
struct KindIcon {
    const char* generic;
    const char* icon;
};
constexpr KindIcon kKindIcons[] = {
    {"x-office-document", "2IconImage"},
    {"x-office-spreadsheet", "2IconImage"},
    {"x-office-presentation", "2IconImage"},
    {"text-x-generic", "2IconImage"},
    {"image-x-generic", "3IconImage"},
    {"video-x-generic", "4IconImage"},
    {"audio-x-generic", "5IconImage"},
    {"package-x-generic", "6IconImage"},
    {"text-html", "2IconImage"},
};

}  // namespace

QString FileTypeIconName(const QString& fileName) {
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    const QString generic = type.genericIconName();
    for (const KindIcon& kind : kKindIcons) {
        if (generic == QLatin1String(kind.generic))
            return QString::fromLatin1(kind.icon);
    }
    const QString name = type.name();
    if (name.startsWith(QLatin1String("audio/")))
        return QStringLiteral("5IconImage");
    if (name.startsWith(QLatin1String("video/")))
        return QStringLiteral("4IconImage");
    if (name.startsWith(QLatin1String("image/")))
        return QStringLiteral("3IconImage");
    if (name == QLatin1String("message/rfc822"))
        return QStringLiteral("7IconImage");
    return QStringLiteral("8IconImage");
}

LoadWindow CoverFlowLoadWindow(qint64 index, qint64 count) {
    if (count <= 0)
        return {};
    if (count <= kAllItemsUpTo)
        return {0, count};
    const qint64 first = std::clamp<qint64>(index - kItemsEachSide, 0, count);
    const qint64 end = std::clamp<qint64>(index + kItemsEachSide, first, count);
    return {first, end};
}

QImage DecodePicture(const std::vector<uint8_t>& bytes, QSize maxSize) {
    if (bytes.empty())
        return {};
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    // Big camera pictures are scaled while decoding, never decoded whole.
    if (size.isValid() && (size.width() > maxSize.width() || size.height() > maxSize.height()))
        reader.setScaledSize(size.scaled(maxSize, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.width() > maxSize.width() || image.height() > maxSize.height())
        image = image.scaled(maxSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    // Detached from `data`, which only borrows the caller's bytes.
    image.detach();
    return image;
}

// Batch scheduling at nice 10, not the idle class: the interface's thread
// keeps the upper hand, yet pictures still come while a deep scan or other
// programs keep every core busy (an idle-class thread then gets nothing and
// the user looks at placeholders until the machine is quiet).
void LowerThreadPriority() {
    sched_param param{};
    param.sched_priority = 0;
    // Failing only leaves the thread at normal priority.
    (void)pthread_setschedparam(pthread_self(), SCHED_BATCH, &param);
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}

VKPhotoLoader::VKPhotoLoader(ImageSource source, QObject* parent)
    : QObject(parent), source_(std::move(source)) {}

VKPhotoLoader::~VKPhotoLoader() {
    stop();
}

void VKPhotoLoader::setNodes(std::vector<OpNodePtr> nodes) {
    stop();
    ++generation_;
    ++runId_;
    window_ = {};
    nodes_ = std::move(nodes);
    photos_.assign(nodes_.size(), Photo(QImage(), kLoadingIdentifier));
}

Photo* VKPhotoLoader::photoAt(qint64 index) {
    if (index < 0 || index >= static_cast<qint64>(photos_.size()))
        return nullptr;
    return &photos_[static_cast<size_t>(index)];
}

void VKPhotoLoader::start(qint64 index) {
    stop();
    const LoadWindow window = CoverFlowLoadWindow(index, static_cast<qint64>(photos_.size()));
    window_ = window;
    std::vector<Job> jobs;
    for (qint64 k = 0; k < static_cast<qint64>(photos_.size()); ++k) {
        Photo& photo = photos_[static_cast<size_t>(k)];
        const bool inside = k >= window.first && k < window.end;
        if (!inside) {
            // Memory follows the window, not the folder.
            if (!photo.isPlaceholder()) {
                photo = Photo(QImage(), kLoadingIdentifier);
                photo.setImageVersion();
            }
            continue;
        }
        if (!photo.isPlaceholder() || !nodes_[static_cast<size_t>(k)])
            continue;
        photo.setName(QString::fromStdString(nodes_[static_cast<size_t>(k)]->name()));
        jobs.push_back({k, nodes_[static_cast<size_t>(k)]});
    }
    state_.store(kLoaderRunning);
    thread_ = std::jthread([this, jobs = std::move(jobs), generation = generation_,
                            runId = ++runId_](std::stop_token stop) mutable {
        run(stop, std::move(jobs), generation, runId);
    });
}

void VKPhotoLoader::stop() {
    int running = kLoaderRunning;
    state_.compare_exchange_strong(running, kLoaderStopRequested);
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
    if (state_.load() == kLoaderStopRequested)
        state_.store(kLoaderStopped);
}

void VKPhotoLoader::run(std::stop_token stop, std::vector<Job> jobs, quint64 generation,
                        quint64 runId) {
    LowerThreadPriority();
    for (const Job& job : jobs) {
        if (stop.stop_requested() || state_.load() != kLoaderRunning)
            break;
        QImage image = DecodePicture(source_(job.node, stop));
        if (stop.stop_requested())
            continue;
        // Without a picture (a song, a damaged photo) the item still leaves
        // its placeholder: the main thread gives it its type's icon.
        post({generation, runId, job.index, std::move(image)});
    }
    int expected = kLoaderRunning;
    // A stopped loader has not finished: whoever stopped it started over.
    if (!state_.compare_exchange_strong(expected, kLoaderStopped))
        return;
    post({generation, runId, -1, QImage()});
}

void VKPhotoLoader::post(Delivery delivery) {
    if (inbox_.put(std::move(delivery)))
        QMetaObject::invokeMethod(this, "takeDeliveries", Qt::QueuedConnection);
}

void VKPhotoLoader::takeDeliveries() {
    for (const Delivery& delivery : inbox_.take())
        deliver(delivery);
}

void VKPhotoLoader::deliver(const Delivery& delivery) {
    if (delivery.index < 0) {
        if (delivery.runId == runId_)
            emit finished();
        return;
    }
    const quint64 generation = delivery.generation;
    const qint64 index = delivery.index;
    const QImage& image = delivery.image;
    // A picture of an earlier folder, or for an item already let go.
    if (generation != generation_ || index < window_.first || index >= window_.end)
        return;
    Photo* photo = photoAt(index);
    if (photo == nullptr || !photo->isPlaceholder())
        return;
    if (image.isNull()) {
        const OpNodePtr& node = nodes_[static_cast<size_t>(index)];
        const QString icon =
            FileTypeIconName(node ? QString::fromStdString(node->name()) : QString());
        photo->setImageRepresentation(ui::ImageRegistry::Pixmap(icon, kTypeIconSize).toImage());
        photo->setImageUID(QStringLiteral("icon:") + icon);
    } else {
        photo->setImageRepresentation(image);
        photo->setImageUID(QUuid::createUuid().toString(QUuid::WithoutBraces));
    }
    photo->setImageVersion();
    emit photoLoaded(index);
}

}  // namespace velmora::browser
