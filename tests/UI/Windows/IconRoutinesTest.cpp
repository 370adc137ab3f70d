#include "Windows/CFIconAdditions.h"

#include <gtest/gtest.h>

#include <QImage>

#include "support/TestSupport.h"

namespace velmora::windows {
namespace {

TEST(IconRoutines, AnExistingPathGivesAPictureAnythingElseNothing) {
    velmora::test::TempDir dir;
    const QString folder = QString::fromStdString(dir.path());
    const struct {
        QString path;
        bool picture;
    } cases[] = {
        {folder, true},
        {QStringLiteral("/dev/null"), true},
        {folder + "/missing", false},
        {QString(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const QByteArray data = copyIconDataForPath(c.path);
        EXPECT_EQ(!data.isEmpty(), c.picture);
        if (c.picture) {
            EXPECT_FALSE(QImage::fromData(data, "PNG").isNull());
        }
    }
    EXPECT_TRUE(copyIconDataForURL(QUrl("https://example.org/x")).isEmpty());
}

}  // namespace
}  // namespace velmora::windows
