#include "QtThumbnailer.h"

#include <QIcon>
#include <QImageReader>
#include <QMimeDatabase>
#include <QProcess>
#include <QStringList>

#include <memory>

namespace velmora::bridge {

namespace {

ThumbnailImage Wrap(QImage image) {
    ThumbnailImage out;
    if (image.isNull())
        return out;
    out.width = image.width();
    out.height = image.height();
    out.image = std::make_shared<const QImage>(std::move(image));
    return out;
}

QImage Fit(const QImage& image, int side) {
    if (image.isNull() || (image.width() <= side && image.height() <= side))
        return image;
    return image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

}  // namespace

QtThumbnailer::QtThumbnailer(QString ffmpeg, std::chrono::milliseconds frameTimeout)
    : ffmpeg_(std::move(ffmpeg)), frameTimeout_(frameTimeout) {}

ThumbnailImage QtThumbnailer::DecodePicture(const char* data, size_t size) {
    if (data == nullptr || size == 0 || size > static_cast<size_t>(INT_MAX))
        return {};
    return Wrap(QImage::fromData(reinterpret_cast<const uchar*>(data), static_cast<int>(size)));
}

QImage QtThumbnailer::MovieFrame(const QString& path) const {
    if (ffmpeg_.isEmpty())
        return {};
    // An argument vector, never a shell line: the path is one argument
    // whatever it holds, and "--" cannot be mistaken for an option.
    QProcess process;
    process.setProgram(ffmpeg_);
    process.setArguments({QStringLiteral("-nostdin"), QStringLiteral("-loglevel"),
                          QStringLiteral("error"), QStringLiteral("-i"),
                          QStringLiteral("file:") + path, QStringLiteral("-frames:v"),
                          QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("image2pipe"),
                          QStringLiteral("-vcodec"), QStringLiteral("png"), QStringLiteral("-")});
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    const int timeout = static_cast<int>(frameTimeout_.count());
    if (!process.waitForStarted(timeout))
        return {};
    if (!process.waitForFinished(timeout)) {
        process.kill();
        process.waitForFinished(timeout);
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return QImage::fromData(process.readAllStandardOutput(), "PNG");
}

ThumbnailImage QtThumbnailer::ThumbnailOfFile(const std::string& path) {
    const QString file = QString::fromStdString(path);
    QImageReader reader(file);
    reader.setAutoTransform(true);
    QImage image;
    if (reader.canRead())
        image = reader.read();
    if (image.isNull())
        image = MovieFrame(file);
    return Wrap(Fit(image, kThumbnailSide));
}

ThumbnailImage QtThumbnailer::IconForExtension(const std::string& extension) {
    QMimeDatabase mimes;
    const QMimeType type = mimes.mimeTypeForFile(
        QStringLiteral("file.") + QString::fromStdString(extension), QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(QStringLiteral("text-x-generic"));
    return Wrap(icon.pixmap(64, 64).toImage());
}

QImage QtThumbnailer::ToQImage(const ThumbnailImage& image) {
    const auto* q = static_cast<const QImage*>(image.image.get());
    return q != nullptr ? *q : QImage();
}

}  // namespace velmora::bridge
