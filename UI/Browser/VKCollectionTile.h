// The tile of the collection-view variant of the grid: a file's thumbnail,
// its name, a check box that ticks it for recovery and a mark when it is
// deleted, on a background that lights up under the pointer. The item
// owning a tile answers its questions and passes tick changes on to the
// browser.
#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include "OpNodeData.h"

namespace velmora::browser {

class BVViewDelegate {
public:
    virtual ~BVViewDelegate() = default;
    virtual void reLoadItemData() {}
};

class BVView : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize kSize{120, 100};

    // Keeps the origin of `frame`; the size is always the tile's.
    explicit BVView(const QRect& frame = {}, QWidget* parent = nullptr);

    const OpNodePtr& listData() const { return listData_; }
    void setListData(OpNodePtr node) { listData_ = std::move(node); }
    QLabel* bgImageView() const { return bgImageView_; }
    QLabel* imageView() const { return imageView_; }
    QLabel* deleteIamgeView() const { return deleteIamgeView_; }
    QPushButton* button() const { return button_; }
    QLabel* titleLabel() const { return titleLabel_; }
    // The names of the pictures shown now.
    QString backgroundName() const { return backgroundName_; }
    QString buttonImageName() const { return buttonImageName_; }
    void setButtonImageName(const QString& name);
    void setDelegate(BVViewDelegate* delegate) { delegate_ = delegate; }

    // The check box's action: ticks or unticks the file unless a scan runs.
    void changeButtonState();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setBackground(const QString& name);

    OpNodePtr listData_;
    QLabel* bgImageView_;
    QLabel* imageView_;
    QLabel* deleteIamgeView_;
    QPushButton* button_;
    QLabel* titleLabel_;
    QString backgroundName_;
    QString buttonImageName_;
    BVViewDelegate* delegate_ = nullptr;
};

class BVPrototypeDelegate {
public:
    virtual ~BVPrototypeDelegate() = default;
    // How many tiles the browser has loaded so far.
    virtual unsigned viewLoadCnt() const = 0;
    virtual void reLoadCollectionViewData() {}
};

// One item of the collection view.
class BVPrototype : public QObject, public BVViewDelegate {
    Q_OBJECT

public:
    explicit BVPrototype(QObject* parent = nullptr);
    ~BVPrototype() override;

    void setDelegate(BVPrototypeDelegate* delegate) { delegate_ = delegate; }
    // Gives the item its tile: the one shared tile until the browser has
    // loaded tiles, then one of its own.
    void loadView();
    BVView* view() const { return view_; }
    // Shows `node` in the tile.
    void setRepresentedObject(const OpNodePtr& node);
    void reLoadItemData() override;

    // The tile every item starts with.
    static BVView* SharedView();

private:
    BVPrototypeDelegate* delegate_ = nullptr;
    QPointer<BVView> view_;
    bool ownsView_ = false;
};

}  // namespace velmora::browser
