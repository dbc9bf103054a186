// The player view model's song state: which fields each pipeline step writes and which it
// leaves, that its signals are exactly those of the changed fields, that an update is complete
// before its first signal; the demo content and the player table.
#include "backend/RemoteCardsError.h"
#include "session/player/MockTrackProvider.h"
#include "session/player/PlayerSource.h"

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
    return t;
}

LearnedCardVM makeCard(const QString &en, std::optional<double> time = std::nullopt)
{
    LearnedCardVM card;
    card.en = en;
    card.tag = QStringLiteral("tag");
    card.id = en + QStringLiteral("|tag");
    card.lineTimestamp = time;
    return card;
}

const LyricsResult kLyrics = PlayerViewModel::lyricsResultFromRaw(QStringLiteral("[00:01.00] a b\n[00:05.00] c\n"));
const QList<LearnedCardVM> kCards{makeCard("first", 1.0), makeCard("second", 5.0)};
const QList<LearnedCardVM> kOtherCards{makeCard("other", 1.0)};

// Every field of the song state as text, in declaration order; "-" for none. The first 15
// have a signal each (same order as kSignals).
enum Field { Track, Session, Result, Lines, Cards, Error, CardsErr, LyricsErr, LoadingLyrics, LoadingCards,
             Source, Language, NotTarget, Story, Modal, Anchor, Memo };

template<class T, class F>
QString opt(const std::optional<T> &v, F text)
{
    return v ? text(*v) : QStringLiteral("-");
}

QStringList describe(const PlayerViewModel &m)
{
    const auto str = [](const QString &s) { return s; };
    QStringList cards;
    for (const LearnedCardVM &c : m.cards())
        cards << c.id;
    return {opt(m.track(), [](const NowPlayingTrack &t) { return t.title + '@' + QString::number(t.elapsed); }),
            QString::number(m.songSessionId()),
            opt(m.lyricsResult(), [](const LyricsResult &r) { return r.isSynced() ? QStringLiteral("synced") : QStringLiteral("notFound"); }),
            QString::number(m.lyricLines().size()),
            cards.join(','),
            opt(m.errorState(), [](const CantorellaError &e) { return e.description(); }),
            opt(m.cardsErrorDetail(), str),
            opt(m.lyricsErrorDetail(), str),
            QString::number(m.isLoadingLyrics()),
            QString::number(m.isLoadingCards()),
            opt(m.currentSource(), [](LyricsSource s) { return rawValue(s); }),
            opt(m.currentLanguage(), str),
            opt(m.notTargetLanguageState(), str),
            opt(m.currentStory(), [](const SongStory &s) { return s.title; }),
            QString::number(m.isStoryModalOpen()),
            opt(m.anchor(), [](const SampleAnchor &a) { return QString::number(a.elapsed); }),
            QString::number(m.activeCardIdCache().has_value())};
}

const std::vector<void (PlayerViewModel::*)()> kSignals{
    &PlayerViewModel::trackChanged, &PlayerViewModel::songSessionIdChanged, &PlayerViewModel::lyricsResultChanged,
    &PlayerViewModel::lyricLinesChanged, &PlayerViewModel::cardsChanged, &PlayerViewModel::errorStateChanged,
    &PlayerViewModel::cardsErrorDetailChanged, &PlayerViewModel::lyricsErrorDetailChanged,
    &PlayerViewModel::isLoadingLyricsChanged, &PlayerViewModel::isLoadingCardsChanged,
    &PlayerViewModel::currentSourceChanged, &PlayerViewModel::currentLanguageChanged,
    &PlayerViewModel::notTargetLanguageStateChanged, &PlayerViewModel::currentStoryChanged,
    &PlayerViewModel::isStoryModalOpenChanged};

struct Row
{
    const char *name;
    std::function<void(PlayerViewModel &)> operation;
    QList<std::pair<Field, QString>> writes; // every other field keeps its value
    std::function<void(PlayerViewModel &)> prepare = nullptr;
};

// Full state: session 2, track Song A@5, synced (2 lines), cards first+second, error
// lyricsUnavailable, both details, both flags, source netease, language en, not-target fr,
// story, modal open, anchor, memo.
const QList<std::pair<Field, QString>> kSongCleared{
    {Result, "-"}, {Lines, "0"}, {Cards, ""}, {Error, "-"}, {CardsErr, "-"}, {LyricsErr, "-"}, {Source, "-"},
    {Language, "-"}, {NotTarget, "-"}, {Story, "-"}, {Modal, "0"}, {Memo, "0"}};

const std::vector<Row> &rows()
{
    static const std::vector<Row> table{
        {"resetForNoTrack", [](PlayerViewModel &m) { m.resetForNoTrack(); },
         kSongCleared + QList<std::pair<Field, QString>>{{Track, "-"}, {Anchor, "-"}, {LoadingLyrics, "0"}, {LoadingCards, "0"}}},
        {"resetForNewSong", [](PlayerViewModel &m) { m.resetForNewSong(makeTrack("Song B")); },
         kSongCleared + QList<std::pair<Field, QString>>{{Track, "Song B@5"}, {Session, "3"}, {LoadingLyrics, "1"}, {LoadingCards, "0"}}},
        {"applySongState, new content",
         [](PlayerViewModel &m) { m.applySongState(makeTrack("Song A", 9), LyricsResult::notFound(), kOtherCards, "de"); },
         {{Track, "Song A@9"}, {Result, "notFound"}, {Lines, "0"}, {Cards, "other|tag"}, {Error, "-"}, {CardsErr, "-"},
          {LoadingLyrics, "0"}, {Language, "de"}, {NotTarget, "-"}, {Memo, "0"}, {Session, "3"}}},
        {"applySongState, same content: the track only",
         [](PlayerViewModel &m) { m.applySongState(makeTrack(" song a ", 7), kLyrics, kCards, QStringLiteral("en")); },
         {{Track, " song a @7"}}},
        {"applyStoredState, new content", [](PlayerViewModel &m) { m.applyStoredState(kOtherCards, kLyrics, std::nullopt); },
         {{Cards, "other|tag"}, {Error, "-"}, {CardsErr, "-"}, {NotTarget, "-"}, {Language, "-"}, {Memo, "0"}, {Session, "3"}}},
        {"beginCardsLoading", [](PlayerViewModel &m) { m.beginCardsLoading(); },
         {{Cards, ""}, {Error, "-"}, {CardsErr, "-"}, {LoadingCards, "1"}, {Memo, "0"}}},
        {"setCards keeps a lyrics error", [](PlayerViewModel &m) { m.setCards(kOtherCards); },
         {{Cards, "other|tag"}, {CardsErr, "-"}, {LoadingCards, "0"}, {Memo, "0"}}},
        {"setCards clears a cards error", [](PlayerViewModel &m) { m.setCards(kOtherCards); },
         {{Cards, "other|tag"}, {Error, "-"}, {CardsErr, "-"}, {LoadingCards, "0"}, {Memo, "0"}},
         [](PlayerViewModel &m) { m.setErrorState(CantorellaError::cardsUnavailable()); }},
        {"setCardsError", [](PlayerViewModel &m) { m.setCardsError(RemoteCardsError::server(503)); },
         {{Error, "cardsUnavailable"}, {CardsErr, "服务器暂时不可用 (503)。"}, {Cards, ""}, {LoadingCards, "0"}, {Memo, "0"}}},
        {"setNotTargetLanguage", [](PlayerViewModel &m) { m.setNotTargetLanguage(QStringLiteral("und")); },
         {{NotTarget, "und"}, {Cards, ""}, {CardsErr, "-"}, {LoadingCards, "0"}, {Memo, "0"}}},
        {"setLyricsError", [](PlayerViewModel &m) { m.setLyricsError(QStringLiteral("detail")); },
         {{Error, "lyricsUnavailable"}, {LyricsErr, "detail"}, {Result, "notFound"}, {Lines, "0"}, {Cards, ""},
          {CardsErr, "-"}, {Source, "-"}, {Language, "-"}, {NotTarget, "-"}, {LoadingLyrics, "0"}, {LoadingCards, "0"},
          {Memo, "0"}}},
        {"setLyricsNotFound", [](PlayerViewModel &m) { m.setLyricsNotFound(LyricsResult::notFound()); },
         {{Result, "notFound"}, {Error, "lyricsNotFound"}, {Lines, "0"}, {Cards, ""}, {CardsErr, "-"}, {LyricsErr, "-"},
          {Source, "-"}, {Language, "-"}, {NotTarget, "-"}, {LoadingLyrics, "0"}, {LoadingCards, "0"}, {Memo, "0"}}},
        {"clearLoadingFlags", [](PlayerViewModel &m) { m.clearLoadingFlags(); },
         {{LoadingLyrics, "0"}, {LoadingCards, "0"}}},
        {"setError", [](PlayerViewModel &m) { m.setError(std::runtime_error("boom")); },
         {{Error, "unknown(boom)"}, {Cards, ""}, {Memo, "0"}}},
    };
    return table;
}

} // namespace

class TestPlayerState : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;

    std::unique_ptr<PlayerViewModel> fullModel()
    {
        PlayerViewModelDependencies deps;
        deps.settings = m_settings.get();
        auto m = std::make_unique<PlayerViewModel>([] { return ContinuousInstant{}; }, deps);
        m->setAnchor(SampleAnchor{ContinuousInstant{}, 3.0, 1.0});
        m->resetForNewSong(makeTrack("Song A"));
        m->applySongState(makeTrack("Song A"), kLyrics, kCards, QStringLiteral("en"));
        m->setCurrentSource(LyricsSource::netease);
        m->setCurrentStory(SongStory{QStringLiteral("Story"), QStringLiteral("Artist"), QStringLiteral("Once")});
        m->setIsStoryModalOpen(true);
        m->setErrorState(CantorellaError::lyricsUnavailable());
        m->setLyricsErrorDetail(QStringLiteral("old lyrics"));
        m->setCardsErrorDetail(QStringLiteral("old cards"));
        m->setNotTargetLanguageState(QStringLiteral("fr"));
        m->setIsLoadingLyrics(true);
        m->setIsLoadingCards(true);
        m->activeCardId(5.5);
        return m;
    }

private slots:
    void initTestCase()
    {
        m_settings = std::make_unique<QSettings>(m_dir.filePath("defaults.ini"), QSettings::IniFormat);
    }

    void stepWritesExactlyItsFields_data()
    {
        QTest::addColumn<int>("row");
        for (size_t i = 0; i < rows().size(); ++i)
            QTest::newRow(rows()[i].name) << int(i);
    }

    // What each step writes and leaves, and that it signals exactly the fields that changed.
    void stepWritesExactlyItsFields()
    {
        QFETCH(int, row);
        const Row &r = rows()[size_t(row)];
        auto m = fullModel();
        if (r.prepare)
            r.prepare(*m);
        const QStringList before = describe(*m);
        QCOMPARE(before.at(Memo), QStringLiteral("1"));

        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (auto signal : kSignals)
            spies.push_back(std::make_unique<QSignalSpy>(m.get(), signal));
        r.operation(*m);

        QStringList expected = before;
        for (const auto &[field, value] : r.writes)
            expected[field] = value;
        const QStringList after = describe(*m);
        QCOMPARE(after, expected);
        for (size_t i = 0; i < kSignals.size(); ++i)
            QCOMPARE(spies[i]->count(), after.at(qsizetype(i)) == before.at(qsizetype(i)) ? 0 : 1);
    }

    // A watcher of one field sees the whole update already written.
    void signalsGoOutAfterTheWholeUpdate()
    {
        auto m = fullModel();
        QStringList seen;
        connect(m.get(), &PlayerViewModel::cardsChanged, this, [&] { seen = describe(*m); });
        m->setCardsError(RemoteCardsError::parse(QStringLiteral("x")));
        QCOMPARE(seen, describe(*m));
        QCOMPARE(*m->cardsErrorDetail(), QStringLiteral("卡片响应解析失败。"));
    }

    void equalWritesDoNotNotify()
    {
        auto m = fullModel();
        QSignalSpy loading(m.get(), &PlayerViewModel::isLoadingCardsChanged);
        QSignalSpy track(m.get(), &PlayerViewModel::trackChanged);
        QSignalSpy cards(m.get(), &PlayerViewModel::cardsChanged);
        m->clearLoadingFlags();
        m->clearLoadingFlags();
        m->setIsLoadingCards(false);
        m->setTrack(makeTrack("Song A"));
        m->replaceCards(kCards);
        QCOMPARE(loading.count(), 1);
        QCOMPARE(track.count(), 0);
        QCOMPARE(cards.count(), 0);

        // Values without an equality announce every write.
        QSignalSpy anchor(m.get(), &PlayerViewModel::anchorChanged);
        m->setAnchor(m->anchor());
        QCOMPARE(anchor.count(), 1);
    }

    // The second identical apply writes the track only: what happened in between is kept.
    void applySongStateTwice()
    {
        auto m = fullModel();
        m->setIsLoadingLyrics(true);
        m->applySongState(makeTrack("Song A", 6), kLyrics, kCards, QStringLiteral("en"));
        QCOMPARE(m->songSessionId(), quint64(2));
        QVERIFY(m->isLoadingLyrics() && m->errorState());
        m->applySongState(makeTrack("Song A", 6), kLyrics, kCards, QStringLiteral("fr")); // another language
        QCOMPARE(m->songSessionId(), quint64(3));
        QVERIFY(!m->errorState());
    }

    void lyricsResultFromRaw_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("lines"); // -1: notFound
        QTest::newRow("spaces and newlines") << QStringLiteral(" \n\t\r\n ") << -1;
        QTest::newRow("no time stamps") << QStringLiteral("just words\nmore words") << -1;
        QTest::newRow("synced, padded") << QStringLiteral("\n  [00:01.00] a\n[00:02.50] b  \n") << 2;
    }

    void lyricsResultFromRaw()
    {
        QFETCH(QString, raw);
        QFETCH(int, lines);
        const LyricsResult result = PlayerViewModel::lyricsResultFromRaw(raw);
        QCOMPARE(result.isSynced() ? int(result.lines().size()) : -1, lines);
        if (result.isSynced())
            QCOMPARE(result.rawLRC(), raw); // untrimmed
    }

    void learnedCountAndToggle()
    {
        auto m = fullModel();
        QCOMPARE(m->learnedFraction(), 0.0);
        m->setCards({makeCard("same"), makeCard("same"), makeCard("x")});
        m->toggleLearned(QStringLiteral("same|tag")); // two cards share the id: the first flips
        QVERIFY(m->cards().at(0).learned && !m->cards().at(1).learned);
        QCOMPARE(m->learnedFraction(), 1.0 / 3.0);
        m->setCards({});
        QCOMPARE(m->learnedFraction(), 0.0);
    }

    void demoContent()
    {
        PlayerViewModelDependencies deps;
        deps.settings = m_settings.get();
        auto m = MockTrackProvider::demoViewModel(deps);
        QVERIFY(m->track()->isPlaying);
        QCOMPARE(m->lyricLines().size(), 8);
        QCOMPARE(m->cards().size(), 7);
        QCOMPARE(m->songSessionId(), quint64(1));
        QVERIFY(!m->errorState());
    }

    void playerTable()
    {
        QCOMPARE(PlayerSource::label(QStringLiteral("com.spotify.client")), QStringLiteral("Spotify"));
        QCOMPARE(PlayerSource::label(QStringLiteral("org.mpris.MediaPlayer2.mpv")), QStringLiteral("AppleMusic"));
        QCOMPARE(PlayerSource::frontmostLabel(), QStringLiteral("AppleMusic")); // Linux reports no identifier
    }
};

QTEST_GUILESS_MAIN(TestPlayerState)
#include "tst_player_state.moc"
