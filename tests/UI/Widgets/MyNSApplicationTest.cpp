#include "Widgets/MyNSApplication.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>

#include "QtPrinters.h"

namespace {

// A widget with no editing actions: shortcuts reach it as key presses.
class KeyRecorder : public QWidget {
public:
    void keyPressEvent(QKeyEvent* event) override {
        const int key = event->key();
        if (key != Qt::Key_Control && key != Qt::Key_Alt && key != Qt::Key_Shift) {
            keys << event->keyCombination();
        }
    }
    QList<QKeyCombination> keys;
};

// A widget that is not a text field but has an editing action; its
// parent chain is where the action travels.
class CutTarget : public QWidget {
    Q_OBJECT

public slots:
    void cut() { ++cuts; }

public:
    int cuts = 0;
};

}  // namespace

TEST(MyNSApplication, EditingShortcutsMapToActions) {
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* action;
    } cases[] = {
        {Qt::Key_X, Qt::ControlModifier, "cut"},
        {Qt::Key_C, Qt::ControlModifier, "copy"},
        {Qt::Key_V, Qt::ControlModifier, "paste"},
        {Qt::Key_Z, Qt::ControlModifier, "undo"},
        {Qt::Key_A, Qt::ControlModifier, "selectAll"},
        {Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, "redo"},
        {Qt::Key_C, Qt::ControlModifier | Qt::KeypadModifier, "copy"},
        {Qt::Key_C, Qt::ControlModifier | Qt::AltModifier, nullptr},
        {Qt::Key_X, Qt::ControlModifier | Qt::ShiftModifier, nullptr},
        {Qt::Key_Z, Qt::ShiftModifier, nullptr},
        {Qt::Key_Q, Qt::ControlModifier, nullptr},
    };
    for (const auto& c : cases) {
        const QKeyEvent event(QEvent::KeyPress, c.key, c.modifiers);
        const char* action = MyNSApplication::KeyEquivalentAction(event);
        EXPECT_STREQ(action, c.action)
            << QKeySequence(c.key | c.modifiers).toString().toStdString();
    }
}

TEST(MyNSApplication, CutAndRedoReachTheFocusedTextField) {
    QLineEdit field;
    field.show();
    field.activateWindow();
    field.setFocus();
    field.setText(QStringLiteral("recover"));
    field.selectAll();
    QTest::keyClick(&field, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(field.text(), QString());
    QTest::keyClick(&field, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(field.text(), "recover");
    QTest::keyClick(&field, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(field.text(), QString());
    // A capital Z without Ctrl types the letter.
    QTest::keyClick(&field, 'Z');
    EXPECT_EQ(field.text(), "Z");
}

TEST(MyNSApplication, AShortcutNobodyHandlesArrivesAsAKeyPress) {
    KeyRecorder recorder;
    recorder.setFocusPolicy(Qt::StrongFocus);
    recorder.show();
    recorder.setFocus();
    QTest::keyClick(&recorder, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&recorder, Qt::Key_C, Qt::ControlModifier | Qt::AltModifier);
    ASSERT_EQ(recorder.keys.size(), 2);
    EXPECT_EQ(recorder.keys[0], QKeyCombination(Qt::ControlModifier, Qt::Key_C));
}

TEST(MyNSApplication, ActionsTravelUpToTheNearestWidgetThatHasThem) {
    CutTarget target;
    auto* child = new KeyRecorder;
    child->setParent(&target);
    child->setFocusPolicy(Qt::StrongFocus);
    target.show();
    child->setFocus();
    QTest::keyClick(child, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(target.cuts, 1);
    EXPECT_TRUE(child->keys.isEmpty());
}

#include "MyNSApplicationTest.moc"
