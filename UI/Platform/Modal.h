// Modal loops and alerts. A window run modally keeps its caller waiting
// until someone ends that window's loop; loops nest, and ending an outer
// loop while an inner one runs ends it only once the inner one has ended, so
// callers always return innermost first. Tests swap in doubles that answer
// from a script and never wait for anybody.
#pragma once

#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

class QEventLoop;

namespace velmora::ui {

// The answer of a loop whose window went away before anyone ended it.
inline constexpr int kModalAborted = -1001;

class ModalRunner {
public:
    virtual ~ModalRunner() = default;
    // Shows `window` application-modal and returns the code it was ended with.
    virtual int RunModal(QWidget* window) = 0;
    // Ends the loop of `window` (only that one); nothing when it runs none.
    virtual void StopModal(QWidget* window, int code) = 0;
    virtual bool IsRunning(QWidget* window) const = 0;
    // True while any window's loop runs: the windows under it take no
    // input, and nothing may tear down the code waiting in it.
    virtual bool AnyRunning() const = 0;
};

// The real one, on nested QEventLoops.
class EventLoopModalRunner : public ModalRunner {
public:
    int RunModal(QWidget* window) override;
    void StopModal(QWidget* window, int code) override;
    bool IsRunning(QWidget* window) const override;
    bool AnyRunning() const override { return !sessions_.empty(); }
    int Depth() const { return static_cast<int>(sessions_.size()); }

private:
    struct Session {
        QPointer<QWidget> window;
        QEventLoop* loop = nullptr;
        bool stopped = false;
        int code = kModalAborted;
    };
    std::vector<Session*> sessions_;
};

// Test double: each RunModal takes the next step of the script. A step gets
// the window (to press its buttons, to end itself through StopModal) and
// gives the code to return when nobody ended the window. An empty script
// answers kModalAborted and counts the surprise.
class ScriptedModalRunner : public ModalRunner {
public:
    using Step = std::function<int(QWidget*)>;
    std::deque<Step> script;
    std::vector<QString> shown;  // objectName of each window run
    int unscripted = 0;

    void Answer(int code) {
        script.push_back([code](QWidget*) { return code; });
    }
    int RunModal(QWidget* window) override;
    void StopModal(QWidget* window, int code) override;
    bool IsRunning(QWidget* window) const override;
    bool AnyRunning() const override { return !running_.empty(); }

private:
    std::vector<std::pair<QWidget*, std::optional<int>>> running_;
};

// The runner windows use; the real one unless a test set another.
ModalRunner& Modal();
void SetModalRunner(ModalRunner* runner);

// An alert with up to three buttons; the answer is 1 for the default button,
// 0 for the alternate, -1 for the other.
struct AlertContent {
    QString message, informative, defaultButton, alternateButton, otherButton;
    bool critical = false;
    // Shown in place of the standard warning or critical sign when set.
    QPixmap icon;
};

// The alert of a key family: stem + "TITLE" is the message, "NODE" the
// informative text, "YES_BUTTON" the default and "NO_BUTTON" the alternate
// (each left out when the key has no text).
AlertContent AlertFromKeys(const QString& stem);

class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    // Application-modal; returns 1, 0 or -1.
    virtual int Run(const AlertContent& alert, QWidget* parent) = 0;
    // Window-modal on `window`; `done` gets the answer later.
    virtual void BeginSheet(const AlertContent& alert, QWidget* window,
                            std::function<void(int)> done) = 0;
};

class MessageBoxAlerts : public AlertPresenter {
public:
    int Run(const AlertContent& alert, QWidget* parent) override;
    void BeginSheet(const AlertContent& alert, QWidget* window,
                    std::function<void(int)> done) override;
};

// Test double: answers from `answers` in order, remembers every alert. A
// sheet's answer arrives after BeginSheet returned, as a real one does. With
// the script used up it answers -1 and counts the surprise.
class ScriptedAlerts : public AlertPresenter {
public:
    std::deque<int> answers;
    std::vector<AlertContent> shown;
    int unscripted = 0;

    int Run(const AlertContent& alert, QWidget* parent) override;
    void BeginSheet(const AlertContent& alert, QWidget* window,
                    std::function<void(int)> done) override;

private:
    int Next(const AlertContent& alert);
};

AlertPresenter& Alerts();
void SetAlertPresenter(AlertPresenter* presenter);

}  // namespace velmora::ui
