// The poster frame of one movie file as an image: a standing facility for
// thumbnails of movies (the grid and the preview show them).
#pragma once

#include <QImage>
#include <QString>
#include <memory>

#include "Widgets/MovieFrameSource.h"

class MovToImag {
public:
    explicit MovToImag(std::shared_ptr<velmora::ui::IMovieFrameSource> source =
                           velmora::ui::CurrentMovieFrameSource());

    QString m_strMovPath() const { return movPath_; }
    void setM_strMovPath(const QString& path) { movPath_ = path; }
    // Kept for the caller; not used here.
    QString m_strDestPath() const { return destPath_; }
    void setM_strDestPath(const QString& path) { destPath_ = path; }
    // Whether the work is still pending.
    bool m_bExecute() const { return execute_; }
    QImage m_pImage() const { return image_; }
    void setM_pImage(const QImage& image) { image_ = image; }

    // Takes the movie's poster frame into m_pImage (empty when the file
    // cannot be read as a movie). It runs the thumbnailer and waits for
    // it: call it off the interface's thread.
    void ExcuteInMainThread();

private:
    std::shared_ptr<velmora::ui::IMovieFrameSource> source_;
    QString movPath_;
    QString destPath_;
    bool execute_ = true;
    QImage image_;
};
