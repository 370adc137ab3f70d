// The results browser's file pane as the window hosts it: the three view
// modes (list, thumbnail grid, cover flow over its table) with the grid's
// and the cover flow's picture loaders, kept on the files the list shows.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

#include "Browser/FileViewModes.h"
#include "Browser/ResultFilePane.h"
#include "Browser/VKPhotoLoader.h"

class CNGridView;
class QScrollArea;

namespace velmora::browser {

class FileListPane;
class VKCoverFlowMode;
class VKCoverFlowView;
class VKGridMode;

class VKResultFilePane : public QObject, public IResultFilePane {
    Q_OBJECT

public:
    // `source` null: pictures come from the bridge.
    explicit VKResultFilePane(ImageSource source = {}, QObject* parent = nullptr);
    ~VKResultFilePane() override;

    QWidget* widget() override;
    void selectOutlineListWithOpNodeData(const OpNodePtr& node, bool refreshSizeAndCount) override;
    void stopImageLoading() override;
    void selectListMode() override;
    void setSegmentEnabled(bool enabled) override;
    void showFiles(std::vector<IFileNode*> files) override;
    void clearFiles() override;
    void setTreeKind(int kind) override;
    void setTreeRoots(int kind, std::vector<OpNodePtr>* roots) override;
    void showNoValueNote() override;
    void windowDidResize() override;

    FileViewModes* modes() const { return modes_; }
    FileListPane* list() const;
    CNGridView* grid() const { return grid_; }
    VKGridMode* gridMode() const { return gridMode_.get(); }
    VKCoverFlowView* coverFlow() const { return flow_; }
    VKCoverFlowMode* coverFlowMode() const { return flowMode_.get(); }

signals:
    // A file was ticked or unticked in any mode: the totals and the trees'
    // marks are worked out again.
    void ticksChanged();
    // The trees redraw their marks.
    void outlinesNeedReload();

private:
    int mode() const;
    std::vector<OpNodePtr> rowNodes() const;
    void refillGrid();
    void refillCoverFlow(bool refresh);
    void refillShownMode();

    QPointer<FileViewModes> modes_;
    QScrollArea* gridArea_ = nullptr;
    CNGridView* grid_ = nullptr;
    VKCoverFlowView* flow_ = nullptr;
    std::unique_ptr<VKGridMode> gridMode_;
    std::unique_ptr<VKCoverFlowMode> flowMode_;
};

}  // namespace velmora::browser
