// What the two sides of the player show while a new song goes through the real pipeline (fakes
// for the backends, the real store): every state the Now panel and the lyrics area announce, in
// order. Neither side may claim an answer ("no cards", "no lyrics") before the pipeline gave it.

#include "SessionRig.h"

#include "session/qml/ClockHandle.h"
#include "ui/player/CompactLyricsPanelController.h"
#include "ui/player/NowViewController.h"

#include <QTest>

#include <algorithm>
#include <stdexcept>

using namespace sessionrig;
using namespace std::chrono_literals;

namespace {

using Now = NowViewController;
using Lyrics = CompactLyricsPanelController;

// The distinct values in the order they were announced.
struct Sequence
{
    QList<int> seen;
    void note(int value)
    {
        if (seen.isEmpty() || seen.constLast() != value)
            seen << value;
    }
    // Only `waiting` before `answer`, and `answer` last.
    bool answeredOnce(int waiting, int answer) const
    {
        return !seen.isEmpty() && seen.constLast() == answer
               && std::all_of(seen.cbegin(), seen.cend() - 1, [waiting](int value) { return value == waiting; });
    }
};

} // namespace

class TestNewSongStates : public QObject
{
    Q_OBJECT

private slots:
    void statesOfANewSong_data()
    {
        QTest::addColumn<QString>("setup");
        // What each side shows once the pipeline has answered; before that only its waiting
        // state (the Now panel's loading cards, the lyrics area's fetching state), if anything.
        QTest::addColumn<int>("nowAnswer");
        QTest::addColumn<int>("lyricsAnswer");
        QTest::newRow("cards generated") << "generate" << int(Now::Cards) << int(Lyrics::LinesArea);
        QTest::newRow("song and cards stored") << "stored" << int(Now::Cards) << int(Lyrics::LinesArea);
        QTest::newRow("cards failed") << "cardsFail" << int(Now::CardsError) << int(Lyrics::LinesArea);
        QTest::newRow("other language") << "french" << int(Now::NotTargetLanguage) << int(Lyrics::LinesArea);
        // The one answer that really is "no cards": the song has no lyrics.
        QTest::newRow("no lyrics") << "noLyrics" << int(Now::Empty) << int(Lyrics::FailureArea);
    }

    void statesOfANewSong()
    {
        QFETCH(QString, setup);
        QFETCH(int, nowAnswer);
        QFETCH(int, lyricsAnswer);

        Rig rig;
        const QString title = QStringLiteral("Song");
        if (setup == u"stored") {
            rig.cardStore.upsertSong(track(title).songKey(), title, QStringLiteral("Artist"), lrcText,
                                     QStringLiteral("en"), {card(QStringLiteral("early"), 3)});
        }
        auto &lyricsScript = rig.remote->scripts[title].outcomes;
        if (setup == u"noLyrics")
            lyricsScript = {FakeOutcome<RemoteLyricsFetchResult>::success(
                {LyricsResult::notFound(), LyricsSource::lrclib, std::nullopt})};
        else
            lyricsScript = {FakeOutcome<RemoteLyricsFetchResult>::success(lyrics(setup == u"french" ? "fr" : "en"))};
        lyricsScript.first().delay = 120ms;
        if (setup == u"cardsFail")
            rig.llm->script.any.outcomes = {FakeOutcome<QList<GoldenCard>>::failure(
                std::runtime_error("no model"))};
        rig.llm->script.any.outcomes.first().delay = 80ms;

        ClockHandle clocks(&rig.clock, WallClock::system());
        NowViewController now;
        now.setVm(&rig.vm);
        now.setCardStore(&rig.cardStore);
        now.setCardLighting(&rig.lighting);
        now.setClocks(&clocks);
        now.componentComplete();
        Lyrics lyricsPanel;
        lyricsPanel.setVm(&rig.vm);

        // What a binding on each side reads whenever its controller announces a change.
        Sequence nowSeen;
        Sequence lyricsSeen;
        connect(&now, &NowViewController::changed, this, [&] {
            if (rig.vm.track())
                nowSeen.note(now.listContent());
        });
        connect(&lyricsPanel, &CompactLyricsPanelController::stateChanged, this, [&] {
            if (rig.vm.track())
                lyricsSeen.note(lyricsPanel.lyricsArea());
        });

        rig.coordinator.start();
        rig.play(track(title));
        QTRY_VERIFY(rig.vm.track() && rig.idle());
        QTest::qWait(150); // anything announced after the pipeline ended
        const auto text = [](const QList<int> &states) {
            QStringList out;
            for (int state : states)
                out << QString::number(state);
            return out.join(u',');
        };
        QVERIFY2(nowSeen.answeredOnce(Now::Loading, nowAnswer), qPrintable(text(nowSeen.seen)));
        QVERIFY2(lyricsSeen.answeredOnce(Lyrics::FetchingArea, lyricsAnswer), qPrintable(text(lyricsSeen.seen)));
    }
};

QTEST_MAIN(TestNewSongStates)
#include "tst_newsongstates.moc"
