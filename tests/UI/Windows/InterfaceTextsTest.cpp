#include "Windows/InterfaceTexts.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <set>

#include "BridgeSeam/FakeBridge.h"
#include "UIPlatform/Texts.h"
#include "WindowTestSupport.h"
#include "Windows/VKRootWindowController.h"
#include "support/TestSupport.h"

namespace velmora::windows {
namespace {

// Every key the interface's sources look up by name ("Text(...)" and
// "Format(...)" of the windows' texts, "Text(...)" of the bridge's
// catalogue) with a literal, and the file categories' titles the bridge
// looks up from its table (the browser's file-type tree shows them): the
// keys a user would otherwise see raw.
std::set<QString> KeysTheSourcesUse() {
    static const QRegularExpression lookup(QStringLiteral(
        R"re(\b(?:Text|Format)\(\s*(?:QStringLiteral\(\s*)?"([^"\\]+)"|\{\s*CATEGORY_\w+\s*,\s*"([^"\\]+)")re"));
    std::set<QString> keys;
    const QString root = QString::fromStdString(test::SourceDir()) + QStringLiteral("/UI");
    QDirIterator files(root, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(file.readAll());
        for (auto it = lookup.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            keys.insert(match.captured(1).isEmpty() ? match.captured(2) : match.captured(1));
        }
    }
    return keys;
}

TEST(InterfaceTexts, EveryKeyTheInterfaceLooksUpHasAnEnglishText) {
    const std::set<QString> keys = KeysTheSourcesUse();
    // The scan must find the lookups at all, or the test proves nothing.
    ASSERT_TRUE(keys.count(QStringLiteral("DEVICE_NAME_UNTITILED")));
    ASSERT_TRUE(keys.count(QStringLiteral("PLX_TWO_CONTINUE_BUTTON")));
    ASSERT_TRUE(keys.count(QStringLiteral("PLX_TWO_MOVIE_TITLE")));
    for (const QString& key : keys) {
        const QString text = ui::texts::Text(key);
        EXPECT_FALSE(text.isEmpty()) << key.toStdString();
        // "USB Bus" is its own English text; a key like "PLX_..." never is.
        if (key.contains(QLatin1Char('_')))
            EXPECT_NE(text, key) << key.toStdString() << " has no English text";
    }
}

class BridgeTextsTest : public testing::WindowTest {
protected:
    void TearDown() override {
        bridge::InstallTextCatalog(nullptr);
        testing::WindowTest::TearDown();
    }
};

TEST_F(BridgeTextsTest, TheCatalogueAnswersFromTheWindowsTablesOrWithTheFallback) {
    InterfaceTextCatalog catalog;
    const struct {
        const char* key;
        const char* fallback;
        std::string text;
    } cases[] = {
        {"DEVICE_NAME_UNTITILED", "", "Untitled"},
        {"PLX_TWO_CONTINUE_BUTTON", "x", "Continue"},
        {"NO_SUCH_KEY_ANYWHERE", "", ""},
        {"NO_SUCH_KEY_ANYWHERE", "NO_SUCH_KEY_ANYWHERE", "NO_SUCH_KEY_ANYWHERE"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(catalog.Text(c.key, c.fallback), c.text) << c.key;
}

// A disk without a name (a loop disk, a virtio disk without a model) reads
// "Untitled" on the disk page, not the key of that text.
TEST_F(BridgeTextsTest, TheMainWindowGivesTheBridgeItsTextsForUntitledDisks) {
    bridge::InstallTextCatalog(nullptr);
    VKRootWindowController controller;
    const DiskVolumeNodePtr disk = seam::FakeBridge::Disk("", 4096, {});
    EXPECT_EQ(disk->name(), "Untitled");
}

}  // namespace
}  // namespace velmora::windows
