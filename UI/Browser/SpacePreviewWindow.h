// The quick preview of one file: a small title-bar window with the file's
// name in the bar and its picture (or the icon of its kind) below. The
// browser opens it on the space bar and closes it on the next one; its own
// close button closes it too. It is not run modally.
#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>

class QLabel;
#include "TopView/TCImageWindow.h"

namespace velmora::browser {

class SpacePreviewWindow : public QObject {
    Q_OBJECT

public:
    static constexpr double kTitleBarHeight = 20;
    static constexpr int kWidth = 480;
    static constexpr int kImageHeight = 360;

    explicit SpacePreviewWindow(QObject* parent = nullptr);
    ~SpacePreviewWindow() override;

    QString strName() const { return strName_; }
    void setStrName(const QString& name);
    QImage showImage() const { return showImage_; }
    void setShowImage(const QImage& image);

    // The window; made with the controller. Null once it was deleted.
    TCImageWindow* window() const { return aWindow_; }
    QLabel* titleLabel() const { return titleLabel_; }
    QLabel* imageView() const { return imageView_; }

    // Shows the window at the centre of the screen.
    void showCentred();
    // The close button's action: marks the window closed and closes it.
    void closeWindow();
    bool isClosed() const { return bClose_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void windowDidLoad();
    void markClosed();

    QImage showImage_;
    QString strName_;
    QPointer<TCImageWindow> aWindow_;
    QLabel* titleLabel_ = nullptr;
    QLabel* imageView_ = nullptr;
    bool bClose_ = false;
    bool closing_ = false;
};

}  // namespace velmora::browser
