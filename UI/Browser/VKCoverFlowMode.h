// The cover-flow mode of the results browser's file pane: the flow view's
// data source and delegate over the pane's files, and its picture loader.
// The file table under the flow follows the selection through rowSelected.
#pragma once

#include <QObject>

#include "VKCoverFlowView.h"
#include "VKPhotoLoader.h"

namespace velmora::browser {

class VKCoverFlowMode : public QObject, public VKImageFlowDataSource, public VKImageFlowDelegate {
    Q_OBJECT

public:
    VKCoverFlowMode(VKCoverFlowView* view, ImageSource source, QObject* parent = nullptr);
    ~VKCoverFlowMode() override;

    // The pane's files changed: placeholders for all of them, the flow at
    // its first item when `refresh` is set (else where it was), and the
    // loader started there.
    void showCoverFlowerViewWithRefresh(std::vector<OpNodePtr> nodes, bool refresh);
    // Selects index in the flow and loads the pictures around it.
    void selectedCoverFlow(qint64 index);
    void stopImageLoading() { loader_.stop(); }

    VKPhotoLoader& loader() { return loader_; }
    VKCoverFlowView* view() const { return view_; }
    qint64 flowSelectedIndex() const { return flowSelectedIndex_; }

    qint64 numberOfItemsInImageFlow(VKCoverFlowView* view) override;
    const Photo* imageFlowItemAtIndex(VKCoverFlowView* view, qint64 index) override;
    void imageFlowDidSelectItemAtIndex(VKCoverFlowView* view, qint64 index) override;

signals:
    // The tables under the flow scroll to this row and select it.
    void rowSelected(qint64 row);

private:
    VKCoverFlowView* view_;
    VKPhotoLoader loader_;
    qint64 flowSelectedIndex_ = -1;
};

}  // namespace velmora::browser
