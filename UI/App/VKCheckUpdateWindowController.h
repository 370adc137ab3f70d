// The update check window: probes the update host, fetches its update
// description and compares its "VersionCheck" with the build's own, then
// shows one of three panels: no network, no newer version, or the newer
// version with its list of new features and a link to the download page.
// Probe and fetch run asynchronously with time-outs: the window shows its
// checking panel meanwhile and the interface never waits on the network.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

class QFont;
class QLabel;
class QProgressBar;
class QScrollArea;
class QWidget;
class TCImageWindow;

namespace velmora::platform {
class Workspace;
}

// Told when the window closed, to continue the application's start.
class VKUpdateWindowDelegate {
public:
    virtual void runRootWindow() = 0;

protected:
    ~VKUpdateWindowDelegate() = default;
};

class VKCheckUpdateWindowController : public QObject {
    Q_OBJECT

public:
    enum class Panel { Checking, NoNetwork, NoUpdate, HaveUpdate };

    static constexpr int kWidth = 480;
    static constexpr int kHeight = 360;
    static constexpr qreal kMeasureWidth = 200;
    static constexpr int kLineMinHeight = 25;
    static constexpr int kEntryMinHeight = 30;
    static constexpr int kListMinHeight = 99;

    // Links open through `workspace`; none open without one.
    explicit VKCheckUpdateWindowController(velmora::platform::Workspace* workspace,
                                           QObject* parent = nullptr);
    ~VKCheckUpdateWindowController() override;

    // Made and set up on first use; the check starts then.
    TCImageWindow* window();
    bool isLoaded() const { return !aWindow_.isNull(); }
    void setDelegate(VKUpdateWindowDelegate* delegate) { delegate_ = delegate; }

    // Runs the check again (the window runs it once when it loads).
    void getVersionChange();
    // Compares `remote` (the fetched dictionary, or invalid) with the build's
    // number and fills the panels.
    void whatIsNewVersionDiff(const QVariant& remote);
    // The height `text` needs wrapped at `width` in `font`.
    static qreal heightForStringDrawing(const QString& text, const QFont& font, qreal width);

    // The title bar's and the panels' close buttons: end the modal run,
    // close the window, tell the delegate.
    void closeWindow();
    void closeWindowAction() { closeWindow(); }
    void updateClickHereAction();

    Panel panel() const { return panel_; }
    QLabel* titleLable() const { return titleLable_; }
    QLabel* versionLabel() const { return versionLabel_; }
    QWidget* showVersionScrollView() const { return showVersionScrollView_; }

signals:
    // The check ended and its panel shows.
    void checkFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void windowDidLoad();
    void showPanel(Panel panel);
    QWidget* makePanel(const QString& outlet);

    velmora::platform::Workspace* workspace_;
    VKUpdateWindowDelegate* delegate_ = nullptr;
    QPointer<TCImageWindow> aWindow_;
    const QObject* windowObject_ = nullptr;
    QWidget* checkProgressView_ = nullptr;
    QWidget* noNetworkView_ = nullptr;
    QWidget* noUpdateView_ = nullptr;
    QWidget* haveUpdateView_ = nullptr;
    QLabel* titleLable_ = nullptr;
    QLabel* versionLabel_ = nullptr;
    QScrollArea* changeValueScrollView_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QWidget* showVersionScrollView_ = nullptr;
    QLabel* titleLabel_ = nullptr;
    Panel panel_ = Panel::Checking;
    // Answers of an earlier check that arrive late are dropped.
    int checkGeneration_ = 0;
};
