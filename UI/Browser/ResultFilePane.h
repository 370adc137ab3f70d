// The right side of the results browser: the files of the folder chosen in a
// tree (list, grid or cover flow). The browser hosts whatever pane it is
// given in its slot and tells it each choice.
#pragma once

#include "OpNodeData.h"

class QWidget;

namespace velmora::browser {

class IResultFilePane {
public:
    virtual ~IResultFilePane() = default;
    // The pane's view; the browser puts it into its slot and keeps it.
    virtual QWidget* widget() = 0;
    // The folder chosen in a tree (null: none); `refreshSizeAndCount` when
    // tick marks changed, so the ticked totals are worked out again.
    virtual void selectOutlineListWithOpNodeData(const OpNodePtr& node,
                                                 bool refreshSizeAndCount) = 0;
};

}  // namespace velmora::browser
