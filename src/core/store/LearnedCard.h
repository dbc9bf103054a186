#pragma once

#include "core/GoldenCard.h"
#include "core/store/StoredModel.h"

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <optional>

class SongRecord;
Q_MOC_INCLUDE("core/store/SongRecord.h")

// The persisted values of a card, in declaration order (the song link is kept apart).
// An absent point in time is an invalid QDateTime.
struct CardValues
{
    QString songKey;
    QString en;
    QString cn;
    QString note;
    QString example;
    QString tag;
    std::optional<double> lineTimestamp;
    bool learned = false;
    bool isMastered = false;
    QDateTime masteredAt;
    bool isFavorite = false;
    QDateTime favoritedAt;
    std::optional<QString> pronunciationHintJSON;
    std::optional<QString> culturalHint;
    std::optional<QString> listeningDifficultyRaw;
};

// One study card made for a song. The pronunciation hint is stored as its JSON text and
// the listening difficulty as its raw value; the typed accessors read "absent" for any
// text they cannot interpret, and never fail.
class LearnedCard : public StoredModel
{
    Q_OBJECT
    Q_PROPERTY(QString songKey READ songKey WRITE setSongKey NOTIFY songKeyChanged)
    Q_PROPERTY(QString en READ en WRITE setEn NOTIFY enChanged)
    Q_PROPERTY(QString cn READ cn WRITE setCn NOTIFY cnChanged)
    Q_PROPERTY(QString note READ note WRITE setNote NOTIFY noteChanged)
    Q_PROPERTY(QString example READ example WRITE setExample NOTIFY exampleChanged)
    Q_PROPERTY(QString tag READ tag WRITE setTag NOTIFY tagChanged)
    Q_PROPERTY(QVariant lineTimestamp READ lineTimestampVariant NOTIFY lineTimestampChanged)
    Q_PROPERTY(bool learned READ learned WRITE setLearned NOTIFY learnedChanged)
    Q_PROPERTY(SongRecord *song READ songForQml NOTIFY songChanged)
    Q_PROPERTY(bool isMastered READ isMastered WRITE setIsMastered NOTIFY isMasteredChanged)
    Q_PROPERTY(QDateTime masteredAt READ masteredAt WRITE setMasteredAt NOTIFY masteredAtChanged)
    Q_PROPERTY(bool isFavorite READ isFavorite WRITE setIsFavorite NOTIFY isFavoriteChanged)
    Q_PROPERTY(QDateTime favoritedAt READ favoritedAt WRITE setFavoritedAt NOTIFY favoritedAtChanged)
    Q_PROPERTY(QVariant pronunciationHintJSON READ pronunciationHintJSONVariant NOTIFY pronunciationHintJSONChanged)
    Q_PROPERTY(QVariant culturalHint READ culturalHintVariant NOTIFY culturalHintChanged)
    Q_PROPERTY(QVariant listeningDifficultyRaw READ listeningDifficultyRawVariant NOTIFY listeningDifficultyRawChanged)
    Q_PROPERTY(QString cardId READ cardId NOTIFY cardIdChanged)

public:
    enum Field { SongKey, En, Cn, Note, Example, Tag, LineTimestamp, Learned, Song, IsMastered, MasteredAt,
                 IsFavorite, FavoritedAt, PronunciationHintJSON, CulturalHint, ListeningDifficultyRaw };

    // A new card. Made as learned, it is also mastered at `now`. With a song, the card
    // joins that song's cards. Not in any store until inserted.
    LearnedCard(const QString &songKey, const QString &en, const QString &cn, const QString &note,
                const QString &example, const QString &tag, std::optional<double> lineTimestamp, bool learned,
                SongRecord *song, const std::optional<PronunciationHint> &pronunciationHint,
                const std::optional<QString> &culturalHint, std::optional<ListeningDifficulty> listeningDifficulty,
                const QDateTime &now = QDateTime::currentDateTimeUtc());
    ~LearnedCard() override;

    // A fresh card for `song` from a golden card: not learned, mastered or favourite.
    static LearnedCard *fromGoldenCard(const GoldenCard &card, SongRecord *song);

    // Reading any property of a card fetched as a fault (see ModelContext) loads its row first.
    const CardValues &values() const { return fields(); }

    QString songKey() const { return fields().songKey; }
    QString en() const { return fields().en; }
    QString cn() const { return fields().cn; }
    QString note() const { return fields().note; }
    QString example() const { return fields().example; }
    QString tag() const { return fields().tag; }
    std::optional<double> lineTimestamp() const { return fields().lineTimestamp; }
    bool learned() const { return fields().learned; }
    SongRecord *song();
    // song() for QML: a failed read logs and gives no song instead of throwing.
    SongRecord *songForQml();
    bool isMastered() const { return fields().isMastered; }
    QDateTime masteredAt() const { return fields().masteredAt; }
    bool isFavorite() const { return fields().isFavorite; }
    QDateTime favoritedAt() const { return fields().favoritedAt; }
    std::optional<QString> pronunciationHintJSON() const { return fields().pronunciationHintJSON; }
    std::optional<QString> culturalHint() const { return fields().culturalHint; }
    std::optional<QString> listeningDifficultyRaw() const { return fields().listeningDifficultyRaw; }
    // The card identity: en + "|" + tag, exactly.
    QString cardId() const { return fields().en + QLatin1Char('|') + fields().tag; }

    std::optional<PronunciationHint> pronunciationHint() const;
    std::optional<ListeningDifficulty> listeningDifficulty() const;

    void setSongKey(const QString &v) { assign(fields().songKey, v, SongKey, &LearnedCard::songKeyChanged); }
    void setEn(const QString &v);
    void setCn(const QString &v) { assign(fields().cn, v, Cn, &LearnedCard::cnChanged); }
    void setNote(const QString &v) { assign(fields().note, v, Note, &LearnedCard::noteChanged); }
    void setExample(const QString &v) { assign(fields().example, v, Example, &LearnedCard::exampleChanged); }
    void setTag(const QString &v);
    void setLineTimestamp(const std::optional<double> &v)
    {
        assign(fields().lineTimestamp, v, LineTimestamp, &LearnedCard::lineTimestampChanged);
    }
    void setLearned(bool v) { assign(fields().learned, v, Learned, &LearnedCard::learnedChanged); }
    // Moves the card to another song's cards (or to none); both lists stay consistent.
    void setSong(SongRecord *song);
    void setIsMastered(bool v) { assign(fields().isMastered, v, IsMastered, &LearnedCard::isMasteredChanged); }
    void setMasteredAt(const QDateTime &v) { assign(fields().masteredAt, v, MasteredAt, &LearnedCard::masteredAtChanged); }
    void setIsFavorite(bool v) { assign(fields().isFavorite, v, IsFavorite, &LearnedCard::isFavoriteChanged); }
    void setFavoritedAt(const QDateTime &v) { assign(fields().favoritedAt, v, FavoritedAt, &LearnedCard::favoritedAtChanged); }
    void setPronunciationHintJSON(const std::optional<QString> &v)
    {
        assign(fields().pronunciationHintJSON, v, PronunciationHintJSON, &LearnedCard::pronunciationHintJSONChanged);
    }
    void setCulturalHint(const std::optional<QString> &v)
    {
        assign(fields().culturalHint, v, CulturalHint, &LearnedCard::culturalHintChanged);
    }
    void setListeningDifficultyRaw(const std::optional<QString> &v)
    {
        assign(fields().listeningDifficultyRaw, v, ListeningDifficultyRaw, &LearnedCard::listeningDifficultyRawChanged);
    }
    // Stored as JSON text / raw value; an absent value clears the text.
    void setPronunciationHint(const std::optional<PronunciationHint> &hint);
    void setListeningDifficulty(std::optional<ListeningDifficulty> difficulty);

    // The stored text of a hint: compact JSON, "ipa" only when present; absent for no hint.
    static std::optional<QString> encodeHint(const std::optional<PronunciationHint> &hint);
    // Strict decoding; absent, malformed or incomplete text gives no hint.
    static std::optional<PronunciationHint> decodeHint(const std::optional<QString> &text);
    static std::optional<ListeningDifficulty> decodeDifficulty(const std::optional<QString> &raw);

    QVariant lineTimestampVariant() const { return fields().lineTimestamp ? QVariant(*fields().lineTimestamp) : QVariant(); }
    QVariant pronunciationHintJSONVariant() const;
    QVariant culturalHintVariant() const { return fields().culturalHint ? QVariant(*fields().culturalHint) : QVariant(); }
    QVariant listeningDifficultyRawVariant() const;

signals:
    void songKeyChanged();
    void enChanged();
    void cnChanged();
    void noteChanged();
    void exampleChanged();
    void tagChanged();
    void lineTimestampChanged();
    void learnedChanged();
    void songChanged();
    void isMasteredChanged();
    void masteredAtChanged();
    void isFavoriteChanged();
    void favoritedAtChanged();
    void pronunciationHintJSONChanged();
    void culturalHintChanged();
    void listeningDifficultyRawChanged();
    void cardIdChanged();

private:
    friend class ModelContext;
    friend class SongRecord;
    struct Rehydrate {};
    LearnedCard(Rehydrate, const CardValues &values, qint64 songRowId);

    // Sets the song link without touching either song's list.
    void linkSong(SongRecord *song);

    // The persisted values, loaded on first use when the card was fetched as a fault.
    CardValues &fields() const
    {
        if (m_fault)
            loadFault();
        return m_v;
    }
    void loadFault() const;

    mutable CardValues m_v;
    // Fetched by identity only: m_v is not loaded yet.
    mutable bool m_fault = false;
    SongRecord *m_song = nullptr;
    qint64 m_songRowId = 0; // the stored link, resolved to m_song on first use
};
