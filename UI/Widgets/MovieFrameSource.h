// Poster frames of movie files: a frame of the movie as an image, made by
// Debian's ffmpeg run with an argument vector into a private folder of its
// own. Making one reads and decodes the file and may take long: it blocks
// its caller, so the interface asks for it off its own thread.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace velmora::ui {

class IMovieFrameSource {
public:
    virtual ~IMovieFrameSource() = default;
    // The movie's first frame; an empty image when the file is no movie
    // the thumbnailer can read.
    virtual QImage PosterFrame(const QString& moviePath) = 0;
};

class FfmpegFrameSource final : public IMovieFrameSource {
public:
    // program: the ffmpeg to run (found on the search path when empty).
    explicit FfmpegFrameSource(QString program = {}, int timeoutMs = 20000);
    QImage PosterFrame(const QString& moviePath) override;

private:
    QString program_;
    int timeoutMs_;
};

// The source the program uses (ffmpeg unless replaced).
std::shared_ptr<IMovieFrameSource> CurrentMovieFrameSource();
void SetMovieFrameSource(std::shared_ptr<IMovieFrameSource> source);

// Makes the poster frame on a thread of Qt's pool; done then runs on the
// main thread, unless context (an object of the main thread) was destroyed
// meanwhile.
void PosterFrameLater(std::shared_ptr<IMovieFrameSource> source, const QString& moviePath,
                      QObject* context, std::function<void(const QImage&)> done);

}  // namespace velmora::ui
