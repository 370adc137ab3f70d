#include "QtThumbnailer.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QIcon>
#include <QImageReader>
#include <QMimeDatabase>
#include <QProcess>
#include <QStringList>

#include <memory>
#include <vector>

#include "platform/desktop/InvokingUser.h"

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

QString QtThumbnailer::FrameFormatFor(const QString& path) {
    // The demuxer is named by the file's kind: ffmpeg never guesses from
    // bytes of the scanned disk, which could make a playlist or a list of
    // other files out of them.
    static const struct {
        const char* extension;
        const char* format;
    } kFormats[] = {
        {"mov", "mov"},       {"mp4", "mov"},       {"m4v", "mov"},       {"avi", "avi"},
        {"psd", "psd_pipe"},  {"cr2", "tiff_pipe"}, {"dng", "tiff_pipe"}, {"dcr", "tiff_pipe"},
        {"arw", "tiff_pipe"}, {"sr2", "tiff_pipe"}, {"rw2", "tiff_pipe"},
    };
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || path.indexOf(QLatin1Char('/'), dot) >= 0)
        return {};
    const QString extension = path.mid(dot + 1).toLower();
    for (const auto& f : kFormats) {
        if (extension == QLatin1String(f.extension))
            return QString::fromLatin1(f.format);
    }
    return {};
}

bool QtThumbnailer::FrameUser(uid_t* uid, gid_t* gid) {
    if (::geteuid() != 0)
        return false;
    if (auto user = platform::FindInvokingUser(); user && user->uid != 0) {
        *uid = user->uid;
        *gid = user->gid;
        return true;
    }
    // Root started directly: the program still does not decode disk bytes
    // as root.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd pw {};
    struct passwd* found = nullptr;
    if (::getpwnam_r("nobody", &pw, buf.data(), buf.size(), &found) != 0 || found == nullptr ||
        found->pw_uid == 0)
        return false;
    *uid = found->pw_uid;
    *gid = found->pw_gid;
    return true;
}

QImage QtThumbnailer::MovieFrame(const QString& path) const {
    if (ffmpeg_.isEmpty())
        return {};
    const QString format = FrameFormatFor(path);
    if (format.isEmpty())
        return {};
    // The file is opened here and handed to ffmpeg as an open descriptor:
    // the program runs as root and ffmpeg does not, so it could not reach
    // the private folder the file lies in.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return {};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {};
    }
    uid_t uid = 0;
    gid_t gid = 0;
    const bool dropRights = FrameUser(&uid, &gid);
    // ffmpeg reopens the descriptor through /proc as that user; the file is
    // theirs for that while, in a folder only root can enter.
    if (dropRights && ::fchown(fd, uid, gid) != 0) {
        ::close(fd);
        return {};
    }
    // An argument vector, never a shell line: the path is one argument
    // whatever it holds. Only plain files may be opened (no network, no
    // other protocol a file could name), and the format is given.
    QProcess process;
    process.setProgram(ffmpeg_);
    process.setArguments({QStringLiteral("-nostdin"), QStringLiteral("-loglevel"),
                          QStringLiteral("error"), QStringLiteral("-protocol_whitelist"),
                          QStringLiteral("file"), QStringLiteral("-f"), format,
                          QStringLiteral("-i"), QStringLiteral("file:/proc/self/fd/%1").arg(fd),
                          QStringLiteral("-frames:v"), QStringLiteral("1"), QStringLiteral("-f"),
                          QStringLiteral("image2pipe"), QStringLiteral("-vcodec"),
                          QStringLiteral("png"), QStringLiteral("-")});
    process.setStandardInputFile(QProcess::nullDevice());
    // In the child, before ffmpeg runs: keep the file open across the exec
    // and give up root for good; a child that cannot do either never runs
    // ffmpeg. Only calls that are safe after fork.
    process.setChildProcessModifier([fd, dropRights, uid, gid] {
        if (::fcntl(fd, F_SETFD, 0) != 0)
            ::_exit(127);
        if (!dropRights)
            return;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 ||
            ::setresuid(uid, uid, uid) != 0 || ::setuid(0) == 0)
            ::_exit(127);
    });
    process.start();
    ::close(fd);
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
