// The window of every screen of the program: a frameless top-level window
// whose top is a tall white bar of its own. The bar holds the window's own
// close, minimise and zoom buttons, laid out from a left margin and centred
// (or top-aligned) in the bar, so the window looks and behaves the same with
// or without a window manager. Window controllers add their title label and
// picture buttons to titleBarView(); the content view fills the rest.
//
// Lengths are in points (device-independent pixels). The button layout is
// computed from the bar's bottom upwards, as the designs give it, and turned
// into top-down widget coordinates once.
#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "HxTitlebarContainer.h"
#include "HxTitlebarView.h"
#include "TCWindowButton.h"

class TCImageWindow : public QWidget {
    Q_OBJECT

public:
    // Metrics of the window's own buttons, standing in for the system's.
    static constexpr double kStandardTitleBarHeight = 22;
    static constexpr double kStandardButtonSize = 14;
    static constexpr double kStandardLeftMargin = 7;
    static constexpr double kStandardSeparation = 6;

    enum class ButtonKind { Close, Minimize, Zoom };

    struct TitleShadow {
        QColor color;  // invalid: the default shadow
        QPointF offset;
    };
    using TitleBarDrawing =
        std::function<void(QPainter&, bool active, const QRectF& bounds, const QPainterPath& clip)>;

    explicit TCImageWindow(QWidget* parent = nullptr);
    ~TCImageWindow() override;

    // The active state: the window is the application's active window.
    bool isActive() const;

    QWidget* contentView() const { return contentView_; }
    void setContentView(QWidget* view);
    QWidget* titleBarView() const { return titleBarView_; }
    void setTitleBarView(QWidget* view);
    HxTitlebarContainer* titleBarContainer() const { return titleBarContainer_; }

    double titleBarHeight() const { return titleBarHeight_; }
    void setTitleBarHeight(double height);
    double cachedTitleBarHeight() const { return cachedTitleBarHeight_; }
    void setCachedTitleBarHeight(double height) { cachedTitleBarHeight_ = height; }
    double trafficLightButtonsLeftMargin() const { return leftMargin_; }
    void setTrafficLightButtonsLeftMargin(double margin);
    double trafficLightSeparation() const { return separation_; }
    void setTrafficLightSeparation(double separation);
    bool centerTrafficLightButtons() const { return centerButtons_; }
    void setCenterTrafficLightButtons(bool center);
    bool verticalTrafficLightButtons() const { return verticalButtons_; }
    void setVerticalTrafficLightButtons(bool vertical);
    bool centerFullScreenButton() const { return centerFullScreenButton_; }
    void setCenterFullScreenButton(bool center);
    double fullScreenButtonRightMargin() const { return fullScreenRightMargin_; }
    void setFullScreenButtonRightMargin(double margin);
    // Whether a right margin of the full-screen button was set or measured.
    bool hasFullScreenButtonRightMargin() const { return fullScreenRightMarginSet_; }
    bool showsTitle() const { return showsTitle_; }
    void setShowsTitle(bool shows);
    bool showsBaselineSeparator() const { return showsBaselineSeparator_; }
    void setShowsBaselineSeparator(bool shows);

    // These only store: the value shows at the next layout or drawing.
    double topButtonMoveUp() const { return topButtonMoveUp_; }
    void setTopButtonMoveUp(double moveUp) { topButtonMoveUp_ = moveUp; }
    double trafficLightButtonsTopMargin() const { return buttonsTopMargin_; }
    void setTrafficLightButtonsTopMargin(double margin) { buttonsTopMargin_ = margin; }
    double fullScreenButtonTopMargin() const { return fullScreenTopMargin_; }
    void setFullScreenButtonTopMargin(double margin) { fullScreenTopMargin_ = margin; }
    bool hideTitleBarInFullScreen() const { return hideTitleBarInFullScreen_; }
    void setHideTitleBarInFullScreen(bool hide) { hideTitleBarInFullScreen_ = hide; }
    bool showsTitleInFullscreen() const { return showsTitleInFullscreen_; }
    void setShowsTitleInFullscreen(bool shows) { showsTitleInFullscreen_ = shows; }
    const QColor& titleTextColor() const { return titleTextColor_; }
    void setTitleTextColor(const QColor& color) { titleTextColor_ = color; }
    const QColor& inactiveTitleTextColor() const { return inactiveTitleTextColor_; }
    void setInactiveTitleTextColor(const QColor& color) { inactiveTitleTextColor_ = color; }
    const TitleShadow& titleTextShadow() const { return titleTextShadow_; }
    void setTitleTextShadow(const TitleShadow& shadow) { titleTextShadow_ = shadow; }
    const TitleShadow& inactiveTitleTextShadow() const { return inactiveTitleTextShadow_; }
    void setInactiveTitleTextShadow(const TitleShadow& shadow) {
        inactiveTitleTextShadow_ = shadow;
    }
    // The bar is white whatever these say; they are kept for the windows
    // that set them.
    void setTitleBarStartColor(const QColor& color) { titleBarStartColor_ = color; }
    void setTitleBarEndColor(const QColor& color) { titleBarEndColor_ = color; }
    void setBaselineSeparatorColor(const QColor& color) { baselineSeparatorColor_ = color; }
    const TitleBarDrawing& titleBarDrawingBlock() const { return titleBarDrawing_; }
    void setTitleBarDrawingBlock(TitleBarDrawing drawing) { titleBarDrawing_ = std::move(drawing); }

    // Buttons given by the window's owner replace the window's own ones, at
    // the place of the one they replace. The window keeps them.
    TCWindowButton* closeButton() const { return closeButton_; }
    TCWindowButton* minimizeButton() const { return minimizeButton_; }
    TCWindowButton* zoomButton() const { return zoomButton_; }
    TCWindowButton* fullScreenButton() const { return fullScreenButton_; }
    void setCloseButton(TCWindowButton* button);
    void setMinimizeButton(TCWindowButton* button);
    void setZoomButton(TCWindowButton* button);
    void setFullScreenButton(TCWindowButton* button);
    // The button laid out for a kind: the owner's or the window's own.
    TCWindowButton* buttonToLayout(ButtonKind kind) const;

    // Where a dialog attached to this window goes: the proposed x and size,
    // just under the bar.
    QRect sheetRect(const QRect& proposed) const;

    // Lays the buttons, the bar and the content out again (done on every
    // resize, move and activity change).
    void layoutTrafficLightsAndContent();

signals:
    void activityChanged(bool active);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void createTitlebarView();
    void recalculateFrameForTitleBarContainer();
    void repositionContentView();
    void updateTitlebarView();
    void displayWindowAndTitlebar();
    void replaceButton(QPointer<TCWindowButton>& slot, TCWindowButton* button, ButtonKind kind);
    void replaceFullScreenButton(TCWindowButton* button);
    void performButtonAction(ButtonKind kind);
    void windowWillEnterFullScreen();
    void windowWillExitFullScreen();
    // A rectangle given from the window's bottom-left corner, in widget
    // coordinates, and back.
    QRectF fromBottomUp(const QRectF& r) const;
    QRectF toBottomUp(const QRectF& r) const;

    QPointer<QWidget> contentView_;
    QPointer<QWidget> titleBarView_;
    HxTitlebarContainer* titleBarContainer_ = nullptr;
    TCWindowButton* standardButtons_[3] = {};
    QPointer<TCWindowButton> closeButton_, minimizeButton_, zoomButton_, fullScreenButton_;

    double titleBarHeight_ = kStandardTitleBarHeight;
    double cachedTitleBarHeight_ = kStandardTitleBarHeight;
    double topButtonMoveUp_ = 0;
    double leftMargin_ = kStandardLeftMargin;
    double buttonsTopMargin_ = 3.0;
    double fullScreenRightMargin_ = 0;
    double fullScreenTopMargin_ = 3.0;
    double separation_ = kStandardSeparation;
    bool fullScreenRightMarginSet_ = false;
    bool centerFullScreenButton_ = false;
    bool centerButtons_ = true;
    bool verticalButtons_ = false;
    bool hideTitleBarInFullScreen_ = false;
    bool showsBaselineSeparator_ = true;
    bool showsTitle_ = false;
    bool showsTitleInFullscreen_ = false;
    bool wasFullScreen_ = false;
    QColor titleTextColor_, inactiveTitleTextColor_;
    QColor titleBarStartColor_, titleBarEndColor_, baselineSeparatorColor_;
    TitleShadow titleTextShadow_, inactiveTitleTextShadow_;
    TitleBarDrawing titleBarDrawing_;
};
