// The probe and the fetcher against servers on 127.0.0.1 only.
#include "UIPlatform/Network.h"

#include <gtest/gtest.h>

#include "LoopbackServer.h"
#include "QtPrinters.h"

#include <QTest>

#include <optional>

using namespace velmora::ui;

namespace {

template <typename T>
std::optional<T> Await(std::optional<T>& slot, int ms = 10000) {
    (void)QTest::qWaitFor([&] { return slot.has_value(); }, ms);
    return slot;
}

}  // namespace

TEST(Network, ProbeAnswersYesForAnyHttpAnswerAndNoOtherwise) {
    LoopbackServer ok(Http(200, "hello"));
    LoopbackServer missing(Http(404, "nothing here"));
    LoopbackServer silent("");
    QObject context;
    struct Case {
        QString url;
        int timeoutMs;
        bool answer;
    } cases[] = {
        {ok.Url(), 5000, true},
        {missing.Url(), 5000, true},
        {QString("http://127.0.0.1:%1/").arg(ClosedPort()), 5000, false},
        {silent.Url(), 300, false},
    };
    for (const auto& c : cases) {
        std::optional<bool> answer;
        Network::Probe(c.url, c.timeoutMs, &context, [&](bool up) { answer = up; });
        // Within its own time-out and a margin for a loaded machine.
        ASSERT_TRUE(Await(answer, c.timeoutMs + 5000)) << c.url.toStdString();
        EXPECT_EQ(*answer, c.answer) << c.url.toStdString();
    }
    EXPECT_EQ(silent.connections, 1);
}

TEST(Network, EmptyOrOddAddressesMakeNoRequest) {
    LoopbackServer server(Http(200, "x"));
    QObject context;
    const QString port = QString::number(QUrl(server.Url()).port());
    for (const QString& url :
         QStringList{QString(), QString("  "), "ftp://127.0.0.1:" + port + "/",
                     "file:///etc/passwd", QString("not a url"), QString("http://")}) {
        std::optional<bool> answer;
        Network::Probe(url, 1000, &context, [&](bool up) { answer = up; });
        EXPECT_FALSE(answer.has_value()) << "answers later, never inside the call";
        ASSERT_TRUE(Await(answer)) << url.toStdString();
        EXPECT_FALSE(*answer) << url.toStdString();
    }
    EXPECT_EQ(server.connections, 0);
}

TEST(Network, FetcherGivesBodiesAndPropertyLists) {
    const QByteArray plist = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>VersionCheck</key><integer>7</integer>
<key>Version</key><string>2.1</string><key>1</key><string>Faster scans</string></dict></plist>)";
    LoopbackServer update(Http(200, plist));
    LoopbackServer junk(Http(200, "<html>not a plist</html>"));
    LoopbackServer missing(Http(404, plist));
    LoopbackServer huge(Http(200, QByteArray(Network::kMaxBody + 1, 'x')));
    QObject context;

    std::optional<QVariant> parsed;
    Network::FetchPlist(update.Url("/update.plist"), 5000, &context,
                        [&](const QVariant& v) { parsed = v; });
    ASSERT_TRUE(Await(parsed));
    EXPECT_EQ(parsed->toMap().value("VersionCheck").toLongLong(), 7);
    EXPECT_EQ(parsed->toMap().value("1").toString(), "Faster scans");
    EXPECT_TRUE(update.request.startsWith("GET /update.plist "));

    for (LoopbackServer* bad : {&junk, &missing}) {
        std::optional<QVariant> none;
        Network::FetchPlist(bad->Url(), 5000, &context, [&](const QVariant& v) { none = v; });
        ASSERT_TRUE(Await(none));
        EXPECT_FALSE(none->isValid());
    }

    std::optional<FetchResult> big;
    Network::Fetch(huge.Url(), 10000, &context, [&](const FetchResult& r) { big = r; });
    ASSERT_TRUE(Await(big, 15000));
    EXPECT_FALSE(big->ok);
    EXPECT_TRUE(big->body.isEmpty());

    std::optional<FetchResult> notFound;
    Network::Fetch(missing.Url(), 5000, &context, [&](const FetchResult& r) { notFound = r; });
    ASSERT_TRUE(Await(notFound));
    EXPECT_FALSE(notFound->ok);
    EXPECT_EQ(notFound->status, 404);
}

TEST(Network, NoAnswerReachesAContextThatIsGone) {
    LoopbackServer server(Http(200, "x"));
    bool called = false;
    auto context = std::make_unique<QObject>();
    Network::Probe(server.Url(), 5000, context.get(), [&](bool) { called = true; });
    Network::Probe(QString(), 5000, context.get(), [&](bool) { called = true; });
    context.reset();
    QTest::qWait(300);
    EXPECT_FALSE(called);
}
