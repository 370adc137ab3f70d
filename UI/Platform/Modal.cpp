#include "UIPlatform/Modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

#include "UIPlatform/Texts.h"

namespace velmora::ui {

int EventLoopModalRunner::RunModal(QWidget* window) {
    if (!window)
        return kModalAborted;
    QEventLoop loop;
    Session session;
    session.window = window;
    session.loop = &loop;
    sessions_.push_back(&session);
    // A window destroyed or closed under its loop ends the loop: nobody is
    // left to end it otherwise.
    auto gone = QObject::connect(window, &QObject::destroyed, &loop, [this, &session] {
        if (!session.stopped) {
            session.stopped = true;
            session.code = kModalAborted;
        }
        if (!sessions_.empty() && sessions_.back() == &session)
            session.loop->exit();
    });
    // Qt takes a window's modality when the window is shown: a window
    // already on screen (faded in by its owner) would stay an ordinary one,
    // and the windows under it would go on taking clicks, so it is shown
    // anew.
    if (window->isVisible() && QApplication::activeModalWidget() != window)
        window->hide();
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    window->raise();
    if (!session.stopped)
        loop.exec();
    QObject::disconnect(gone);
    sessions_.erase(std::find(sessions_.begin(), sessions_.end(), &session));
    if (session.window)
        session.window->hide();
    // An outer loop ended while this one ran ends now that this one is done.
    if (!sessions_.empty() && sessions_.back()->stopped)
        sessions_.back()->loop->exit();
    return session.code;
}

void EventLoopModalRunner::StopModal(QWidget* window, int code) {
    auto it = std::find_if(sessions_.begin(), sessions_.end(),
                           [window](Session* s) { return s->window == window && !s->stopped; });
    if (it == sessions_.end())
        return;
    (*it)->stopped = true;
    (*it)->code = code;
    if (*it == sessions_.back())
        (*it)->loop->exit();
}

bool EventLoopModalRunner::IsRunning(QWidget* window) const {
    return std::any_of(sessions_.begin(), sessions_.end(),
                       [window](Session* s) { return s->window == window && !s->stopped; });
}

int ScriptedModalRunner::RunModal(QWidget* window) {
    shown.push_back(window ? window->objectName() : QString());
    if (script.empty()) {
        ++unscripted;
        return kModalAborted;
    }
    Step step = std::move(script.front());
    script.pop_front();
    running_.push_back({window, std::nullopt});
    const size_t index = running_.size() - 1;
    const int answer = step(window);
    std::optional<int> stopped = running_[index].second;
    running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(index));
    return stopped ? *stopped : answer;
}

void ScriptedModalRunner::StopModal(QWidget* window, int code) {
    for (auto& [w, stopped] : running_) {
        if (w == window && !stopped) {
            stopped = code;
            return;
        }
    }
}

bool ScriptedModalRunner::IsRunning(QWidget* window) const {
    return std::any_of(running_.begin(), running_.end(),
                       [window](const auto& r) { return r.first == window && !r.second; });
}

namespace {

ModalRunner* g_modal = nullptr;
AlertPresenter* g_alerts = nullptr;

QMessageBox* MakeBox(const AlertContent& alert, QWidget* parent,
                     std::vector<std::pair<QAbstractButton*, int>>* answers) {
    auto* box = new QMessageBox(parent);
    // Names by role, so that a driver of the windows finds the answers
    // whatever language their words are in.
    box->setObjectName(QStringLiteral("alert"));
    box->setIcon(alert.critical ? QMessageBox::Critical : QMessageBox::Warning);
    if (!alert.icon.isNull())
        box->setIconPixmap(alert.icon);
    box->setText(alert.message);
    box->setInformativeText(alert.informative);
    const QString first =
        alert.defaultButton.isEmpty() ? QStringLiteral("OK") : alert.defaultButton;
    QPushButton* def = box->addButton(first, QMessageBox::AcceptRole);
    def->setObjectName(QStringLiteral("alertDefaultButton"));
    answers->push_back({def, 1});
    box->setDefaultButton(def);
    box->setEscapeButton(def);
    if (!alert.alternateButton.isEmpty()) {
        QPushButton* alt = box->addButton(alert.alternateButton, QMessageBox::RejectRole);
        alt->setObjectName(QStringLiteral("alertAlternateButton"));
        answers->push_back({alt, 0});
        box->setEscapeButton(alt);
    }
    if (!alert.otherButton.isEmpty()) {
        QPushButton* other = box->addButton(alert.otherButton, QMessageBox::DestructiveRole);
        other->setObjectName(QStringLiteral("alertOtherButton"));
        answers->push_back({other, -1});
    }
    return box;
}

int AnswerOf(QMessageBox* box, const std::vector<std::pair<QAbstractButton*, int>>& answers) {
    for (const auto& [button, code] : answers) {
        if (box->clickedButton() == button)
            return code;
    }
    // Closed without a button (the window manager's close): the alternate
    // when there is one, as Escape would.
    return answers.size() > 1 ? 0 : 1;
}

}  // namespace

ModalRunner& Modal() {
    static EventLoopModalRunner real;
    return g_modal ? *g_modal : real;
}

void SetModalRunner(ModalRunner* runner) {
    g_modal = runner;
}

AlertContent AlertFromKeys(const QString& stem) {
    auto textOf = [&](const char* suffix) {
        const QString key = stem + suffix;
        const QString text = texts::Text(key);
        return text == key ? QString() : text;
    };
    AlertContent alert;
    alert.message = textOf("TITLE");
    if (alert.message.isEmpty())
        alert.message = stem + "TITLE";
    alert.informative = textOf("NODE");
    alert.defaultButton = textOf("YES_BUTTON");
    alert.alternateButton = textOf("NO_BUTTON");
    return alert;
}

int MessageBoxAlerts::Run(const AlertContent& alert, QWidget* parent) {
    std::vector<std::pair<QAbstractButton*, int>> answers;
    QMessageBox* box = MakeBox(alert, parent, &answers);
    box->exec();
    const int answer = AnswerOf(box, answers);
    delete box;
    return answer;
}

void MessageBoxAlerts::BeginSheet(const AlertContent& alert, QWidget* window,
                                  std::function<void(int)> done) {
    auto answers = std::make_shared<std::vector<std::pair<QAbstractButton*, int>>>();
    QMessageBox* box = MakeBox(alert, window, answers.get());
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [box, answers, done = std::move(done)] {
        if (done)
            done(AnswerOf(box, *answers));
    });
    box->open();
}

int ScriptedAlerts::Next(const AlertContent& alert) {
    shown.push_back(alert);
    if (answers.empty()) {
        ++unscripted;
        return -1;
    }
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

int ScriptedAlerts::Run(const AlertContent& alert, QWidget*) {
    return Next(alert);
}

void ScriptedAlerts::BeginSheet(const AlertContent& alert, QWidget* window,
                                std::function<void(int)> done) {
    const int answer = Next(alert);
    if (!done)
        return;
    QObject* context = window ? static_cast<QObject*>(window) : QCoreApplication::instance();
    if (!context) {
        done(answer);
        return;
    }
    QTimer::singleShot(0, context, [done = std::move(done), answer] { done(answer); });
}

AlertPresenter& Alerts() {
    static MessageBoxAlerts real;
    return g_alerts ? *g_alerts : real;
}

void SetAlertPresenter(AlertPresenter* presenter) {
    g_alerts = presenter;
}

}  // namespace velmora::ui
