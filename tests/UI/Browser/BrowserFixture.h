// A folder of result nodes whose pictures are the real sample pictures, read
// through the scripted bridge.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BridgeSeam/FakeBridge.h"
#include "Browser/VKPhotoLoader.h"
#include "support/TestNode.h"

namespace browser_test {

inline const std::vector<std::string>& SamplePictures() {
    static const std::vector<std::string> names = {
        "camera_pair.jpg", "crowded.jpg",    "dqt_first.jpg",     "exif_camera.jpg",
        "gray.jpg",        "interlaced.png", "jfif_baseline.jpg", "jfif_progressive.jpg",
        "motion.jpg",      "pair.jpg",       "picture.png"};
    return names;
}

inline std::string SamplePath(const std::string& name) {
    return std::string(VELMORA_SAMPLES_DIR) + "/" + name;
}

// `count` engine file nodes named "N.jpg", each a sample picture, and the fake bridge
// knowing them; the names in `withoutPicture` get no picture.
struct Folder {
    std::vector<std::unique_ptr<TestNode>> files;
    std::vector<OpNodePtr> nodes;

    Folder(velmora::seam::FakeBridge& bridge, int count, const std::string& prefix = "",
           std::vector<int> withoutPicture = {}) {
        for (int i = 0; i < count; ++i) {
            const std::string name = prefix + std::to_string(i) + ".jpg";
            files.push_back(std::make_unique<TestNode>(i + 100, 5, name));
            nodes.push_back(OpNodeData::initWithFileNode(files.back().get()));
            if (std::find(withoutPicture.begin(), withoutPicture.end(), i) == withoutPicture.end())
                bridge.pictureFiles[name] =
                    SamplePath(SamplePictures()[static_cast<size_t>(i) % SamplePictures().size()]);
        }
    }
};

inline velmora::browser::ImageSource SourceOf(velmora::seam::FakeBridge& bridge) {
    return [&bridge](const OpNodePtr& node, std::stop_token stop) {
        return bridge.GetNSImageByNode(node, stop);
    };
}

// Turns the event loop until `done` or the test's own time-out.
inline bool RunUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 20000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace browser_test
