#include "core/store/LearnedCard.h"

#include "core/AppLog.h"
#include "core/PronunciationHintText.h"

#include "core/store/ModelContext.h"
#include "core/store/SongRecord.h"


LearnedCard::LearnedCard(const QString &songKey, const QString &en, const QString &cn, const QString &note,
                         const QString &example, const QString &tag, std::optional<double> lineTimestamp,
                         bool learned, SongRecord *song, const std::optional<PronunciationHint> &pronunciationHint,
                         const std::optional<QString> &culturalHint,
                         std::optional<ListeningDifficulty> listeningDifficulty, const QDateTime &now)
    : StoredModel(PersistentIdentifier::Entity::Card)
{
    m_v.songKey = songKey;
    m_v.en = en;
    m_v.cn = cn;
    m_v.note = note;
    m_v.example = example;
    m_v.tag = tag;
    m_v.lineTimestamp = lineTimestamp;
    m_v.learned = learned;
    // A card made as learned is mastered at that moment.
    m_v.isMastered = learned;
    m_v.masteredAt = learned ? now : QDateTime();
    m_v.isFavorite = false;
    m_v.pronunciationHintJSON = encodeHint(pronunciationHint);
    m_v.culturalHint = culturalHint;
    m_v.listeningDifficultyRaw =
        listeningDifficulty ? std::optional<QString>(rawValue(*listeningDifficulty)) : std::nullopt;
    if (song)
        setSong(song);
}

LearnedCard::LearnedCard(Rehydrate, const CardValues &values, qint64 songRowId)
    : StoredModel(PersistentIdentifier::Entity::Card)
    , m_v(values)
    , m_songRowId(songRowId)
{
}

LearnedCard::~LearnedCard() = default;

LearnedCard *LearnedCard::fromGoldenCard(const GoldenCard &card, SongRecord *song)
{
    return new LearnedCard(song ? song->key() : QString(), card.en, card.cn, card.note, card.example, card.tag,
                           card.lineTimestamp, false, song, card.pronunciationHint, card.culturalHint,
                           card.listeningDifficulty);
}

void LearnedCard::loadFault() const
{
    if (ModelContext *context = modelContext())
        context->loadFault(const_cast<LearnedCard *>(this));
    else
        m_fault = false;
}

SongRecord *LearnedCard::song()
{
    if (!m_song && m_songRowId > 0) {
        if (ModelContext *context = modelContext())
            m_song = context->songForRowId(m_songRowId);
    }
    return m_song;
}

SongRecord *LearnedCard::songForQml()
{
    try {
        return song();
    } catch (const std::exception &error) {
        qCWarning(lcPersistence, "Loading the song of a card failed: %s", error.what());
        return nullptr;
    }
}

void LearnedCard::setSong(SongRecord *newSong)
{
    SongRecord *old = song();
    if (old == newSong)
        return;
    willChange();
    markDirty(Song);
    if (old)
        old->detachCard(this);
    m_song = newSong;
    m_songRowId = newSong ? newSong->rowId() : 0;
    emit songChanged();
    if (newSong)
        newSong->attachCard(this);
}

void LearnedCard::linkSong(SongRecord *song)
{
    if (m_song == song)
        return;
    m_song = song;
    emit songChanged();
}

void LearnedCard::setEn(const QString &v)
{
    if (fields().en == v)
        return;
    assign(fields().en, v, En, &LearnedCard::enChanged);
    emit cardIdChanged();
}

void LearnedCard::setTag(const QString &v)
{
    if (fields().tag == v)
        return;
    assign(fields().tag, v, Tag, &LearnedCard::tagChanged);
    emit cardIdChanged();
}

std::optional<PronunciationHint> LearnedCard::pronunciationHint() const
{
    return decodeHint(fields().pronunciationHintJSON);
}

std::optional<ListeningDifficulty> LearnedCard::listeningDifficulty() const
{
    return decodeDifficulty(fields().listeningDifficultyRaw);
}

void LearnedCard::setPronunciationHint(const std::optional<PronunciationHint> &hint)
{
    setPronunciationHintJSON(encodeHint(hint));
}

void LearnedCard::setListeningDifficulty(std::optional<ListeningDifficulty> difficulty)
{
    setListeningDifficultyRaw(difficulty ? std::optional<QString>(rawValue(*difficulty)) : std::nullopt);
}

std::optional<QString> LearnedCard::encodeHint(const std::optional<PronunciationHint> &hint)
{
    if (!hint)
        return std::nullopt;
    return QString::fromUtf8(hint->toJson());
}

std::optional<PronunciationHint> LearnedCard::decodeHint(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    const QByteArray utf8 = text->toUtf8();
    return PronunciationHintText::decode(QUtf8StringView(utf8));
}

std::optional<ListeningDifficulty> LearnedCard::decodeDifficulty(const std::optional<QString> &raw)
{
    if (!raw)
        return std::nullopt;
    return listeningDifficultyFromRawValue(*raw);
}

QVariant LearnedCard::pronunciationHintJSONVariant() const
{
    return fields().pronunciationHintJSON ? QVariant(*fields().pronunciationHintJSON) : QVariant();
}

QVariant LearnedCard::listeningDifficultyRawVariant() const
{
    return fields().listeningDifficultyRaw ? QVariant(*fields().listeningDifficultyRaw) : QVariant();
}
