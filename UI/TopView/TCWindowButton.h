// A picture button that stands in for a window's close, minimise, zoom or
// full-screen button: one picture while its window is active, one while the
// window is not the active one, one when disabled and one under the pointer.
#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QString>

class TCWindowButtonGroup;

class TCWindowButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class Shown { None, Active, ActiveNotKeyWindow, Inactive, Rollover };

    TCWindowButton(const QSize& size, const QString& groupIdentifier, QWidget* parent = nullptr);
    static TCWindowButton* windowButtonWithSize(const QSize& size, const QString& groupIdentifier,
                                                QWidget* parent = nullptr);

    const QString& groupIdentifier() const { return groupIdentifier_; }
    TCWindowButtonGroup* group() const;

    // Setters only store; the picture changes at the next state change.
    void setActiveImage(const QPixmap& image) { activeImage_ = image; }
    void setActiveNotKeyWindowImage(const QPixmap& image) { activeNotKeyWindowImage_ = image; }
    void setInactiveImage(const QPixmap& image) { inactiveImage_ = image; }
    void setRolloverImage(const QPixmap& image) { rolloverImage_ = image; }
    void setPressedImage(const QPixmap& image) { pressedImage_ = image; }
    const QPixmap& activeImage() const { return activeImage_; }
    const QPixmap& activeNotKeyWindowImage() const { return activeNotKeyWindowImage_; }
    const QPixmap& inactiveImage() const { return inactiveImage_; }
    const QPixmap& rolloverImage() const { return rolloverImage_; }
    const QPixmap& pressedImage() const { return pressedImage_; }

    // Which picture the button shows now.
    Shown shown() const { return shown_; }

    void updateImage();
    void updateActiveImage();
    void updateRollOverImage();

    // Full screen hides the window's buttons and forgets the pointer.
    void windowWillEnterFullScreen();
    void windowWillExitFullScreen();

    QSize sizeHint() const override { return size_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void showImage(Shown which);

    QString groupIdentifier_;
    QSize size_;
    QPixmap activeImage_, activeNotKeyWindowImage_, inactiveImage_, rolloverImage_, pressedImage_;
    Shown shown_ = Shown::None;
};
