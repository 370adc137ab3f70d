// The search of the results over the scripted bridge.
#include <QMenu>

#include <memory>

#include "Browser/VKSearchController.h"
#include "BrowserDoubles.h"
#include "UIPlatform/Texts.h"

namespace velmora::browser {
namespace {

using C = BrowserControl;

class SearchControllerTest : public testing::BrowserTest {
protected:
    void Finish() {
        ui::NotificationCenter::defaultCenter().post(QStringLiteral("DoSearchFinished"));
    }
    bool Search(VKSearchController& search, const QString& text) {
        browser.search = text;
        return search.doSearch();
    }
};

TEST_F(SearchControllerTest, Normalisation) {
    const QChar nbsp(0x00A0);
    struct Case {
        QString text, key;
    };
    const Case cases[] = {
        {QStringLiteral("photo"), QStringLiteral("photo")},
        {QStringLiteral(" photo "), QStringLiteral("photo")},
        {QStringLiteral("  photo  "), QStringLiteral(" photo ")},
        {QStringLiteral("a") + nbsp + QStringLiteral("b"), QStringLiteral("a b")},
        {QStringLiteral("a") + nbsp + nbsp + nbsp + QStringLiteral("b"), QStringLiteral("a b")},
        {nbsp + QStringLiteral("x") + nbsp, QStringLiteral("x")},
        // The mis-read byte pair is text like any other.
        {QStringLiteral("\u00C2  x"), QStringLiteral("\u00C2  x")},
        {QString(), QString()},
        {QStringLiteral(" "), QString()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VKSearchController::NormalizeSearchText(c.text), c.key) << c.text.toStdString();
}

// Blank queries search nothing and leave no blank recent; a repeated key
// searches once, except for the Desktop entry.
TEST_F(SearchControllerTest, BlankAndRepeatedQueries) {
    struct Case {
        std::vector<QString> texts;
        bool desktop;
        int searches;
        QStringList recents;
    };
    const Case cases[] = {
        {{QStringLiteral(" ")}, false, 0, {}},
        {{QStringLiteral("  ")}, false, 0, {}},
        {{QStringLiteral("cat"), QStringLiteral("cat")}, false, 1, {QStringLiteral("cat")}},
        {{QStringLiteral("cat"), QStringLiteral(" cat ")}, false, 1, {QStringLiteral("cat")}},
        {{QStringLiteral("cat"), QStringLiteral("dog")},
         false,
         2,
         {QStringLiteral("dog"), QStringLiteral("cat")}},
        {{QStringLiteral("Desktop"), QStringLiteral("Desktop")}, true, 2, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.texts.front().toStdString());
        bridge.calls.clear();
        bridge.searchKey.clear();
        VKSearchController search(browser);
        search.selectClear();
        search.setSelectDesktop(c.desktop);
        for (const QString& text : c.texts) {
            Search(search, text);
            Finish();
        }
        EXPECT_EQ(bridge.CountOf("DoSearchWithString"), c.searches);
        EXPECT_EQ(search.recentSearches(), c.recents);
        EXPECT_EQ(ui::UserDefaults::standard().stringList(QStringLiteral("searchRecent")),
                  c.recents);
    }
}

// Typed on while a search ran: the newer text is searched once the running
// search ends, and the display waits for that one.
TEST_F(SearchControllerTest, TypingDuringSearchSearchesAgain) {
    VKSearchController search(browser);
    EXPECT_TRUE(Search(search, QStringLiteral("abc")));
    EXPECT_FALSE(browser.enabled(C::BackHome));
    EXPECT_FALSE(Search(search, QStringLiteral("abcd")));
    EXPECT_EQ(bridge.searchKey, "abc");
    Finish();
    EXPECT_EQ(bridge.searchKey, "abcd");
    EXPECT_EQ(search.lastSearchStr(), QStringLiteral("abcd"));
    EXPECT_TRUE(browser.shownHits.empty());
    EXPECT_FALSE(browser.enabled(C::BackHome));
    Finish();
    EXPECT_EQ(bridge.CountOf("DoSearchWithString:abcd"), 2);
    EXPECT_EQ(browser.shownHits, std::vector<bool>{true});
    EXPECT_TRUE(browser.enabled(C::BackHome));
    EXPECT_TRUE(browser.enabled(C::CloseButton));
}

// Clearing after a search runs the empty search that restores the trees;
// with no search held it does nothing.
TEST_F(SearchControllerTest, ClearingRestoresTheFullTrees) {
    VKSearchController search(browser);
    EXPECT_FALSE(search.searchClearButtonClick());
    EXPECT_EQ(bridge.CountOf("DoSearchWithString"), 0);
    Search(search, QStringLiteral("cat"));
    Finish();
    EXPECT_TRUE(search.searchClearButtonClick());
    EXPECT_EQ(bridge.CountOf("DoSearchWithString::DoSearchValue"), 1);
    Finish();
    EXPECT_EQ(browser.shownHits, (std::vector<bool>{true, false}));
}

// The recents menu lists what was searched, newest first; choosing one
// searches it again, "clear" empties the list.
TEST_F(SearchControllerTest, RecentsMenu) {
    VKSearchController search(browser);
    auto titles = [&] {
        std::unique_ptr<QMenu> menu(search.searchMenu(nullptr));
        QStringList out;
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator() && !a->isEnabled())
                out << QStringLiteral("(") + a->text() + QStringLiteral(")");
            else if (!a->isSeparator())
                out << a->text();
        }
        return out;
    };
    const QString none = QStringLiteral("(") + ui::texts::Text(QStringLiteral("NO_RECENT_SEARCH")) +
                         QStringLiteral(")");
    EXPECT_TRUE(titles().contains(none));
    Search(search, QStringLiteral("cat"));
    Finish();
    Search(search, QStringLiteral("dog"));
    Finish();
    const QStringList listed = titles();
    EXPECT_FALSE(listed.contains(none));
    EXPECT_LT(listed.indexOf(QStringLiteral("dog")), listed.indexOf(QStringLiteral("cat")));

    std::unique_ptr<QMenu> menu(search.searchMenu(nullptr));
    for (QAction* a : menu->actions()) {
        if (a->text() == QStringLiteral("cat"))
            a->trigger();
    }
    EXPECT_EQ(browser.search, QStringLiteral("cat"));
    EXPECT_EQ(bridge.searchKey, "cat");
    for (QAction* a : menu->actions()) {
        if (a->text() == ui::texts::Text(QStringLiteral("CLEAR")))
            a->trigger();
    }
    EXPECT_TRUE(search.recentSearches().isEmpty());
    EXPECT_TRUE(titles().contains(none));
}

}  // namespace
}  // namespace velmora::browser
