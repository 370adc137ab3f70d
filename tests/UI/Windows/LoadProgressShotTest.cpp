// A picture of the progress window while a saved result loads, for a person
// to look at; the test checks that it shows the load's own texts and bar,
// no raw key and no placeholder picture.
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>

#include "Resources/ImageRegistry.h"
#include "TopView/TCImageWindow.h"
#include "UIPlatform/Modal.h"
#include "UIPlatform/Texts.h"
#include "WindowTestSupport.h"
#include "Windows/VKProgressWindow.h"

namespace velmora::windows {
namespace {

using testing::Pump;

class LoadProgressShotTest : public testing::WindowTest {};

TEST_F(LoadProgressShotTest, PictureOfALoadUnderWay) {
    VKProgressWindow window(QStringLiteral("QueryProgressInfo"), false);
    bridge.saveTotal = 100;
    bridge.saveCurrent = 60;
    ui::NotificationCenter::defaultCenter().post(QStringLiteral("QueryProgressInfo"));
    window.window()->show();
    Pump();
    EXPECT_EQ(window.titleLabel()->text(), ui::texts::Text(QStringLiteral("LOAD_SCAN_RESULT")));
    EXPECT_EQ(window.progress()->value(), 60);
    QDir().mkpath(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR));
    EXPECT_TRUE(window.window()->grab().save(
        QStringLiteral(VELMORA_WINDOW_SHOTS_DIR "/progress_window_load.png")));
    for (auto* label : window.window()->findChildren<QLabel*>()) {
        if (label->isVisibleTo(window.window())) {
            EXPECT_FALSE(label->text().contains(QRegularExpression("^[A-Z_]+$")))
                << label->text().toStdString();
        }
    }
    EXPECT_TRUE(ui::ImageRegistry::PlaceholderNamesAsked().isEmpty())
        << ui::ImageRegistry::PlaceholderNamesAsked().join(", ").toStdString();
}

// The alert a damaged result file ends with, as the program's own message
// box draws it: the count of the records left out is in the text.
TEST_F(LoadProgressShotTest, PictureOfTheDamagedLoadAlert) {
    ui::ScriptedAlerts scripted;
    scripted.answers = {1};
    ui::SetAlertPresenter(&scripted);
    bridge.saveTotal = 10;
    bridge.saveCurrent = 10;
    bridge.saveError = 8;
    bridge.loadDamage = {3, 120, false, false};
    VKProgressWindow window(QStringLiteral("NormalScranValue"), false);
    modal.script.push_back([&](QWidget* w) {
        ui::NotificationCenter::defaultCenter().post(QStringLiteral("QueryProgressFinish"));
        for (int i = 0; i < 200 && modal.IsRunning(w); ++i)
            QTest::qWait(5);
        return ui::kModalAborted;
    });
    window.runModal();
    Pump();
    ui::SetAlertPresenter(nullptr);
    bridge.loadDamage = {};
    ASSERT_EQ(scripted.shown.size(), 1u);
    EXPECT_TRUE(scripted.shown[0].informative.contains(QStringLiteral("3 damaged records")));
    // The same content through the real message box, opened as a sheet so
    // the test does not wait on it.
    QWidget parent;
    parent.resize(420, 200);
    parent.show();
    ui::MessageBoxAlerts real;
    real.BeginSheet(scripted.shown[0], &parent, [](int) {});
    Pump();
    QMessageBox* box = parent.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    QDir().mkpath(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR));
    EXPECT_TRUE(
        box->grab().save(QStringLiteral(VELMORA_WINDOW_SHOTS_DIR "/load_damaged_alert.png")));
    box->done(0);
    Pump();
}

}  // namespace
}  // namespace velmora::windows
