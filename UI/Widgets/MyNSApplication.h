// The application object. Before the usual dispatch it turns the editing
// shortcuts (Ctrl+X, C, V, Z, A and Ctrl+Shift+Z) into the matching action of
// the focused widget or the nearest of its parents that has one, so they
// work in every text field whether or not a menu carries them. A shortcut
// nobody handles goes on as an ordinary key press.
#pragma once

#include <QApplication>

class QKeyEvent;

class MyNSApplication : public QApplication {
    Q_OBJECT

public:
    MyNSApplication(int& argc, char** argv);

    // The action a key press asks for ("cut", "copy", "paste", "undo",
    // "selectAll", "redo"), or nullptr.
    static const char* KeyEquivalentAction(const QKeyEvent& event);
    // Sends the action along the focus chain from a widget; true when some
    // widget handled it.
    static bool SendAction(const char* action, QObject* firstResponder);

    bool notify(QObject* receiver, QEvent* event) override;
};
