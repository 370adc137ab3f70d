// The right side of the results browser: the files of the folder chosen in a
// tree (list, grid or cover flow). The browser hosts whatever pane it is
// given in its slot and tells it each choice.
#pragma once

#include <vector>

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

    // What the browser's controllers ask of the pane; a pane without view
    // modes or pictures ignores them.
    // Stops the cover-flow and grid picture loaders.
    virtual void stopImageLoading() {}
    // Switches to the list.
    virtual void selectListMode() {}
    // The view-mode control may be used (no deep scan adds nodes).
    virtual void setSegmentEnabled(bool enabled) { (void)enabled; }
    // Lists given files (a search's hits) instead of a tree node's.
    virtual void showFiles(std::vector<IFileNode*> files) { (void)files; }
    // Empties the list and the pictures and unticks everything.
    virtual void clearFiles() {}
    // The tree tab the browser shows (0 to 3), and the root array of each
    // (the browser's; the path tree's decides the empty notes).
    virtual void setTreeKind(int kind) { (void)kind; }
    virtual void setTreeRoots(int kind, std::vector<OpNodePtr>* roots) {
        (void)kind;
        (void)roots;
    }
    // Shows the empty notes when the listed folder has nothing while the
    // path tree has roots.
    virtual void showNoValueNote() {}
    // The window was resized.
    virtual void windowDidResize() {}
};

}  // namespace velmora::browser
