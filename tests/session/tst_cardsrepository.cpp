// The cards repository over a real store file and a scripted cards client: hit or missing
// (store failures included), and lookup-or-generate storing exactly what the client wrote.
#include "TaskRunner.h"

#include "backend/RemoteCardsError.h"
#include "core/store/CardStore.h"
#include "core/store/SongRecord.h"
#include "core/store/StoreContainer.h"
#include "session/LocalCardsRepository.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

GoldenCard golden(const QString &en, std::optional<double> time = std::nullopt)
{
    GoldenCard card;
    card.en = en;
    card.cn = QStringLiteral("中文");
    card.note = QStringLiteral("note");
    card.example = QStringLiteral("example");
    card.tag = QStringLiteral("tag");
    card.lineTimestamp = time;
    return card;
}

// Answers with `cards`, or throws `failure` when set; records each call.
class ScriptedCardsClient : public LLMProvider
{
public:
    struct Call
    {
        QString lyrics;
        QString title;
        std::optional<QString> targetLanguage;
    };

    QList<GoldenCard> cards;
    std::optional<RemoteCardsError> failure;
    QList<Call> calls;

    QCoro::Task<QList<GoldenCard>> fetchCards(QString lyrics, NowPlayingTrack track,
                                              std::optional<QString> targetLanguage, CancellationToken) override
    {
        calls.append(Call{lyrics, track.title, targetLanguage});
        return answer(cards, failure);
    }

private:
    static QCoro::Task<QList<GoldenCard>> answer(QList<GoldenCard> cards, std::optional<RemoteCardsError> failure)
    {
        if (failure)
            throw *failure;
        co_return cards;
    }
};

NowPlayingTrack track()
{
    NowPlayingTrack t;
    t.title = QStringLiteral("Song");
    t.artist = QStringLiteral("Artist");
    return t;
}

const QString kKey = QStringLiteral("artist|song");

} // namespace

class TestCardsRepository : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::shared_ptr<StoreContainer> m_container;
    std::unique_ptr<CardStore> m_store;
    std::shared_ptr<ScriptedCardsClient> m_client;
    std::unique_ptr<LocalCardsRepository> m_repository;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_container = StoreContainer::open(m_dir->filePath(QStringLiteral("default-test-en.store")));
        m_store = std::make_unique<CardStore>(m_container);
        m_client = std::make_shared<ScriptedCardsClient>();
        m_repository = std::make_unique<LocalCardsRepository>(m_store.get(), m_client);
    }

    void cleanup()
    {
        m_repository.reset();
        m_store.reset();
        m_container.reset();
    }

    void missingWithoutCards()
    {
        QVERIFY(!m_repository->lookup(kKey).isHit());
        m_store->recordPlay(kKey, QStringLiteral("Song"), QStringLiteral("Artist"));
        QVERIFY(m_store->record(kKey));
        QCOMPARE(m_repository->lookup(kKey), LocalCardsRepository::LookupResult::missing());
        // The key is matched exactly.
        m_store->upsertSong(kKey, QStringLiteral("Song"), QStringLiteral("Artist"), QString(), std::nullopt,
                            {golden("a")});
        QVERIFY(!m_repository->lookup(QStringLiteral(" Artist|Song")).isHit());
    }

    void storedCardsWithoutTheirHints()
    {
        GoldenCard hinted = golden("second", 4.0);
        hinted.pronunciationHint = PronunciationHint{PronunciationKind::linking, QStringLiteral("tip"), std::nullopt};
        hinted.culturalHint = QStringLiteral("culture");
        hinted.listeningDifficulty = ListeningDifficulty::hard;
        m_store->upsertSong(kKey, QStringLiteral("Song"), QStringLiteral("Artist"), QString(), QStringLiteral("en"),
                            {golden("first", 9.0), hinted});

        const auto result = m_repository->lookup(kKey);
        QVERIFY(result.isHit());
        QCOMPARE(result.cards().size(), 2);
        QCOMPARE(result.cards().at(0), golden("first", 9.0));
        QCOMPARE(result.cards().at(1), golden("second", 4.0));
    }

    void unreadableStoreIsMissing()
    {
        m_store->upsertSong(kKey, QStringLiteral("Song"), QStringLiteral("Artist"), QString(), std::nullopt,
                            {golden("a")});
        m_store.reset();
        {
            SqliteDatabase raw = m_container->connect();
            raw.exec(QStringLiteral("DROP TABLE cards"));
            raw.exec(QStringLiteral("DROP TABLE songs"));
        }
        m_store = std::make_unique<CardStore>(m_container);
        m_repository = std::make_unique<LocalCardsRepository>(m_store.get(), m_client);
        QVERIFY(!m_repository->lookup(kKey).isHit());
    }

    void generateStoresExactlyWhatTheClientWrote()
    {
        m_client->cards = {golden("b", 12.0), golden("a")};
        const QList<GoldenCard> cards =
            TaskRunner::run(m_repository->lookupOrGenerate(track(), QStringLiteral("[00:01.00] la")));
        QCOMPARE(cards, m_client->cards);
        QCOMPARE(m_client->calls.size(), 1);
        QCOMPARE(m_client->calls.at(0).targetLanguage, std::nullopt);
        QCOMPARE(m_client->calls.at(0).lyrics, QStringLiteral("[00:01.00] la"));

        SongRecord *record = m_store->record(kKey);
        QVERIFY(record);
        QCOMPARE(record->language(), std::nullopt);
        QCOMPARE(record->lyrics(), QStringLiteral("[00:01.00] la"));
        QCOMPARE(m_repository->lookup(kKey).cards().size(), 2);

        // Now stored: no second call.
        TaskRunner::run(m_repository->lookupOrGenerate(track(), QStringLiteral("x")));
        QCOMPARE(m_client->calls.size(), 1);
    }

    void clientFailureStoresNothing()
    {
        m_client->failure = RemoteCardsError::upstream(SSEEvent::ErrorCategory::rateLimit);
        try {
            TaskRunner::run(m_repository->lookupOrGenerate(track(), QStringLiteral("lyrics")));
            QFAIL("expected the client's error");
        } catch (const RemoteCardsError &error) {
            QCOMPARE(error, *m_client->failure);
        }
        QVERIFY(!m_store->record(kKey));
    }
};

QTEST_GUILESS_MAIN(TestCardsRepository)
#include "tst_cardsrepository.moc"
