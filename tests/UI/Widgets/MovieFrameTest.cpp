// Poster frames of movie files through ffmpeg: any file name is a local
// file, files that are no movie give nothing, the private folder goes
// away, and the frame reaches the main thread only while its receiver
// lives. The movies are made here by ffmpeg itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include "Widgets/MovToImag.h"
#include "Widgets/MovieFrameSource.h"

using velmora::ui::FfmpegFrameSource;

namespace {

QString Ffmpeg() {
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

// A one-second red movie of 64 x 48 pixels, losslessly coded.
bool MakeRedMovie(const QString& path) {
    QProcess ffmpeg;
    ffmpeg.start(Ffmpeg(), {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                            "color=c=red:s=64x48:d=1:r=5", "-c:v", "ffv1", "-y",
                            QStringLiteral("file:") + path});
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0;
}

bool IsRed(const QColor& c) {
    return c.red() > 200 && c.green() < 40 && c.blue() < 40;
}

class MovieFrame : public testing::Test {
protected:
    void SetUp() override {
        if (Ffmpeg().isEmpty()) {
            GTEST_SKIP() << "ffmpeg is not installed (Debian package ffmpeg)";
        }
        ASSERT_TRUE(dir_.isValid());
        // The thumbnailer's private folders go under this test's own folder.
        oldTmp_ = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(dir_.filePath(QStringLiteral("tmp"))));
        QDir().mkpath(dir_.filePath(QStringLiteral("tmp")));
    }
    void TearDown() override {
        if (oldTmp_.isNull()) {
            qunsetenv("TMPDIR");
        } else {
            qputenv("TMPDIR", oldTmp_);
        }
    }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QStringList leftInTmp() const {
        return QDir(dir_.filePath(QStringLiteral("tmp")))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    QTemporaryDir dir_;
    QByteArray oldTmp_;
};

TEST_F(MovieFrame, AnyNameIsALocalFileAndWhatIsNoMovieGivesNothing) {
    const QString plain = path(QStringLiteral("clip.mkv"));
    const QString awkward = path(QStringLiteral("-y http:clip|x.mkv"));
    ASSERT_TRUE(MakeRedMovie(plain));
    ASSERT_TRUE(QFile::copy(plain, awkward));
    QFile text(path(QStringLiteral("notes.mkv")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a movie at all\n");
    text.close();

    const struct {
        QString file;
        bool frame;
    } cases[] = {
        {plain, true},
        {awkward, true},
        {path(QStringLiteral("notes.mkv")), false},
        {path(QStringLiteral("missing.mkv")), false},
        {dir_.path(), false},
        {QString(), false},
    };
    FfmpegFrameSource source;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        const QImage image = source.PosterFrame(c.file);
        EXPECT_EQ(!image.isNull(), c.frame);
        if (c.frame) {
            EXPECT_EQ(image.size(), QSize(64, 48));
            EXPECT_TRUE(IsRed(image.pixelColor(32, 24)));
        }
        EXPECT_TRUE(leftInTmp().isEmpty()) << leftInTmp().join(", ").toStdString();
    }
    // A missing thumbnailer gives nothing rather than failing.
    EXPECT_TRUE(FfmpegFrameSource(path(QStringLiteral("no-ffmpeg"))).PosterFrame(plain).isNull());
}

TEST_F(MovieFrame, TheFrameIsMadeOffTheMainThreadAndReachesOnlyALiveReceiver) {
    const QString movie = path(QStringLiteral("clip.mkv"));
    ASSERT_TRUE(MakeRedMovie(movie));
    auto source = std::make_shared<FfmpegFrameSource>();
    QImage received;
    bool onMainThread = false;
    int deliveries = 0;
    QObject receiver;
    auto gone = std::make_unique<QObject>();
    velmora::ui::PosterFrameLater(source, movie, &receiver, [&](const QImage& image) {
        received = image;
        onMainThread = QThread::currentThread() == qApp->thread();
        ++deliveries;
    });
    velmora::ui::PosterFrameLater(source, movie, gone.get(), [&](const QImage&) { ++deliveries; });
    gone.reset();
    for (int i = 0; i < 600 && deliveries == 0; ++i) {
        QThread::msleep(50);
        QApplication::processEvents();
    }
    QThreadPool::globalInstance()->waitForDone();
    QApplication::processEvents();
    EXPECT_EQ(deliveries, 1);
    EXPECT_TRUE(onMainThread);
    EXPECT_TRUE(IsRed(received.pixelColor(10, 10)));
}

TEST_F(MovieFrame, MovToImagTakesThePosterFrameOfItsPath) {
    const QString movie = path(QStringLiteral("clip.mkv"));
    ASSERT_TRUE(MakeRedMovie(movie));
    MovToImag poster(std::make_shared<FfmpegFrameSource>());
    poster.setM_strMovPath(movie);
    poster.setM_strDestPath(path(QStringLiteral("out")));
    EXPECT_TRUE(poster.m_bExecute());
    poster.ExcuteInMainThread();
    EXPECT_FALSE(poster.m_bExecute());
    EXPECT_EQ(poster.m_pImage().size(), QSize(64, 48));

    poster.setM_strMovPath(path(QStringLiteral("missing.mkv")));
    poster.ExcuteInMainThread();
    EXPECT_TRUE(poster.m_pImage().isNull());
}

}  // namespace
