// Screenshots of the player screen under a virtual X display (OpenGL, so the background's
// shader draws), into build/screenshots/player/: idle, mid-song, fetching, failure, a CJK line,
// at the window's default and minimum sizes.
#include "DesignTestSupport.h"
#include "tst_lyrics_fixture.h"

#include <QDir>
#include <QImage>
#include <QtTest>

using namespace std::chrono_literals;
using lyricstest::PlayerGraph;

class TestLyricsScreens : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void screens_data();
    void screens();

private:
    QDir m_out;
};

void TestLyricsScreens::initTestCase()
{
    designtest::configureApplication();
    m_out = QDir(QStringLiteral(CANTORELLA_BINARY_DIR "/screenshots/player"));
    QVERIFY(m_out.mkpath(QStringLiteral(".")));
}

void TestLyricsScreens::screens_data()
{
    QTest::addColumn<QString>("scene");
    QTest::addColumn<QSize>("size");
    for (const QString scene : {"idle", "midsong", "fetching", "failure", "cjk"}) {
        for (const QSize size : {QSize(800, 950), QSize(680, 800)})
            QTest::addRow("%s-%dx%d", qPrintable(scene), size.width(), size.height()) << scene << size;
    }
}

void TestLyricsScreens::screens()
{
    QFETCH(QString, scene);
    QFETCH(QSize, size);
    PlayerGraph g;
    if (scene == u"midsong") {
        g.startSong(PlayerGraph::lines(40), 63.0);
        g.seek(63.0, 0.0);
    } else if (scene == u"cjk") {
        QList<SyncedLine> lines = PlayerGraph::lines(40);
        lines[25].text = QStringLiteral("我们 一起 唱 这首 歌 直到 天亮 为止 不要 停下");
        lines[24].text = QStringLiteral("Mixed 中文 and English <b>&amp; line");
        g.startSong(lines, 64.0);
        g.seek(64.0, 0.0);
    } else if (scene == u"fetching") {
        g.vm.resetForNewSong(PlayerGraph::track(QStringLiteral("A Song Whose Title Is Long Enough To Wrap Onto Two Rows")));
    } else if (scene == u"failure") {
        g.vm.resetForNewSong(PlayerGraph::track());
        g.vm.setLyricsError(QString());
        g.vm.setLyricsErrorDetail(std::nullopt);
        g.vm.setErrorState(CantorellaError::mediaRemoteUnavailable());
        g.vm.setErrorState(CantorellaError::lyricsUnavailable());
    }
    designtest::Scene view;
    const QVariantMap properties{
        {QStringLiteral("vm"), QVariant::fromValue<QObject *>(&g.vm)},
        {QStringLiteral("cardStore"), QVariant::fromValue<QObject *>(nullptr)},
        {QStringLiteral("cardLighting"), QVariant::fromValue<QObject *>(&g.lighting)},
        {QStringLiteral("toastCenter"), QVariant::fromValue<QObject *>(&g.toasts)},
        {QStringLiteral("clocks"), QVariant::fromValue<QObject *>(&g.clocks)},
        // Reduce Motion off only mid-song, where past lines fade; the background rests elsewhere.
        {QStringLiteral("reduceMotion"), scene != u"midsong"},
    };
    QVERIFY(view.load("import QtQuick\nimport Cantorella.Player\nMainView {}\n", size, properties));
    view.window->requestActivate();
    g.advance(200ms);
    QTest::qWait(300);
    const QImage image = view.window->grabWindow();
    QVERIFY(!image.isNull());
    QVERIFY(image.save(m_out.filePath(QStringLiteral("%1-%2x%3.png").arg(scene).arg(size.width()).arg(size.height()))));
}

QTEST_MAIN(TestLyricsScreens)
#include "tst_lyricsscreens_xvfb.moc"
