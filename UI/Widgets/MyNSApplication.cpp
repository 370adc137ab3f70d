#include "MyNSApplication.h"

#include <QKeyEvent>
#include <QMetaMethod>
#include <QWidget>

MyNSApplication::MyNSApplication(int& argc, char** argv) : QApplication(argc, argv) {}

const char* MyNSApplication::KeyEquivalentAction(const QKeyEvent& event) {
    if (event.type() != QEvent::KeyPress) {
        return nullptr;
    }
    // Keypad and group-switch bits say where the key is, not what it means.
    const Qt::KeyboardModifiers modifiers =
        event.modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
    if (modifiers == Qt::ControlModifier) {
        switch (event.key()) {
            case Qt::Key_X:
                return "cut";
            case Qt::Key_C:
                return "copy";
            case Qt::Key_V:
                return "paste";
            case Qt::Key_Z:
                return "undo";
            case Qt::Key_A:
                return "selectAll";
            default:
                return nullptr;
        }
    }
    if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier) && event.key() == Qt::Key_Z) {
        return "redo";
    }
    return nullptr;
}

bool MyNSApplication::SendAction(const char* action, QObject* firstResponder) {
    const QByteArray signature = QByteArray(action) + "()";
    for (QObject* o = firstResponder; o; o = o->parent()) {
        const QMetaObject* meta = o->metaObject();
        const int index = meta->indexOfMethod(signature.constData());
        if (index >= 0 && meta->method(index).methodType() == QMetaMethod::Slot) {
            return meta->method(index).invoke(o, Qt::DirectConnection);
        }
        if (o->isWidgetType() && static_cast<QWidget*>(o)->isWindow()) {
            break;
        }
    }
    return false;
}

bool MyNSApplication::notify(QObject* receiver, QEvent* event) {
    // Key presses are delivered to the focus widget first: that is the
    // start of the chain the editing action travels.
    if (event->type() == QEvent::KeyPress && receiver->isWidgetType()) {
        if (const char* action = KeyEquivalentAction(*static_cast<QKeyEvent*>(event))) {
            if (SendAction(action, receiver)) {
                event->accept();
                return true;
            }
        }
    }
    return QApplication::notify(receiver, event);
}
