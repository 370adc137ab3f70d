// A Qt generic plugin that lets an end-to-end test drive the real program
// from outside, by object names, with QTest events. It is never installed
// and the program does not know it: the test loads it into the program
// through Qt's own plugin switches,
//   QT_PLUGIN_PATH=<folder holding generic/>  QT_QPA_GENERIC_PLUGINS=velmorawalk:<socket>
// and then talks to it over that local socket, one command a line, one
// answer a line ("ok ..." or "error ...").
//
// Commands (NAME is an object name; the first visible widget of that name
// is taken, top-level windows first; "@focus" is the widget with the
// keyboard focus, as a user typing would reach it):
//   ping                       ok
//   windows                    ok NAME:CLASS:VISIBLE ... (top-level widgets)
//   find NAME                  ok VISIBLE ENABLED CLASS WINDOW-NAME | none
//   text NAME                  ok TEXT (label, button, line edit, message box or window title)
//   rows NAME                  ok PATH=COL0|COL1|... ;; ... (an item view's model)
//   click NAME | dblclick NAME  ok, then the click (queued: a click that opens a
//                              modal loop must not hold the answer back)
//   userclick NAME             ok, then a click on the middle of NAME sent to its
//                              window through the window system, as a user's
//                              click arrives: a window blocked by a modal one
//                              does not get it
//   items NAME                 ok TEXT<tab>KEYS ;; ... : a menu's items (">" before
//                              a submenu's), each with its key equivalent
//   screen NAME FILE           ok W H: the screen where NAME's window and any
//                              open popup menu are, as the user sees it, in a PNG
//   clickrow NAME PATH | dblclickrow NAME PATH   the same on an item view's row
//                              ("0", "1/0": row numbers from the top)
//   key NAME KEY               ok, then QTest::keyClick (KEY as QKeySequence text)
//   type NAME TEXT             ok, then QTest::keyClicks of TEXT into the widget
//   shot NAME FILE             ok W H: the widget's window painted into a PNG
//   activate NAME              ok: its window made the active one, as a window
//                              manager gives a window back the keyboard
//   state                      ok modal=NAME grabber=NAME popup=NAME buttons=N focus=NAME
//   stall start | stall        a 5 ms timer on the main thread, (re)started by
//                              "stall start"; "stall" answers ok MS TICKS: the
//                              longest gap between its ticks so far in
//                              milliseconds (how long the main loop was held)
//   invoke NAME FUNCTION       ok, then FUNCTION (an invokable of NAME's window's
//                              "controller" property, else of the widget) is called
//   quit                       ok, then QCoreApplication::quit()
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QGenericPlugin>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <functional>

namespace {

QString Name(const QObject* o) {
    return o->objectName().isEmpty() ? QStringLiteral("-") : o->objectName();
}

// Top-level windows first, so that a window's name wins over a child's.
QWidget* FindWidget(const QString& name) {
    QWidget* hidden = nullptr;
    const QWidgetList tops = QApplication::topLevelWidgets();
    for (QWidget* top : tops) {
        if (top->objectName() == name) {
            if (top->isVisible())
                return top;
            if (!hidden)
                hidden = top;
        }
    }
    for (QWidget* top : tops) {
        const auto children = top->findChildren<QWidget*>(name);
        for (QWidget* child : children) {
            if (child->isVisible())
                return child;
            if (!hidden)
                hidden = child;
        }
    }
    return hidden;
}

QString TextOf(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* box = qobject_cast<QMessageBox*>(w))
        return box->text() + QLatin1Char(' ') + box->informativeText();
    return w->windowTitle();
}

// Folders the tree has not fetched yet are fetched, as expanding them would:
// a row deep in a volume is listed without clicking the way to it.
void Rows(QAbstractItemModel* model, const QModelIndex& parent, const QString& prefix,
          QStringList* out) {
    if (model->canFetchMore(parent))
        model->fetchMore(parent);
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QString path = prefix.isEmpty() ? QString::number(row)
                                              : prefix + QLatin1Char('/') + QString::number(row);
        QStringList columns;
        for (int column = 0; column < model->columnCount(parent); ++column)
            columns << model->index(row, column, parent).data(Qt::DisplayRole).toString();
        out->append(path + QLatin1Char('=') + columns.join(QLatin1Char('|')));
        Rows(model, model->index(row, 0, parent), path, out);
    }
}

QModelIndex IndexAt(QAbstractItemView* view, const QString& path) {
    QModelIndex index;
    const QAbstractItemModel* model = view->model();
    if (!model)
        return {};
    for (const QString& part : path.split(QLatin1Char('/'))) {
        bool ok = false;
        const int row = part.toInt(&ok);
        if (!ok || row < 0 || row >= model->rowCount(index))
            return {};
        index = model->index(row, 0, index);
    }
    return index;
}

// A click delivered to the widget itself (QTest), wherever its window is.
void ClickAt(QWidget* w, const QPoint& at, bool twice) {
    if (twice)
        QTest::mouseDClick(w, Qt::LeftButton, {}, at);
    else
        QTest::mouseClick(w, Qt::LeftButton, {}, at);
}

// A menu's items and key equivalents, a submenu's after its title.
void MenuItems(const QMenu* menu, const QString& prefix, QStringList* out) {
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            continue;
        out->append(prefix + action->text() + QLatin1Char('\t') +
                    action->shortcut().toString(QKeySequence::NativeText));
        if (action->menu())
            MenuItems(action->menu(), prefix + QLatin1Char('>'), out);
    }
}

class Walker : public QObject {
public:
    explicit Walker(const QString& socketPath) {
        server_ = new QLocalServer(this);
        QLocalServer::removeServer(socketPath);
        if (!server_->listen(socketPath)) {
            qWarning("velmorawalk: cannot listen on %s", qPrintable(socketPath));
            return;
        }
        connect(server_, &QLocalServer::newConnection, this, &Walker::accept);
    }

private:
    void accept() {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        }
    }

    void read(QLocalSocket* socket) {
        while (socket->canReadLine()) {
            const QString line = QString::fromUtf8(socket->readLine()).trimmed();
            std::function<void()> later;
            const QString answer = run(line, &later);
            socket->write(answer.toUtf8().replace('\n', ' ') + '\n');
            socket->flush();
            if (later)
                QTimer::singleShot(0, this, later);
        }
    }

    QString run(const QString& line, std::function<void()>* later) {
        const int space = line.indexOf(QLatin1Char(' '));
        const QString command = line.left(space < 0 ? line.size() : space);
        const QString rest = space < 0 ? QString() : line.mid(space + 1);
        const int second = rest.indexOf(QLatin1Char(' '));
        const QString name = second < 0 ? rest : rest.left(second);
        const QString argument = second < 0 ? QString() : rest.mid(second + 1);

        if (command == QLatin1String("ping"))
            return QStringLiteral("ok");
        if (command == QLatin1String("windows")) {
            QStringList out;
            for (QWidget* top : QApplication::topLevelWidgets()) {
                out << Name(top) + QLatin1Char(':') + top->metaObject()->className() +
                           QLatin1Char(':') +
                           (top->isVisible() ? QLatin1Char('1') : QLatin1Char('0'));
            }
            return QStringLiteral("ok ") + out.join(QLatin1Char(' '));
        }
        if (command == QLatin1String("state")) {
            auto named = [](const QObject* o) { return o ? Name(o) : QStringLiteral("none"); };
            return QStringLiteral("ok modal=%1 grabber=%2 popup=%3 buttons=%4 focus=%5")
                .arg(named(QApplication::activeModalWidget()), named(QWidget::mouseGrabber()),
                     named(QApplication::activePopupWidget()))
                .arg(static_cast<int>(QGuiApplication::mouseButtons()))
                .arg(named(QApplication::focusWidget()));
        }
        if (command == QLatin1String("stall")) {
            if (rest == QLatin1String("start")) {
                startStallProbe();
                return QStringLiteral("ok");
            }
            if (!stallTimer_)
                return QStringLiteral("error no stall probe (stall start)");
            // The gap up to now counts too: a loop held at this moment shows.
            const qint64 now = stallClock_.nsecsElapsed();
            const qint64 longest = std::max(longestGapNs_, now - lastTickNs_);
            return QStringLiteral("ok %1 %2")
                .arg(static_cast<double>(longest) / 1e6, 0, 'f', 1)
                .arg(ticks_);
        }
        if (command == QLatin1String("quit")) {
            *later = [] { QCoreApplication::quit(); };
            return QStringLiteral("ok");
        }
        QPointer<QWidget> w =
            name == QLatin1String("@focus") ? QApplication::focusWidget() : FindWidget(name);
        if (command == QLatin1String("find")) {
            if (!w)
                return QStringLiteral("none");
            return QStringLiteral("ok %1 %2 %3 %4")
                .arg(w->isVisible() ? 1 : 0)
                .arg(w->isEnabled() ? 1 : 0)
                .arg(QString::fromLatin1(w->metaObject()->className()), Name(w->window()));
        }
        if (!w)
            return QStringLiteral("error no widget named ") + name;
        if (command == QLatin1String("activate")) {
            QWidget* window = w->window();
            window->activateWindow();
            QApplication::setActiveWindow(window);
            return QStringLiteral("ok");
        }
        if (command == QLatin1String("text"))
            return QStringLiteral("ok ") + TextOf(w);
        // A property of the widget, as text: "prop NAME PROPERTY".
        if (command == QLatin1String("prop")) {
            const QVariant value = w->property(argument.toLatin1().constData());
            if (!value.isValid())
                return QStringLiteral("error no property ") + argument;
            return QStringLiteral("ok ") + value.toString();
        }
        if (command == QLatin1String("invoke")) {
            QObject* target = w->window()->property("controller").value<QObject*>();
            if (!target)
                target = w;
            const QByteArray function = argument.toLatin1();
            if (target->metaObject()->indexOfMethod(function + "()") < 0)
                return QStringLiteral("error no invokable ") + argument;
            QPointer<QObject> guarded = target;
            *later = [guarded, function] {
                if (guarded)
                    QMetaObject::invokeMethod(guarded, function.constData());
            };
            return QStringLiteral("ok");
        }
        if (command == QLatin1String("click") || command == QLatin1String("dblclick")) {
            const bool twice = command == QLatin1String("dblclick");
            *later = [w, twice] {
                if (w)
                    ClickAt(w, w->rect().center(), twice);
            };
            return QStringLiteral("ok");
        }
        if (command == QLatin1String("userclick")) {
            *later = [w] {
                if (!w)
                    return;
                QWidget* top = w->window();
                if (QWindow* handle = top->windowHandle())
                    QTest::mouseClick(handle, Qt::LeftButton, {},
                                      w->mapTo(top, w->rect().center()));
            };
            return QStringLiteral("ok");
        }
        if (command == QLatin1String("items")) {
            auto* menu = qobject_cast<QMenu*>(w.data());
            if (!menu)
                return QStringLiteral("error not a menu: ") + name;
            QStringList out;
            MenuItems(menu, {}, &out);
            return QStringLiteral("ok ") + out.join(QStringLiteral(" ;; "));
        }
        if (command == QLatin1String("screen")) {
            QRect area = w->window()->frameGeometry();
            if (QWidget* popup = QApplication::activePopupWidget())
                area |= popup->frameGeometry();
            QScreen* screen = w->window()->screen();
            const QPixmap picture =
                screen ? screen->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                       : QPixmap();
            if (picture.isNull() || !picture.save(argument, "PNG"))
                return QStringLiteral("error cannot write ") + argument;
            return QStringLiteral("ok %1 %2").arg(picture.width()).arg(picture.height());
        }
        if (command == QLatin1String("key")) {
            const QKeySequence sequence(argument);
            if (sequence.isEmpty())
                return QStringLiteral("error no key ") + argument;
            const QKeyCombination key = sequence[0];
            *later = [w, key] {
                if (w)
                    QTest::keyClick(w, key.key(), key.keyboardModifiers());
            };
            return QStringLiteral("ok");
        }
        if (command == QLatin1String("type")) {
            *later = [w, argument] {
                if (w)
                    QTest::keyClicks(w, argument);
            };
            return QStringLiteral("ok");
        }
        if (command == QLatin1String("shot")) {
            const QPixmap picture = w->window()->grab();
            if (picture.isNull() || !picture.save(argument, "PNG"))
                return QStringLiteral("error cannot write ") + argument;
            return QStringLiteral("ok %1 %2").arg(picture.width()).arg(picture.height());
        }
        auto* view = qobject_cast<QAbstractItemView*>(w.data());
        if (command == QLatin1String("rows")) {
            if (!view || !view->model())
                return QStringLiteral("error not an item view: ") + name;
            QStringList out;
            Rows(view->model(), {}, {}, &out);
            return QStringLiteral("ok ") + out.join(QStringLiteral(" ;; "));
        }
        if (command == QLatin1String("clickrow") || command == QLatin1String("dblclickrow")) {
            if (!view)
                return QStringLiteral("error not an item view: ") + name;
            const QModelIndex index = IndexAt(view, argument);
            if (!index.isValid())
                return QStringLiteral("error no row ") + argument;
            const bool twice = command == QLatin1String("dblclickrow");
            QPointer<QAbstractItemView> guarded = view;
            const QPersistentModelIndex row(index);
            *later = [guarded, row, twice] {
                if (!guarded || !row.isValid()) {
                    qWarning("velmorawalk: the row is gone before its click");
                    return;
                }
                guarded->scrollTo(row);
                const QPoint at = guarded->visualRect(row).center();
                ClickAt(guarded->viewport(), at, twice);
            };
            return QStringLiteral("ok");
        }
        return QStringLiteral("error unknown command ") + command;
    }

    void startStallProbe() {
        if (!stallTimer_) {
            stallTimer_ = new QTimer(this);
            stallTimer_->setTimerType(Qt::PreciseTimer);
            stallTimer_->setInterval(5);
            connect(stallTimer_, &QTimer::timeout, this, [this] {
                const qint64 now = stallClock_.nsecsElapsed();
                longestGapNs_ = std::max(longestGapNs_, now - lastTickNs_);
                lastTickNs_ = now;
                ++ticks_;
            });
        }
        stallClock_.start();
        lastTickNs_ = 0;
        longestGapNs_ = 0;
        ticks_ = 0;
        stallTimer_->start();
    }

    QLocalServer* server_ = nullptr;
    QTimer* stallTimer_ = nullptr;
    QElapsedTimer stallClock_;
    qint64 lastTickNs_ = 0;
    qint64 longestGapNs_ = 0;
    qint64 ticks_ = 0;
};

}  // namespace

class VelmoraWalkPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "walk.json")

public:
    QObject* create(const QString& key, const QString& socketPath) override {
        if (key.compare(QLatin1String("velmorawalk"), Qt::CaseInsensitive) != 0 ||
            socketPath.isEmpty())
            return nullptr;
        // The application deletes the plugins' objects at its end.
        return new Walker(socketPath);
    }
};

#include "WalkPlugin.moc"
