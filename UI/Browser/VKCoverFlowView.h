// The cover flow: the pictures of a folder side by side, the selected one
// facing the viewer and the others turned away on either side, sliding when
// the selection moves. Items come from a data source; the view keeps only
// scaled copies of the few pictures it draws.
#pragma once

#include <QHash>
#include <QPixmap>
#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>

#include "VKPhotoLoader.h"

namespace velmora::browser {

class VKCoverFlowView;

class VKImageFlowDataSource {
public:
    virtual ~VKImageFlowDataSource() = default;
    virtual qint64 numberOfItemsInImageFlow(VKCoverFlowView* view) = 0;
    // Null when there is no item at index.
    virtual const Photo* imageFlowItemAtIndex(VKCoverFlowView* view, qint64 index) = 0;
};

class VKImageFlowDelegate {
public:
    virtual ~VKImageFlowDelegate() = default;
    virtual void imageFlowDidSelectItemAtIndex(VKCoverFlowView* view, qint64 index) = 0;
};

class VKCoverFlowView : public QWidget {
    Q_OBJECT
    // How many items still wait for their picture (read by drivers of the
    // windows, who cannot see the pictures).
    Q_PROPERTY(qint64 placeholderCount READ placeholderCount)

public:
    explicit VKCoverFlowView(QWidget* parent = nullptr);
    ~VKCoverFlowView() override;

    void setDataSource(VKImageFlowDataSource* dataSource) { dataSource_ = dataSource; }
    void setDelegate(VKImageFlowDelegate* delegate) { delegate_ = delegate; }

    qint64 selectedIndex() const { return selectedIndex_; }
    // Slides to index (clamped to the items); the delegate is not told.
    void setSelectedIndex(qint64 index);
    // Asks the data source again for the count and forgets every picture.
    void reloadData();
    void reloadCellDataAtIndex(qint64 index);
    qint64 itemsCount() const { return itemsCount_; }
    qint64 placeholderCount() const;

    // Where the slide is: the index facing the viewer, fractional while
    // sliding.
    double position() const { return position_; }
    // The item drawn at a point of the view, or -1.
    qint64 indexAt(const QPoint& point) const;
    // Where the picture of index is drawn (empty when it is not).
    QPolygonF itemOutline(qint64 index) const;
    // How many items are drawn on each side of the front one.
    static constexpr int kSideItems = 6;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    struct Cached {
        QString uid;
        // The picture with its reflection under it: one transformed
        // drawing per item.
        QPixmap picture;
        QSize pictureSize;
    };
    struct Placement {
        qint64 index;
        double offset;
        QTransform transform;
        QRectF rect;
    };
    // The user picked index: slide there and tell the delegate.
    void userSelect(qint64 index);
    double coverSide() const;
    std::vector<Placement> placements() const;
    const Cached* cachedFor(qint64 index, const Photo& photo);
    void drawItem(QPainter& painter, const Placement& placement);

    VKImageFlowDataSource* dataSource_ = nullptr;
    VKImageFlowDelegate* delegate_ = nullptr;
    qint64 itemsCount_ = 0;
    qint64 selectedIndex_ = 0;
    double position_ = 0;
    QVariantAnimation slide_;
    QHash<qint64, Cached> cache_;
};

}  // namespace velmora::browser
