#include "MovieFrameSource.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QThreadPool>
#include <cstdlib>
#include <utility>

namespace velmora::ui {

namespace {

// A folder only this process can reach, removed with everything in it.
class PrivateFolder {
public:
    PrivateFolder() {
        QByteArray pattern =
            QFile::encodeName(QDir::tempPath() + QStringLiteral("/velmora-poster-XXXXXX"));
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = QFile::decodeName(pattern);
        }
    }
    ~PrivateFolder() {
        if (!path_.isEmpty()) {
            QDir(path_).removeRecursively();
        }
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    QString path() const { return path_; }

private:
    QString path_;
};

std::shared_ptr<IMovieFrameSource>& Installed() {
    static std::shared_ptr<IMovieFrameSource> source;
    return source;
}

QMutex& InstalledLock() {
    static QMutex lock;
    return lock;
}

}  // namespace

FfmpegFrameSource::FfmpegFrameSource(QString program, int timeoutMs)
    : program_(std::move(program)), timeoutMs_(timeoutMs) {}

QImage FfmpegFrameSource::PosterFrame(const QString& moviePath) {
    const QFileInfo movie(moviePath);
    if (moviePath.isEmpty() || !movie.isFile()) {
        return {};
    }
    const QString program =
        program_.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("ffmpeg")) : program_;
    if (program.isEmpty()) {
        return {};
    }
    PrivateFolder folder;
    if (folder.path().isEmpty()) {
        return {};
    }
    const QString frame = folder.path() + QStringLiteral("/frame.png");
    QProcess ffmpeg;
    ffmpeg.setProgram(program);
    // "file:" keeps any name a local file (never an option, a protocol or
    // a device), and the whitelist keeps a playlist among the found files
    // from reaching the network.
    ffmpeg.setArguments({QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"),
                         QStringLiteral("-loglevel"), QStringLiteral("error"),
                         QStringLiteral("-protocol_whitelist"), QStringLiteral("file"),
                         QStringLiteral("-i"), QStringLiteral("file:") + movie.absoluteFilePath(),
                         QStringLiteral("-an"), QStringLiteral("-sn"), QStringLiteral("-frames:v"),
                         QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("image2"),
                         QStringLiteral("-y"), frame});
    ffmpeg.setStandardInputFile(QProcess::nullDevice());
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    ffmpeg.start();
    if (!ffmpeg.waitForStarted()) {
        return {};
    }
    // A damaged file must not keep a thumbnail busy for ever.
    if (!ffmpeg.waitForFinished(timeoutMs_)) {
        ffmpeg.kill();
        ffmpeg.waitForFinished();
        return {};
    }
    if (ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0) {
        return {};
    }
    return QImage(frame);
}

std::shared_ptr<IMovieFrameSource> CurrentMovieFrameSource() {
    QMutexLocker locker(&InstalledLock());
    if (!Installed()) {
        Installed() = std::make_shared<FfmpegFrameSource>();
    }
    return Installed();
}

void SetMovieFrameSource(std::shared_ptr<IMovieFrameSource> source) {
    QMutexLocker locker(&InstalledLock());
    Installed() = std::move(source);
}

void PosterFrameLater(std::shared_ptr<IMovieFrameSource> source, const QString& moviePath,
                      QObject* context, std::function<void(const QImage&)> done) {
    QPointer<QObject> guard(context);
    QThreadPool::globalInstance()->start(
        [source = std::move(source), moviePath, guard, done = std::move(done)] {
            QImage image = source ? source->PosterFrame(moviePath) : QImage();
            // The application object outlives every window: the context is
            // looked at only on its own thread.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, done, image = std::move(image)] {
                    if (guard != nullptr) {
                        done(image);
                    }
                },
                Qt::QueuedConnection);
        });
}

}  // namespace velmora::ui
