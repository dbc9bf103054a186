#pragma once

#include "core/store/StoredModel.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

class LearnedCard;

// The persisted values of a song, in declaration order. An absent point in time is an
// invalid QDateTime.
struct SongValues
{
    QString key;
    QString title;
    QString artist;
    QString lyrics;
    std::optional<QString> language;
    std::optional<QString> storyArticle;
    std::optional<double> lyricsOffset;
    QDateTime lastPlayedAt;
    bool isFavorite = false;
    QDateTime favoritedAt;
    qint64 playCount = 0;
};

// One song the user has played, identified by its song key (unique in a store). It owns
// its cards: deleting the song deletes them. Properties announce a write only when the
// value changes, so the library screens can bind to them.
class SongRecord : public StoredModel
{
    Q_OBJECT
    Q_PROPERTY(QString key READ key WRITE setKey NOTIFY keyChanged)
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY titleChanged)
    Q_PROPERTY(QString artist READ artist WRITE setArtist NOTIFY artistChanged)
    Q_PROPERTY(QString lyrics READ lyrics WRITE setLyrics NOTIFY lyricsChanged)
    // Optional values read as undefined in QML when absent.
    Q_PROPERTY(QVariant language READ languageVariant NOTIFY languageChanged)
    Q_PROPERTY(QVariant storyArticle READ storyArticleVariant NOTIFY storyArticleChanged)
    Q_PROPERTY(QVariant lyricsOffset READ lyricsOffsetVariant NOTIFY lyricsOffsetChanged)
    Q_PROPERTY(QList<QObject *> cards READ cardObjects NOTIFY cardsChanged)
    Q_PROPERTY(QDateTime lastPlayedAt READ lastPlayedAt WRITE setLastPlayedAt NOTIFY lastPlayedAtChanged)
    Q_PROPERTY(bool isFavorite READ isFavorite WRITE setIsFavorite NOTIFY isFavoriteChanged)
    Q_PROPERTY(QDateTime favoritedAt READ favoritedAt WRITE setFavoritedAt NOTIFY favoritedAtChanged)
    Q_PROPERTY(qint64 playCount READ playCount WRITE setPlayCount NOTIFY playCountChanged)

public:
    enum Field { Key, Title, Artist, Lyrics, Language, StoryArticle, LyricsOffset, LastPlayedAt, IsFavorite,
                 FavoritedAt, PlayCount };

    // A new song: play count 0, not favourite, last played `now`, no language, story or
    // offset. Each card's song becomes this record. Not in any store until inserted.
    SongRecord(const QString &key, const QString &title, const QString &artist, const QString &lyrics,
               const QList<LearnedCard *> &cards = {}, const QDateTime &now = QDateTime::currentDateTimeUtc());
    ~SongRecord() override;

    const SongValues &values() const { return m_v; }

    QString key() const { return m_v.key; }
    QString title() const { return m_v.title; }
    QString artist() const { return m_v.artist; }
    QString lyrics() const { return m_v.lyrics; }
    std::optional<QString> language() const { return m_v.language; }
    std::optional<QString> storyArticle() const { return m_v.storyArticle; }
    std::optional<double> lyricsOffset() const { return m_v.lyricsOffset; }
    QDateTime lastPlayedAt() const { return m_v.lastPlayedAt; }
    bool isFavorite() const { return m_v.isFavorite; }
    QDateTime favoritedAt() const { return m_v.favoritedAt; }
    qint64 playCount() const { return m_v.playCount; }

    // The song's cards, loaded from the store on first use. The list has no order of its
    // own; loaded cards come in the order they were inserted.
    QList<LearnedCard *> cards();
    QList<QObject *> cardObjects();

    void setKey(const QString &v) { assign(m_v.key, v, Key, &SongRecord::keyChanged); }
    void setTitle(const QString &v) { assign(m_v.title, v, Title, &SongRecord::titleChanged); }
    void setArtist(const QString &v) { assign(m_v.artist, v, Artist, &SongRecord::artistChanged); }
    void setLyrics(const QString &v) { assign(m_v.lyrics, v, Lyrics, &SongRecord::lyricsChanged); }
    void setLanguage(const std::optional<QString> &v) { assign(m_v.language, v, Language, &SongRecord::languageChanged); }
    void setStoryArticle(const std::optional<QString> &v)
    {
        assign(m_v.storyArticle, v, StoryArticle, &SongRecord::storyArticleChanged);
    }
    void setLyricsOffset(const std::optional<double> &v)
    {
        assign(m_v.lyricsOffset, v, LyricsOffset, &SongRecord::lyricsOffsetChanged);
    }
    void setLastPlayedAt(const QDateTime &v) { assign(m_v.lastPlayedAt, v, LastPlayedAt, &SongRecord::lastPlayedAtChanged); }
    void setIsFavorite(bool v) { assign(m_v.isFavorite, v, IsFavorite, &SongRecord::isFavoriteChanged); }
    void setFavoritedAt(const QDateTime &v) { assign(m_v.favoritedAt, v, FavoritedAt, &SongRecord::favoritedAtChanged); }
    void setPlayCount(qint64 v) { assign(m_v.playCount, v, PlayCount, &SongRecord::playCountChanged); }
    // Replaces the card list. Cards leaving it lose their song (they are not deleted);
    // cards joining it take this song.
    void setCards(const QList<LearnedCard *> &cards);

    QVariant languageVariant() const { return m_v.language ? QVariant(*m_v.language) : QVariant(); }
    QVariant storyArticleVariant() const { return m_v.storyArticle ? QVariant(*m_v.storyArticle) : QVariant(); }
    QVariant lyricsOffsetVariant() const { return m_v.lyricsOffset ? QVariant(*m_v.lyricsOffset) : QVariant(); }

signals:
    void keyChanged();
    void titleChanged();
    void artistChanged();
    void lyricsChanged();
    void languageChanged();
    void storyArticleChanged();
    void lyricsOffsetChanged();
    void cardsChanged();
    void lastPlayedAtChanged();
    void isFavoriteChanged();
    void favoritedAtChanged();
    void playCountChanged();

private:
    friend class ModelContext;
    friend class LearnedCard;
    struct Rehydrate {};
    // Rehydration: a song materialised from its stored row.
    SongRecord(Rehydrate, const SongValues &values);

    void applyStored(const SongValues &stored);
    void ensureCardsLoaded();
    // Relationship bookkeeping used by LearnedCard::setSong and the context.
    void attachCard(LearnedCard *card);
    void detachCard(LearnedCard *card);

    SongValues m_v;
    QList<LearnedCard *> m_cards;
    bool m_cardsLoaded = true;
};
