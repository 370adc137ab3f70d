#include "Windows/VKSelectTypeViewController.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "UIPlatform/Texts.h"

#include "Widgets/PLXCustemButton.h"
#include "WindowTestSupport.h"

namespace velmora::windows {
namespace {

class RecordingTypeDelegate : public VKSelectTypeViewControllerDelegate {
public:
    void nextButtonActionWithAllTypeArr(QStringList* types) override { handed = types; }
    void changeScanTypeWithNum(int kind) override { kinds.push_back(kind); }
    void isSelectOffice(int flag) override { officeFlags.push_back(flag); }
    QStringList* handed = nullptr;
    std::vector<int> kinds, officeFlags;
};

// The page as the main window opens it.
struct OpenedPage {
    OpenedPage() {
        page.setDelegate(&delegate);
        page.setSelectAllCount(0);
        page.allTypesButtonClick();
    }
    RecordingTypeDelegate delegate;
    VKSelectTypeViewController page;
};

TEST(TypePage, OpensWithEverythingChosenAndTheFirstModePressed) {
    OpenedPage p;
    EXPECT_EQ(p.page.selectArr(), (QStringList{"1", "2", "4", "8", "16", "32", "64"}));
    EXPECT_EQ(p.page.selectAllCount(), 1);
    EXPECT_EQ(p.page.alltypesImage(), "checkbox_yes");
    EXPECT_TRUE(p.page.nextButton()->isButtonUsable());
    EXPECT_EQ(p.page.deleteButton()->currentImageName(), "d_recover_select");
    EXPECT_EQ(p.page.formatButton()->currentImageName(), "f_recover_normal");
    EXPECT_EQ(p.page.completeButton()->currentImageName(), "c_recover_normal");
    EXPECT_EQ(p.delegate.officeFlags, std::vector<int>{1});
    // The delegate gets the page's own list.
    p.page.nextButtonAction();
    EXPECT_EQ(p.delegate.handed, &p.page.selectArr());
}

TEST(TypePage, TheAllTypesBoxEmptiesAndRefillsTheChoice) {
    OpenedPage p;
    p.page.alltypesButton()->click();
    EXPECT_TRUE(p.page.selectArr().isEmpty());
    EXPECT_EQ(p.page.selectAllCount(), 0);
    EXPECT_EQ(p.page.alltypesImage(), "checkbox_no");
    EXPECT_FALSE(p.page.nextButton()->isButtonUsable());
    p.page.alltypesButton()->click();
    EXPECT_EQ(p.page.selectArr().size(), 7);
    EXPECT_EQ(p.page.alltypesImage(), "checkbox_yes");
    EXPECT_TRUE(p.page.nextButton()->isButtonUsable());
    // From a part choice the box chooses everything.
    p.page.selectArr().removeAll("2");
    p.page.setSelectAllCount(2);
    p.page.allTypesButtonClick();
    EXPECT_EQ(p.page.selectArr().size(), 7);
    EXPECT_EQ(p.delegate.officeFlags, (std::vector<int>{1, 0, 1, 1}));
}

TEST(TypePage, CategoryButtonsMoveTheBoxThroughItsThreeStates) {
    OpenedPage p;
    std::vector<PLXCustemButton*> buttons;
    for (int tag = 0; tag < 7; ++tag)
        buttons.push_back(p.page.buildTypeButton("t", "n", "icon_disk", "icon_disk", tag,
                                                 QRect(10 + 20 * tag, 10, 16, 16)));
    const struct {
        int tag;  // -1: the all-types box
        int count;
        const char* image;
        bool next;
    } steps[] = {
        {-1, 0, "checkbox_no", false},  // everything off
        {3, 1, "checkbox_half", true},  // one on
        {3, 0, "checkbox_no", false},   // the last one off again
        {0, 1, "checkbox_half", true}, {1, 2, "checkbox_half", true}, {2, 3, "checkbox_half", true},
        {3, 4, "checkbox_half", true}, {4, 5, "checkbox_half", true}, {5, 6, "checkbox_half", true},
        {6, 7, "checkbox_yes", true},  // the seventh makes all
        {6, 6, "checkbox_half", true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.tag);
        if (step.tag < 0)
            p.page.allTypesButtonClick();
        else
            p.page.changeAllSelectState(buttons[step.tag]);
        EXPECT_EQ(p.page.selectArr().size(), step.count);
        EXPECT_EQ(p.page.alltypesImage(), step.image);
        EXPECT_EQ(p.page.nextButton()->isButtonUsable(), step.next);
    }
    EXPECT_EQ(p.page.allTypeButton().size(), 7);
}

TEST(TypePage, ModeButtonsPressOneAndReportTheScanKind) {
    const struct {
        int tag;
        int kind;
        const char* pressed;
    } cases[] = {{1, 1, "deleteButton"}, {2, 1, "formatButton"}, {3, 2, "completeButton"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        OpenedPage p;
        TCImageButton* button = p.page.findChild<TCImageButton*>(c.pressed);
        ASSERT_TRUE(button);
        button->click();
        EXPECT_EQ(p.delegate.kinds, std::vector<int>{c.kind});
        for (TCImageButton* mode :
             {p.page.deleteButton(), p.page.formatButton(), p.page.completeButton()}) {
            EXPECT_EQ(mode->currentImageName().endsWith("_select"), mode == button)
                << mode->objectName().toStdString();
        }
    }
}

TEST(TypePage, RemovingMusicTouchesOnlyTheList) {
    OpenedPage p;
    p.page.removeSelectOffice();
    EXPECT_EQ(p.page.selectArr(), (QStringList{"1", "2", "4", "16", "32", "64"}));
    EXPECT_EQ(p.page.alltypesImage(), "checkbox_yes");
    p.page.removeSelectOffice();  // "8" absent: nothing changes
    EXPECT_EQ(p.page.selectArr().size(), 6);
}

// The pictures hold no words: each mode card carries its title and what it
// finds, and the next button its word, in the interface's language.
TEST(TypePage, ModeCardsAndTheNextButtonSayWhatTheyAre) {
    OpenedPage p;
    const struct {
        TCImageButton* card;
        const char* title;
        const char* note;
    } cards[] = {
        {p.page.deleteButton(), "PLX_TWO_DELETED_TITLE", "PLX_TWO_DELETED_NOTE"},
        {p.page.formatButton(), "PLX_TWO_FORMATTED_TITLE", "PLX_TWO_FORMATTED_NOTE"},
        {p.page.completeButton(), "PLX_TWO_DEEP_TITLE", "PLX_TWO_DEEP_NOTE"},
    };
    for (const auto& c : cards) {
        SCOPED_TRACE(c.title);
        auto* title = c.card->findChild<QLabel*>(QStringLiteral("cardTitle"));
        auto* note = c.card->findChild<QLabel*>(QStringLiteral("cardNote"));
        ASSERT_TRUE(title && note);
        EXPECT_EQ(title->text(), ui::texts::Text(c.title));
        EXPECT_EQ(note->text(), ui::texts::Text(c.note));
        EXPECT_NE(title->text(), QString::fromLatin1(c.title));
        EXPECT_EQ(c.card->accessibleName(), title->text());
        // The words sit inside the card and let its clicks through.
        EXPECT_TRUE(c.card->rect().contains(title->geometry()));
        EXPECT_TRUE(c.card->rect().contains(note->geometry()));
        EXPECT_TRUE(title->testAttribute(Qt::WA_TransparentForMouseEvents));
    }
    ASSERT_TRUE(p.page.nextButton()->textField());
    EXPECT_EQ(p.page.nextButton()->textField()->text(),
              ui::texts::Text(QStringLiteral("PLX_TWO_NEXT_BUTTON")));
    EXPECT_NE(p.page.nextButton()->textField()->text(), QStringLiteral("PLX_TWO_NEXT_BUTTON"));
    EXPECT_EQ(p.page.nextButton()->accessibleName(), p.page.nextButton()->textField()->text());
}

// The keys of a focused picture button: Return, Enter and the space bar
// click it while it can be used; an unusable one lets the key go on.
TEST(TypePage, KeysClickAUsableButtonOnly) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        for (bool usable : {true, false}) {
            SCOPED_TRACE(std::to_string(key) + (usable ? " usable" : " unusable"));
            OpenedPage p;
            p.page.nextButton()->setButtonEnabled(usable);
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QCoreApplication::sendEvent(p.page.nextButton(), &press);
            EXPECT_EQ(press.isAccepted(), usable);
            EXPECT_EQ(p.delegate.handed != nullptr, usable);
        }
    }
}

}  // namespace
}  // namespace velmora::windows
