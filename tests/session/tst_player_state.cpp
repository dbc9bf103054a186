// The player view model's song state: which fields each pipeline step writes and which it
// leaves, that every signal matches a real change, that an update is complete before its first
// signal, and the small queries. Also the demo content and the player table.
#include "backend/RemoteCardsError.h"
#include "session/MockTrackProvider.h"
#include "session/PlayerSource.h"
#include "session/PlayerViewModel.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <stdexcept>

namespace {

NowPlayingTrack makeTrack(const QString &title, double elapsed = 5.0)
{
    NowPlayingTrack t;
    t.title = title;
    t.artist = QStringLiteral("Artist");
    t.duration = 200.0;
    t.elapsed = elapsed;
    t.isPlaying = true;
    return t;
}

LearnedCardVM makeCard(const QString &en, std::optional<double> time = std::nullopt, bool learned = false)
{
    LearnedCardVM card;
    card.en = en;
    card.tag = QStringLiteral("tag");
    card.id = en + QStringLiteral("|tag");
    card.lineTimestamp = time;
    card.learned = learned;
    return card;
}

const QString kLrc = QStringLiteral("[00:01.00] one two\n[00:05.00] three\n");

LyricsResult someLyrics()
{
    return PlayerViewModel::lyricsResultFromRaw(kLrc);
}

// Every observable field of the song state.
struct Snapshot
{
    std::optional<NowPlayingTrack> track;
    quint64 songSessionId = 0;
    std::optional<LyricsResult> lyricsResult;
    QList<SyncedLine> lyricLines;
    QList<LearnedCardVM> cards;
    std::optional<CantorellaError> errorState;
    std::optional<QString> cardsErrorDetail;
    std::optional<QString> lyricsErrorDetail;
    bool isLoadingLyrics = false;
    bool isLoadingCards = false;
    std::optional<LyricsSource> currentSource;
    std::optional<QString> currentLanguage;
    std::optional<QString> notTargetLanguageState;
    std::optional<SongStory> currentStory;
    bool isStoryModalOpen = false;
    std::optional<SampleAnchor> anchor;
    bool hasMemo = false;

    static Snapshot of(const PlayerViewModel &m)
    {
        return Snapshot{m.track(), m.songSessionId(), m.lyricsResult(), m.lyricLines(), m.cards(), m.errorState(),
                        m.cardsErrorDetail(), m.lyricsErrorDetail(), m.isLoadingLyrics(), m.isLoadingCards(),
                        m.currentSource(), m.currentLanguage(), m.notTargetLanguageState(), m.currentStory(),
                        m.isStoryModalOpen(), m.anchor(), m.activeCardIdCache().has_value()};
    }
};

// One signal per field, in Snapshot order; the anchor's signal goes with any write.
const std::vector<std::pair<const char *, void (PlayerViewModel::*)()>> kSignals{
    {"track", &PlayerViewModel::trackChanged},
    {"songSessionId", &PlayerViewModel::songSessionIdChanged},
    {"lyricsResult", &PlayerViewModel::lyricsResultChanged},
    {"lyricLines", &PlayerViewModel::lyricLinesChanged},
    {"cards", &PlayerViewModel::cardsChanged},
    {"errorState", &PlayerViewModel::errorStateChanged},
    {"cardsErrorDetail", &PlayerViewModel::cardsErrorDetailChanged},
    {"lyricsErrorDetail", &PlayerViewModel::lyricsErrorDetailChanged},
    {"isLoadingLyrics", &PlayerViewModel::isLoadingLyricsChanged},
    {"isLoadingCards", &PlayerViewModel::isLoadingCardsChanged},
    {"currentSource", &PlayerViewModel::currentSourceChanged},
    {"currentLanguage", &PlayerViewModel::currentLanguageChanged},
    {"notTargetLanguageState", &PlayerViewModel::notTargetLanguageStateChanged},
    {"currentStory", &PlayerViewModel::currentStoryChanged},
    {"isStoryModalOpen", &PlayerViewModel::isStoryModalOpenChanged},
};

QList<bool> changedFields(const Snapshot &a, const Snapshot &b)
{
    return {a.track != b.track,
            a.songSessionId != b.songSessionId,
            a.lyricsResult != b.lyricsResult,
            a.lyricLines != b.lyricLines,
            a.cards != b.cards,
            a.errorState != b.errorState,
            a.cardsErrorDetail != b.cardsErrorDetail,
            a.lyricsErrorDetail != b.lyricsErrorDetail,
            a.isLoadingLyrics != b.isLoadingLyrics,
            a.isLoadingCards != b.isLoadingCards,
            a.currentSource != b.currentSource,
            a.currentLanguage != b.currentLanguage,
            a.notTargetLanguageState != b.notTargetLanguageState,
            a.currentStory != b.currentStory,
            a.isStoryModalOpen != b.isStoryModalOpen};
}

void compareSnapshots(const Snapshot &actual, const Snapshot &expected)
{
    QCOMPARE(actual.track, expected.track);
    QCOMPARE(actual.songSessionId, expected.songSessionId);
    QCOMPARE(actual.lyricsResult.has_value(), expected.lyricsResult.has_value());
    QVERIFY(actual.lyricsResult == expected.lyricsResult);
    QCOMPARE(actual.lyricLines, expected.lyricLines);
    QVERIFY(actual.cards == expected.cards);
    QCOMPARE(actual.errorState.has_value(), expected.errorState.has_value());
    if (actual.errorState)
        QCOMPARE(actual.errorState->description(), expected.errorState->description());
    QCOMPARE(actual.cardsErrorDetail, expected.cardsErrorDetail);
    QCOMPARE(actual.lyricsErrorDetail, expected.lyricsErrorDetail);
    QCOMPARE(actual.isLoadingLyrics, expected.isLoadingLyrics);
    QCOMPARE(actual.isLoadingCards, expected.isLoadingCards);
    QCOMPARE(actual.currentSource, expected.currentSource);
    QCOMPARE(actual.currentLanguage, expected.currentLanguage);
    QCOMPARE(actual.notTargetLanguageState, expected.notTargetLanguageState);
    QVERIFY(actual.currentStory == expected.currentStory);
    QCOMPARE(actual.isStoryModalOpen, expected.isStoryModalOpen);
    QVERIFY(actual.anchor == expected.anchor);
    QCOMPARE(actual.hasMemo, expected.hasMemo);
}

struct Row
{
    const char *name;
    std::function<void(PlayerViewModel &)> prepare; // before the "before" snapshot
    std::function<void(PlayerViewModel &)> operation;
    std::function<void(Snapshot &)> expect; // turns the before snapshot into the expected one
};

const NowPlayingTrack kTrackA = makeTrack(QStringLiteral("Song A"));
const NowPlayingTrack kTrackB = makeTrack(QStringLiteral("Song B"));
const QList<LearnedCardVM> kCards{makeCard("first", 1.0), makeCard("second", 5.0)};
const QList<LearnedCardVM> kOtherCards{makeCard("other", 1.0)};

void clearSongContent(Snapshot &s)
{
    s.lyricsResult.reset();
    s.lyricLines.clear();
    s.cards.clear();
    s.errorState.reset();
    s.cardsErrorDetail.reset();
    s.lyricsErrorDetail.reset();
    s.currentSource.reset();
    s.currentLanguage.reset();
    s.notTargetLanguageState.reset();
    s.currentStory.reset();
    s.isStoryModalOpen = false;
    s.hasMemo = false;
}

const std::vector<Row> &rows()
{
    static const std::vector<Row> table{
        {"resetForNoTrack", nullptr, [](PlayerViewModel &m) { m.resetForNoTrack(); },
         [](Snapshot &s) {
             clearSongContent(s);
             s.track.reset();
             s.anchor.reset();
             s.isLoadingLyrics = s.isLoadingCards = false;
         }},
        {"resetForNewSong", nullptr, [](PlayerViewModel &m) { m.resetForNewSong(kTrackB); },
         [](Snapshot &s) {
             clearSongContent(s);
             s.track = kTrackB;
             s.isLoadingLyrics = true;
             s.isLoadingCards = false;
             ++s.songSessionId;
         }},
        {"applySongState, new content", nullptr,
         [](PlayerViewModel &m) {
             m.applySongState(makeTrack(QStringLiteral("Song A"), 9.0), LyricsResult::notFound(), kOtherCards,
                              QStringLiteral("de"));
         },
         [](Snapshot &s) {
             s.track = makeTrack(QStringLiteral("Song A"), 9.0);
             s.lyricsResult = LyricsResult::notFound();
             s.lyricLines.clear();
             s.cards = kOtherCards;
             s.errorState.reset();
             s.cardsErrorDetail.reset();
             s.isLoadingLyrics = false;
             s.currentLanguage = QStringLiteral("de");
             s.notTargetLanguageState.reset();
             s.hasMemo = false;
             ++s.songSessionId;
         }},
        {"applySongState, same content: only the track",
         nullptr,
         [](PlayerViewModel &m) {
             m.applySongState(makeTrack(QStringLiteral("  song a "), 7.0), someLyrics(), kCards, QStringLiteral("en"));
         },
         [](Snapshot &s) { s.track = makeTrack(QStringLiteral("  song a "), 7.0); }},
        {"applyStoredState, new content", nullptr,
         [](PlayerViewModel &m) { m.applyStoredState(kOtherCards, someLyrics(), std::nullopt); },
         [](Snapshot &s) {
             s.cards = kOtherCards;
             s.errorState.reset();
             s.cardsErrorDetail.reset();
             s.notTargetLanguageState.reset();
             s.currentLanguage.reset();
             s.hasMemo = false;
             ++s.songSessionId;
         }},
        {"beginCardsLoading", nullptr, [](PlayerViewModel &m) { m.beginCardsLoading(); },
         [](Snapshot &s) {
             s.cards.clear();
             s.errorState.reset();
             s.cardsErrorDetail.reset();
             s.isLoadingCards = true;
             s.hasMemo = false;
         }},
        {"setCards keeps a lyrics error", nullptr, [](PlayerViewModel &m) { m.setCards(kOtherCards); },
         [](Snapshot &s) {
             s.cards = kOtherCards;
             s.cardsErrorDetail.reset();
             s.isLoadingCards = false;
             s.hasMemo = false;
         }},
        {"setCards clears a cards error",
         [](PlayerViewModel &m) { m.setErrorState(CantorellaError::cardsUnavailable()); },
         [](PlayerViewModel &m) { m.setCards(kOtherCards); },
         [](Snapshot &s) {
             s.cards = kOtherCards;
             s.errorState.reset();
             s.cardsErrorDetail.reset();
             s.isLoadingCards = false;
             s.hasMemo = false;
         }},
        {"setCardsError", nullptr, [](PlayerViewModel &m) { m.setCardsError(RemoteCardsError::server(503)); },
         [](Snapshot &s) {
             s.errorState = CantorellaError::cardsUnavailable();
             s.cardsErrorDetail = QStringLiteral("服务器暂时不可用 (503)。");
             s.cards.clear();
             s.isLoadingCards = false;
             s.hasMemo = false;
         }},
        {"setNotTargetLanguage", nullptr, [](PlayerViewModel &m) { m.setNotTargetLanguage(QStringLiteral("und")); },
         [](Snapshot &s) {
             s.notTargetLanguageState = QStringLiteral("und");
             s.cards.clear();
             s.cardsErrorDetail.reset();
             s.isLoadingCards = false;
             s.hasMemo = false;
         }},
        {"setLyricsError", nullptr, [](PlayerViewModel &m) { m.setLyricsError(QStringLiteral("detail")); },
         [](Snapshot &s) {
             s.errorState = CantorellaError::lyricsUnavailable();
             s.lyricsErrorDetail = QStringLiteral("detail");
             s.lyricsResult = LyricsResult::notFound();
             s.lyricLines.clear();
             s.cards.clear();
             s.cardsErrorDetail.reset();
             s.currentSource.reset();
             s.currentLanguage.reset();
             s.notTargetLanguageState.reset();
             s.isLoadingLyrics = s.isLoadingCards = false;
             s.hasMemo = false;
         }},
        {"setLyricsNotFound", nullptr, [](PlayerViewModel &m) { m.setLyricsNotFound(LyricsResult::notFound()); },
         [](Snapshot &s) {
             s.lyricsResult = LyricsResult::notFound();
             s.errorState = CantorellaError::lyricsNotFound();
             s.lyricLines.clear();
             s.cards.clear();
             s.cardsErrorDetail.reset();
             s.lyricsErrorDetail.reset();
             s.currentSource.reset();
             s.currentLanguage.reset();
             s.notTargetLanguageState.reset();
             s.isLoadingLyrics = s.isLoadingCards = false;
             s.hasMemo = false;
         }},
        {"clearLoadingFlags", nullptr, [](PlayerViewModel &m) { m.clearLoadingFlags(); },
         [](Snapshot &s) { s.isLoadingLyrics = s.isLoadingCards = false; }},
        {"setError with another error", nullptr, [](PlayerViewModel &m) { m.setError(std::runtime_error("boom")); },
         [](Snapshot &s) {
             s.errorState = CantorellaError::unknown(QStringLiteral("boom"));
             s.cards.clear();
             s.hasMemo = false;
         }},
        {"setError with a player error", nullptr,
         [](PlayerViewModel &m) { m.setError(CantorellaError::mediaRemoteUnavailable()); },
         [](Snapshot &s) {
             s.errorState = CantorellaError::mediaRemoteUnavailable();
             s.cards.clear();
             s.hasMemo = false;
         }},
    };
    return table;
}

} // namespace

class TestPlayerState : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;

    std::unique_ptr<PlayerViewModel> makeModel()
    {
        PlayerViewModelDependencies deps;
        deps.settings = m_settings.get();
        return std::make_unique<PlayerViewModel>([] { return ContinuousInstant{5'000'000'000}; }, deps);
    }

    // Every field set to something that no step would write by itself.
    std::unique_ptr<PlayerViewModel> fullModel()
    {
        auto m = makeModel();
        m->setAnchor(SampleAnchor{ContinuousInstant{1'000'000'000}, 3.0, 1.0});
        m->resetForNewSong(kTrackA);
        m->applySongState(kTrackA, someLyrics(), kCards, QStringLiteral("en"));
        m->setCurrentSource(LyricsSource::netease);
        m->setCurrentStory(SongStory{QStringLiteral("Song A"), QStringLiteral("Artist"), QStringLiteral("Once...")});
        m->setIsStoryModalOpen(true);
        m->setErrorState(CantorellaError::lyricsUnavailable());
        m->setLyricsErrorDetail(QStringLiteral("old lyrics detail"));
        m->setCardsErrorDetail(QStringLiteral("old cards detail"));
        m->setNotTargetLanguageState(QStringLiteral("fr"));
        m->setIsLoadingLyrics(true);
        m->setIsLoadingCards(true);
        m->activeCardId(5.5);
        return m;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_settings = std::make_unique<QSettings>(m_dir.filePath("defaults.ini"), QSettings::IniFormat);
    }

    void initialState()
    {
        auto m = makeModel();
        Snapshot empty;
        compareSnapshots(Snapshot::of(*m), empty);
        QCOMPARE(m->userDefaultsPrefix(), QStringLiteral("unknown"));
    }

    void stepWritesExactlyItsFields_data()
    {
        QTest::addColumn<int>("row");
        for (size_t i = 0; i < rows().size(); ++i)
            QTest::newRow(rows()[i].name) << int(i);
    }

    // What each step writes and leaves, and that its signals are exactly those of the fields
    // whose value changed (songSessionId: of the increment).
    void stepWritesExactlyItsFields()
    {
        QFETCH(int, row);
        const Row &r = rows()[size_t(row)];
        auto m = fullModel();
        if (r.prepare)
            r.prepare(*m);
        const Snapshot before = Snapshot::of(*m);
        QVERIFY(before.hasMemo);

        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (const auto &signal : kSignals)
            spies.push_back(std::make_unique<QSignalSpy>(m.get(), signal.second));

        r.operation(*m);

        Snapshot expected = before;
        r.expect(expected);
        const Snapshot after = Snapshot::of(*m);
        compareSnapshots(after, expected);

        const QList<bool> changed = changedFields(before, after);
        for (size_t i = 0; i < kSignals.size(); ++i) {
            QVERIFY2(spies[i]->count() == (changed[qsizetype(i)] ? 1 : 0),
                     qPrintable(QStringLiteral("%1: %2 signal(s), changed %3")
                                    .arg(kSignals[i].first)
                                    .arg(spies[i]->count())
                                    .arg(changed[qsizetype(i)])));
        }
    }

    // A watcher of any one field sees the whole update already written.
    void signalsGoOutAfterTheWholeUpdate()
    {
        auto m = fullModel();
        bool checked = false;
        connect(m.get(), &PlayerViewModel::cardsChanged, this, [&] {
            QVERIFY(m->errorState() == CantorellaError::cardsUnavailable());
            QVERIFY(m->cardsErrorDetail().has_value());
            QVERIFY(!m->isLoadingCards());
            checked = true;
        });
        m->setCardsError(RemoteCardsError::parse(QStringLiteral("x")));
        QVERIFY(checked);
        QCOMPARE(*m->cardsErrorDetail(), QStringLiteral("卡片响应解析失败。"));

        bool sawSession = false;
        connect(m.get(), &PlayerViewModel::trackChanged, this, [&] {
            QCOMPARE(m->songSessionId(), 3u); // two from fullModel, one from this reset
            QVERIFY(m->isLoadingLyrics());
            sawSession = true;
        });
        m->resetForNewSong(kTrackB);
        QVERIFY(sawSession);
    }

    void equalWritesDoNotNotify()
    {
        auto m = fullModel();
        QSignalSpy loading(m.get(), &PlayerViewModel::isLoadingCardsChanged);
        QSignalSpy track(m.get(), &PlayerViewModel::trackChanged);
        QSignalSpy story(m.get(), &PlayerViewModel::currentStoryChanged);
        QSignalSpy cards(m.get(), &PlayerViewModel::cardsChanged);
        m->clearLoadingFlags();
        m->clearLoadingFlags();
        m->setIsLoadingCards(false);
        m->setTrack(kTrackA);
        m->setCurrentStory(m->currentStory());
        m->replaceCards(m->cards());
        m->setIsStoryModalOpen(true);
        QCOMPARE(loading.count(), 1);
        QCOMPARE(track.count(), 0);
        QCOMPARE(story.count(), 0);
        QCOMPARE(cards.count(), 0);

        // Values without an equality announce every write.
        QSignalSpy anchor(m.get(), &PlayerViewModel::anchorChanged);
        QSignalSpy actor(m.get(), &PlayerViewModel::cardStoreActorChanged);
        m->setAnchor(m->anchor());
        m->setCardStoreActor(nullptr);
        QCOMPARE(anchor.count(), 1);
        QCOMPARE(actor.count(), 1);
    }

    void applySongStateTwiceWritesOnlyTheTrackTheSecondTime()
    {
        auto m = makeModel();
        m->applySongState(kTrackA, someLyrics(), kCards, QStringLiteral("en"));
        QCOMPARE(m->songSessionId(), 1u);
        m->setIsLoadingLyrics(true);
        m->setErrorState(CantorellaError::cardsUnavailable());
        m->setCardsErrorDetail(QStringLiteral("kept"));
        m->applySongState(makeTrack(QStringLiteral("Song A"), 6.0), someLyrics(), kCards, QStringLiteral("en"));
        QCOMPARE(m->songSessionId(), 1u);
        QVERIFY(m->isLoadingLyrics());
        QVERIFY(m->errorState() == CantorellaError::cardsUnavailable());
        QCOMPARE(m->cardsErrorDetail(), std::optional<QString>(QStringLiteral("kept")));
        QCOMPARE(m->track()->elapsed, 6.0);

        // Same lines, another language: a full update.
        m->applySongState(kTrackA, someLyrics(), kCards, QStringLiteral("fr"));
        QCOMPARE(m->songSessionId(), 2u);
        QVERIFY(!m->errorState());
    }

    void lyricsErrorLeavesNotFoundUntilTheNextSong()
    {
        auto m = fullModel();
        m->setLyricsError(QStringLiteral("x"));
        QVERIFY(m->lyricsResult() == LyricsResult::notFound());
        m->resetForNewSong(kTrackB);
        QVERIFY(!m->lyricsResult());
    }

    void lyricsResultFromRaw_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("lines"); // -1: notFound
        QTest::newRow("empty") << QString() << -1;
        QTest::newRow("spaces and newlines") << QStringLiteral(" \n\t\r\n ") << -1;
        QTest::newRow("no time stamps") << QStringLiteral("just words\nmore words") << -1;
        QTest::newRow("tags only") << QStringLiteral("[ti:Title]\n[ar:Artist]") << -1;
        QTest::newRow("synced, padded") << QStringLiteral("\n  [00:01.00] a\n[00:02.50] b  \n") << 2;
    }

    void lyricsResultFromRaw()
    {
        QFETCH(QString, raw);
        QFETCH(int, lines);
        const LyricsResult result = PlayerViewModel::lyricsResultFromRaw(raw);
        if (lines < 0) {
            QVERIFY(result.isNotFound());
        } else {
            QVERIFY(result.isSynced());
            QCOMPARE(result.rawLRC(), raw); // untrimmed
            QCOMPARE(result.lines().size(), lines);
        }
    }

    void smallQueries()
    {
        auto m = makeModel();
        QCOMPARE(m->learnedFraction(), 0.0);
        QCOMPARE(m->trackProgress(), 0.0);
        QCOMPARE(m->trackElapsed(), 0.0);

        NowPlayingTrack noDuration = kTrackA;
        noDuration.duration = 0;
        m->setTrack(noDuration);
        QCOMPARE(m->trackProgress(), 0.0);
        NowPlayingTrack over = kTrackA;
        over.elapsed = 300;
        m->setTrack(over);
        QCOMPARE(m->trackProgress(), 1.5);
        QCOMPARE(m->trackElapsed(), 300.0);

        // Two cards share an id: only the first flips.
        m->setCards({makeCard("same", 1.0), makeCard("same", 2.0), makeCard("x", 3.0, true)});
        QSignalSpy cards(m.get(), &PlayerViewModel::cardsChanged);
        m->toggleLearned(QStringLiteral("same|tag"));
        QCOMPARE(cards.count(), 1);
        QVERIFY(m->cards().at(0).learned);
        QVERIFY(!m->cards().at(1).learned);
        QCOMPARE(m->learnedCount(), 2);
        QCOMPARE(m->learnedFraction(), 2.0 / 3.0);
        m->toggleLearned(QStringLiteral("missing|tag"));
        QCOMPARE(cards.count(), 1);
    }

    void demoContent()
    {
        PlayerViewModelDependencies deps;
        deps.settings = m_settings.get();
        auto m = MockTrackProvider::demoViewModel(deps);
        QVERIFY(m->track()->isPlaying);
        QCOMPARE(m->track()->artist, QStringLiteral("Demo Artist"));
        QCOMPARE(m->track()->duration, 42.0);
        QCOMPARE(m->lyricLines().size(), 8);
        QCOMPARE(m->cards().size(), 7);
        QCOMPARE(m->songSessionId(), 1u);
        QVERIFY(!m->errorState());
        QVERIFY(!m->cardStoreActor());
        for (const LearnedCardVM &card : m->cards()) {
            QCOMPARE(card.id, card.en + "|" + card.tag);
            QVERIFY(!card.lineTimestamp && !card.pronunciationHint);
        }
    }

    void playerTable_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("label");
        QTest::newRow("spotify") << "com.spotify.client" << "Spotify";
        QTest::newRow("netease") << "com.netease.163music" << "NetEaseMusic";
        QTest::newRow("qq") << "com.tencent.QQMusicMac" << "QQMusic";
        QTest::newRow("unknown player") << "org.mpris.MediaPlayer2.mpv" << "AppleMusic";
        QTest::newRow("none") << "" << "AppleMusic";
    }

    void playerTable()
    {
        QFETCH(QString, identifier);
        QFETCH(QString, label);
        QCOMPARE(PlayerSource::label(identifier), label);
        QCOMPARE(PlayerSource::frontmostLabel(), QStringLiteral("AppleMusic"));
    }
};

QTEST_GUILESS_MAIN(TestPlayerState)
#include "tst_player_state.moc"
