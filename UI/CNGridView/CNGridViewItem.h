// The grid item of one found file: a rounded tile with the file's
// thumbnail (at most 90 points a side), its name under it and a check box in
// the lower left corner that ticks the file for recovery. The thumbnail
// arrives late, from a loading thread, and lands only on an item that still
// shows the same file.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QStaticText>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "CNGridViewItemBase.h"
#include "CNGridViewItemLayout.h"
#include "Widgets/CellNode.h"

class CNGridViewItem;

class CNGridViewItemDelegate {
public:
    virtual ~CNGridViewItemDelegate() = default;
    // The check box of the item at index was clicked: the delegate changes
    // the node's tick state and what follows from it.
    virtual void doSelectItem(qint64 index) = 0;
};

// The check box: a picture by name, no bezel.
class CNGridItemCheckBox : public QAbstractButton {
    Q_OBJECT

public:
    explicit CNGridItemCheckBox(QWidget* parent = nullptr);
    void setImageName(const QString& name);
    QString imageName() const { return imageName_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString imageName_;
    QPixmap picture_;
};

// The name under the thumbnail, cut at its tail when too long. The cut
// text is laid out once per name and width, not at every paint of a scroll.
class CNGridItemTitleLabel : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString laidOutFor_;
    int laidOutWidth_ = -1;
    QStaticText laidOut_;
};

class CNGridViewItem : public CNGridViewItemBase {
    Q_OBJECT

public:
    explicit CNGridViewItem(QWidget* parent = nullptr);
    CNGridViewItem(const CNGridViewItemLayout* layout, const QString& reuseIdentifier);

    // Whether a scan is running and not paused: the check box is inert then.
    // Installed by the application; without one, the box always works.
    static void SetScanBusySource(std::function<bool()> source);

    bool useLayout() const { return useLayout_; }
    CNGridViewItemDelegate* delegate() const { return delegate_; }
    void setDelegate(CNGridViewItemDelegate* delegate) { delegate_ = delegate; }
    QImage itemImage() const { return itemImage_; }
    void setItemImage(const QImage& image);
    CNGridItemCheckBox* itemButton() const { return itemButton_; }
    CNGridItemTitleLabel* titleLabel() const { return titleLabel_; }
    QString itemTitle() const { return itemTitle_; }
    void setItemTitle(const QString& title) { itemTitle_ = title; }
    // The result node shown; compared by identity only (never read off the
    // main thread).
    velmora::ui::ICellNode* node() const { return node_.load(); }
    void setNode(velmora::ui::ICellNode* node) { node_.store(node); }
    const CNGridViewItemLayout* currentLayout() const { return currentLayout_; }
    void setCurrentLayout(const CNGridViewItemLayout* layout) { currentLayout_ = layout; }

    void setHovered(bool hovered) override;
    void setSelected(bool selected) override;
    void clearHovering() { setHovered(false); }
    void clearSelection() { setSelected(false); }
    void prepareForReuse() override;

    // The check box's action.
    void setItemSelectBoxClickAction();

    // A thumbnail for node, from any thread. Dropped when the item no longer
    // shows node, here or when it reaches the main thread; there it replaces
    // the picture when it is not empty. The caller keeps the item alive
    // during the call.
    void updateImageViewWithImage(const QImage& image, velmora::ui::ICellNode* node);
    // Main thread: takes the image when both sides are above 0.
    void refImageWithImage(const QImage& image);

    // Where the thumbnail is drawn, in the item's coordinates.
    QRectF imageRect() const;
    static QSizeF LimitedImageSize(const QSizeF& imageSize);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    static QImage TilePicture(const QSize& size, bool hovered, const QColor& ring, double ringWidth,
                              qreal ratio);
    void setUpSubviews();
    void takeLateImage();

    bool useLayout_ = false;
    CNGridViewItemDelegate* delegate_ = nullptr;
    QImage itemImage_;
    // The thumbnail at the size it is drawn, made once per picture.
    QImage drawnImage_;
    CNGridItemCheckBox* itemButton_ = nullptr;
    CNGridItemTitleLabel* titleLabel_ = nullptr;
    QString itemTitle_;
    std::atomic<velmora::ui::ICellNode*> node_{nullptr};
    const CNGridViewItemLayout* currentLayout_ = nullptr;

    // The late picture on its way to the main thread.
    std::mutex lateMutex_;
    bool latePending_ = false;
    QImage lateImage_;
    velmora::ui::ICellNode* lateNode_ = nullptr;
};
