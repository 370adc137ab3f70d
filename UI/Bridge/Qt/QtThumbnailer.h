// The thumbnailer of the program over Qt: pictures decoded by QImage (with
// the image plugins Debian has: TIFF, WebP, PSD and raw where installed),
// a movie's first frame through the ffmpeg program, icons from the theme.
// ffmpeg reads bytes of the scanned disk: it is told the format, may open
// nothing but the one file, and runs as the user who started the program
// (or "nobody"), never as root.
#pragma once

#include <QImage>
#include <QString>

#include <sys/types.h>

#include <chrono>

#include "VKUIThumbnail.h"

namespace velmora::bridge {

class QtThumbnailer final : public IThumbnailer {
public:
    // The longest side of a thumbnail of a file.
    static constexpr int kThumbnailSide = 192;
    // `ffmpeg` is the program that takes movie frames; empty: none.
    explicit QtThumbnailer(QString ffmpeg = QStringLiteral("ffmpeg"),
                           std::chrono::milliseconds frameTimeout = std::chrono::seconds(10));

    ThumbnailImage DecodePicture(const char* data, size_t size) override;
    ThumbnailImage ThumbnailOfFile(const std::string& path) override;
    ThumbnailImage IconForExtension(const std::string& extension) override;

    // The QImage inside an image this thumbnailer made (null otherwise).
    static QImage ToQImage(const ThumbnailImage& image);

    // The ffmpeg demuxer of a file by its extension; empty for a kind
    // ffmpeg is not asked about.
    static QString FrameFormatFor(const QString& path);
    // The user ffmpeg runs as when the program runs as root: the invoking
    // user, else "nobody". False when the program is not root (ffmpeg then
    // runs as the program's own user) or no such user exists.
    static bool FrameUser(uid_t* uid, gid_t* gid);

private:
    QImage MovieFrame(const QString& path) const;

    QString ffmpeg_;
    std::chrono::milliseconds frameTimeout_;
};

}  // namespace velmora::bridge
