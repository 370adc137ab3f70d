// What the recovery needs of the results browser: its window (for the
// sheets), its bottom bar (count, size, the Recover button), its selected
// tree tab and that tab's root array. The browser implements it.
#pragma once

#include <cstdint>
#include <vector>

#include <QString>

#include "OpNodeData.h"

class QWidget;

namespace velmora::browser {

class VKRecoverHost {
public:
    virtual ~VKRecoverHost() = default;
    virtual QWidget* browserWindow() = 0;
    // A scan runs and is not paused: the counts wait until it stops.
    virtual bool isScanRunningUnpaused() = 0;
    // The selected tree tab: 0 path, 1 file type, 2 created, 3 modified.
    virtual int64_t selectTypeCount() = 0;
    // The root array of tree kind 0 to 3.
    virtual std::vector<OpNodePtr>* rootArray(int kind) = 0;
    virtual void setRecoverButtonEnabled(bool enabled) = 0;
    virtual void setSelectFilesText(const QString& text) = 0;
};

}  // namespace velmora::browser
