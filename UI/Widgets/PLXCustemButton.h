// A category button of the file-type page: an icon, an optional title with a
// second line under it, a light background under the pointer and a selected
// state (the initial one) that shows the hover icon. A click toggles the
// selection before the action is sent.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QPixmap>
#include <QPointer>

class PLXCustemButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit PLXCustemButton(QWidget* parent = nullptr);

    void setIconImage(const QString& iconName, const QString& hoverIconName);
    void setTitleStr(const QString& title, const QString& nodeStr);
    void setHoverBgImage();
    void changeButtonStart(bool selected);
    void setButtonEnabled(bool enabled);

    bool isFocus() const { return isFocus_; }
    void setIsFocus(bool focus) { isFocus_ = focus; }
    bool isSelected() const { return isSelected_; }
    void setIsSelected(bool selected) { isSelected_ = selected; }
    qint32 buttonTag() const { return buttonTag_; }
    void setButtonTag(qint32 tag) { buttonTag_ = tag; }
    bool isButtonEnabled() const { return isDisabled_; }

    void setDisableImage(const QPixmap& image) { disableImage_ = image; }

    // Names of the icon shown and of the background drawn now (empty: none).
    QString shownIconName() const { return shownIconName_; }
    QString backgroundImageName() const;

    QLabel* iconImageView() const { return iconImageView_; }
    QLabel* titleTextField() const { return titleTextField_; }
    QLabel* nodeTextField() const { return nodeTextField_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void showIcon(bool hover);
    const QPixmap* background() const;

    QPixmap normalImage_, hoverImage_, disableImage_;
    QPixmap iconImage_, iconHoverImage_;
    QString iconName_, iconHoverName_, shownIconName_;
    QLabel* iconImageView_;
    QPointer<QLabel> titleTextField_, nodeTextField_;
    bool isFocus_ = false;
    bool isDisabled_ = true;  // true: enabled
    bool isSelected_ = true;
    bool hoverSetUp_ = false;
    QRect dstRect_, srcRect_;
    qint32 buttonTag_ = 0;
};
