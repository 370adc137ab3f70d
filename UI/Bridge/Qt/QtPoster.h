// The program's main-thread poster: tasks travel through Qt's event queue
// of the thread that made the poster (the GUI thread), as queued calls.
#pragma once

#include <QObject>

#include "MainThread.h"

namespace velmora::bridge {

class QtPoster final : public IMainThreadPoster {
public:
    // Make it on the thread whose event loop is to run the tasks.
    QtPoster();
    void Post(std::function<void()> task) override;

private:
    // Lives on the making thread; queued calls to it run there.
    QObject m_receiver;
};

}  // namespace velmora::bridge
