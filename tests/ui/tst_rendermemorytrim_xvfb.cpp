// The render trim's schedule: a song change releases the window's caches once, at the first
// frame after it, on the window's thread; other frames trim the pooled uploads at most once an
// interval. And in a real window: the release frees what scripts no longer reach, and after
// both the next frame draws the same picture. A position sample of the playing song releases
// nothing; a new song, its lines or its cards do.

#include "tst_lyrics_fixture.h"

#include "app/RenderMemoryTrim.h"

#include <QGuiApplication>
#include <QImage>
#include <QJSValue>
#include <QPointer>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <chrono>
#include <memory>

using namespace std::chrono_literals;

namespace {

struct Counts
{
    int trims = 0;
    int releases = 0;
};

RenderMemoryTrim::Actions counting(Counts &counts)
{
    return {[&counts] { ++counts.trims; }, [&counts] { ++counts.releases; }};
}

} // namespace

class RenderMemoryTrimTest : public QObject
{
    Q_OBJECT

private slots:
    void schedule_data();
    void schedule();
    void followsSongsNotSamples_data();
    void followsSongsNotSamples();
    void releaseCollectsScriptGarbage();
    void pictureSurvivesTrims();
};

void RenderMemoryTrimTest::schedule_data()
{
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<int>("songChanges"); // before the frames
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("trims");
    QTest::addColumn<int>("releases");

    QTest::newRow("frames within the interval") << 3600000 << 0 << 5 << 0 << 0;
    QTest::newRow("every frame past the interval") << 0 << 0 << 3 << 3 << 0;
    QTest::newRow("song change: one release at the next frame") << 3600000 << 1 << 4 << 0 << 1;
    QTest::newRow("song and its cards before one frame") << 3600000 << 2 << 1 << 0 << 1;
    QTest::newRow("the release frame trims nothing more") << 0 << 1 << 3 << 2 << 1;
}

void RenderMemoryTrimTest::schedule()
{
    QFETCH(int, intervalMs);
    QFETCH(int, songChanges);
    QFETCH(int, frames);
    QFETCH(int, trims);
    QFETCH(int, releases);

    QQuickWindow window; // never shown: only the frames the test reports
    Counts counts;
    RenderMemoryTrim trim(&window, counting(counts), std::chrono::milliseconds(intervalMs));
    for (int i = 0; i < songChanges; ++i)
        trim.songViewsReplaced();
    QCOMPARE(counts.releases, 0); // nothing before a frame shows the new views
    for (int i = 0; i < frames; ++i)
        emit window.frameSwapped();
    // The release is queued to the window's thread; the trims run in the frame.
    QTRY_COMPARE(counts.releases, releases);
    QCOMPARE(counts.trims, trims);
    // Nothing more is pending.
    QCoreApplication::processEvents();
    QCOMPARE(counts.releases, releases);
}

void RenderMemoryTrimTest::followsSongsNotSamples_data()
{
    QTest::addColumn<QString>("title"); // of the track written after "A" has settled
    QTest::addColumn<double>("elapsed");
    QTest::addColumn<bool>("newLines");
    QTest::addColumn<bool>("newSession");
    QTest::addColumn<int>("releases");

    QTest::newRow("a later position of the same song") << "A" << 12.5 << false << false << 0;
    QTest::newRow("the same song paused at its position") << "A" << 2.0 << false << false << 0;
    QTest::newRow("the song's lyric lines") << "A" << 2.0 << true << false << 1;
    QTest::newRow("a new song and its lines") << "B" << 0.0 << true << true << 1;
}

void RenderMemoryTrimTest::followsSongsNotSamples()
{
    QFETCH(QString, title);
    QFETCH(double, elapsed);
    QFETCH(bool, newLines);
    QFETCH(bool, newSession);
    QFETCH(int, releases);

    lyricstest::PlayerGraph graph;
    PlayerViewModel &vm = graph.vm;
    NowPlayingTrack track = lyricstest::PlayerGraph::track(QStringLiteral("A"));
    track.elapsed = 2.0;
    vm.resetForNewSong(track);
    vm.setLyricLines({{1, QStringLiteral("one")}});

    QQuickWindow window; // never shown: only the frames the test reports
    Counts counts;
    RenderMemoryTrim trim(&window, counting(counts), std::chrono::hours(1));
    trim.followSongs(&vm);

    track.title = title;
    track.elapsed = elapsed;
    track.isPlaying = title != u"A" || elapsed != 2.0;
    {
        PlayerViewModel::Batch batch(&vm); // one update, as the session coordinator makes it
        if (newSession)
            vm.resetForNewSong(track);
        else
            vm.setTrack(track);
        if (newLines)
            vm.setLyricLines({{1, QStringLiteral("one")}, {3, QStringLiteral("two")}});
    }
    emit window.frameSwapped();
    QCoreApplication::processEvents();
    QCOMPARE(counts.releases, releases);

    trim.followSongs(nullptr); // a view model that is no longer followed releases nothing
    vm.setLyricLines({});
    emit window.frameSwapped();
    QCoreApplication::processEvents();
    QCOMPARE(counts.releases, releases);
}

void RenderMemoryTrimTest::releaseCollectsScriptGarbage()
{
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQuick\nWindow { width: 100; height: 100 }", QUrl());
    std::unique_ptr<QObject> root(component.create());
    QVERIFY2(root, qPrintable(component.errorString()));
    auto *window = qobject_cast<QQuickWindow *>(root.get());
    QVERIFY(window);

    // An object only a script held, as a view's that is gone: owned by the engine, unreachable.
    QPointer<QObject> orphan = new QObject;
    QQmlEngine::setObjectOwnership(orphan, QQmlEngine::JavaScriptOwnership);
    { QJSValue wrapper = engine.newQObject(orphan); }

    RenderMemoryTrim::windowActions(window).releaseWindowCaches();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(orphan.isNull());
}

void RenderMemoryTrimTest::pictureSurvivesTrims()
{
    QQmlEngine engine;
    QQmlComponent component(&engine);
    // Text (a glyph cache), a gradient, and a layer: what the trims touch.
    component.setData(R"(
        import QtQuick
        Window {
            width: 320; height: 200; visible: true; color: "#101018"
            Rectangle {
                x: 20; y: 20; width: 280; height: 160; radius: 16
                gradient: Gradient { GradientStop { position: 0; color: "#30e0ff" } GradientStop { position: 1; color: "#a040ff" } }
                layer.enabled: true
                Text { anchors.centerIn: parent; text: "释义 meaning"; font.pixelSize: 28; color: "white" }
            }
        })", QUrl());
    std::unique_ptr<QObject> root(component.create());
    QVERIFY2(root, qPrintable(component.errorString()));
    auto *window = qobject_cast<QQuickWindow *>(root.get());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QImage before = window->grabWindow();
    QVERIFY(!before.isNull());

    // The window's own actions: a release for the song change, then a trim at every frame.
    RenderMemoryTrim trim(window, RenderMemoryTrim::windowActions(window), 0ms);
    int swapped = 0;
    connect(window, &QQuickWindow::frameSwapped, this, [&swapped] { ++swapped; });
    trim.songViewsReplaced();
    window->update();
    QTRY_VERIFY(swapped >= 1);
    window->update();
    QTRY_VERIFY(swapped >= 2);

    QCOMPARE(window->grabWindow(), before);
}

QTEST_MAIN(RenderMemoryTrimTest)
#include "tst_rendermemorytrim_xvfb.moc"
