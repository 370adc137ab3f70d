// The picture button of every window (Back, Next, Scan, Recover, Pause...):
// four pictures by name for its resting, pressed, hover and unusable states,
// and an optional centred label over the picture.
//
// Two flags say whether it can be used: the widget's own enabled state
// (title-bar windows switch it with their activity) and the button's usable
// flag (setButtonEnabled, the window controllers' switch). Either one off
// draws the unusable picture; only the usable flag makes clicks go nowhere.
// Buttons take no keyboard focus unless their window gives them a focus
// policy; a focused button is drawn with a ring.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QRect>

class TCImageButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit TCImageButton(QWidget* parent = nullptr);
    explicit TCImageButton(const QRect& frame, QWidget* parent = nullptr);

    void setImageFromFileNormalName(const QString& normal, const QString& active,
                                    const QString& hover, const QString& disable);
    // Draws the picture into the given rectangle less 4 points of width and
    // puts a centred label 2 points above the button's middle.
    void setTextWithName(const QString& text, const QRect& frame);
    void setButtonEnabled(bool usable);
    void setButtonClicked(bool pressed);
    bool isFocus() const { return isFocus_; }
    void setIsFocus(bool focus) { isFocus_ = focus; }
    bool isButtonUsable() const { return isDisabled_; }
    // The corner radius of the focus ring: the picture's own (8 unless set).
    void setFocusRingRadius(qreal radius) { focusRingRadius_ = radius; }

    // The name of the picture drawn now (empty when the button looks like a
    // plain system button or the state has no picture).
    QString currentImageName() const;
    QLabel* textField() const { return textField_; }
    QRect dstRect() const { return dstRect_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    // With a focus policy set (the wizard's buttons), Return, Enter and the
    // space bar click a usable button and do nothing to an unusable one;
    // keys it does not use go on to the window.
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    enum State { Normal, Active, Hover, Disable };
    State currentState() const;
    void updateLabelColour();

    QString names_[4];
    QPixmap images_[4];
    QPointer<QLabel> textField_;
    bool isTracking_ = false;
    bool isFocus_ = false;
    bool isDisabled_ = true;  // true: usable
    QRect dstRect_;
    QRect srcRect_;
    qreal focusRingRadius_ = 8;
};
