#include "MovToImag.h"

#include <utility>

MovToImag::MovToImag(std::shared_ptr<velmora::ui::IMovieFrameSource> source)
    : source_(std::move(source)) {}

void MovToImag::ExcuteInMainThread() {
    execute_ = false;
    image_ = source_ ? source_->PosterFrame(movPath_) : QImage();
}
