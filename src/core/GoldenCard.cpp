#include "core/GoldenCard.h"

#include "platform/JsonWriter.h"
#include "platform/StrictJson.h"

#include <QHash>

namespace {

const QString kEn = QStringLiteral("en");
const QString kCn = QStringLiteral("cn");
const QString kNote = QStringLiteral("note");
const QString kExample = QStringLiteral("example");
const QString kTag = QStringLiteral("tag");
const QString kLineTimestamp = QStringLiteral("lineTimestamp");
const QString kPronunciationHint = QStringLiteral("pronunciationHint");
const QString kCulturalHint = QStringLiteral("culturalHint");
const QString kListeningDifficulty = QStringLiteral("listeningDifficulty");
const QString kKind = QStringLiteral("kind");
const QString kTip = QStringLiteral("tip");
const QString kIpa = QStringLiteral("ipa");

// -0.0 == 0.0, so both must hash alike.
double hashableDouble(double d)
{
    return d == 0.0 ? 0.0 : d;
}

template<class T, class Feed>
void feedOptional(QtPrivate::QHashCombine &combine, size_t &seed, const std::optional<T> &value, Feed feed)
{
    seed = combine(seed, value.has_value() ? 1 : 0);
    if (value)
        feed(*value);
}

} // namespace

QString rawValue(PronunciationKind kind)
{
    switch (kind) {
    case PronunciationKind::linking: return QStringLiteral("linking");
    case PronunciationKind::weak_form: return QStringLiteral("weak_form");
    case PronunciationKind::contraction: return QStringLiteral("contraction");
    case PronunciationKind::elision: return QStringLiteral("elision");
    case PronunciationKind::stress: return QStringLiteral("stress");
    case PronunciationKind::intonation: return QStringLiteral("intonation");
    }
    return QString();
}

QString rawValue(ListeningDifficulty difficulty)
{
    switch (difficulty) {
    case ListeningDifficulty::easy: return QStringLiteral("easy");
    case ListeningDifficulty::medium: return QStringLiteral("medium");
    case ListeningDifficulty::hard: return QStringLiteral("hard");
    }
    return QString();
}

std::optional<PronunciationKind> pronunciationKindFromRawValue(const QString &raw)
{
    for (PronunciationKind kind : allPronunciationKinds)
        if (rawValue(kind) == raw)
            return kind;
    return std::nullopt;
}

std::optional<ListeningDifficulty> listeningDifficultyFromRawValue(const QString &raw)
{
    for (ListeningDifficulty difficulty : allListeningDifficulties)
        if (rawValue(difficulty) == raw)
            return difficulty;
    return std::nullopt;
}

PronunciationHint PronunciationHint::fromJson(const QJsonObject &json)
{
    const JsonReader reader(json);
    PronunciationHint hint;
    hint.kind = reader.requireEnum(kKind, pronunciationKindFromRawValue);
    hint.tip = reader.requireString(kTip);
    hint.ipa = reader.optionalString(kIpa);
    return hint;
}

void PronunciationHint::writeJson(JsonWriter &writer) const
{
    writer.beginObject();
    writer.member(kKind, rawValue(kind));
    writer.member(kTip, tip);
    writer.optionalMember(kIpa, ipa);
    writer.endObject();
}

QByteArray PronunciationHint::toJson() const
{
    return JsonWriter::toBytes([this](JsonWriter &writer) { writeJson(writer); });
}

size_t qHash(const PronunciationHint &hint, size_t seed) noexcept
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, rawValue(hint.kind));
    seed = combine(seed, hint.tip);
    feedOptional(combine, seed, hint.ipa, [&](const QString &ipa) { seed = combine(seed, ipa); });
    return seed;
}

GoldenCard GoldenCard::fromJson(const QJsonObject &json)
{
    const JsonReader reader(json);
    GoldenCard card;
    card.en = reader.requireString(kEn);
    card.cn = reader.requireString(kCn);
    card.note = reader.requireString(kNote);
    card.example = reader.requireString(kExample);
    card.tag = reader.requireString(kTag);
    card.lineTimestamp = reader.optionalNumber(kLineTimestamp);
    const QJsonValue hint = json.value(kPronunciationHint);
    if (hint.isObject()) {
        try {
            card.pronunciationHint = PronunciationHint::fromJson(hint.toObject());
        } catch (const JsonError &) {
            // A malformed hint is dropped; the card itself is still good.
        }
    }
    card.culturalHint = reader.lenientString(kCulturalHint);
    card.listeningDifficulty = reader.lenientEnum(kListeningDifficulty, listeningDifficultyFromRawValue);
    return card;
}

QList<GoldenCard> GoldenCard::listFromJson(const QJsonArray &json, const QString &path)
{
    return StrictJson::decodeObjectArray(json, path, &GoldenCard::fromJson);
}

void GoldenCard::writeJson(JsonWriter &writer) const
{
    writer.beginObject();
    writer.member(kEn, en);
    writer.member(kCn, cn);
    writer.member(kNote, note);
    writer.member(kExample, example);
    writer.member(kTag, tag);
    writer.optionalMember(kLineTimestamp, lineTimestamp);
    if (pronunciationHint) {
        writer.key(kPronunciationHint);
        pronunciationHint->writeJson(writer);
    }
    writer.optionalMember(kCulturalHint, culturalHint);
    if (listeningDifficulty)
        writer.member(kListeningDifficulty, rawValue(*listeningDifficulty));
    writer.endObject();
}

QByteArray GoldenCard::toJson() const
{
    return JsonWriter::toBytes([this](JsonWriter &writer) { writeJson(writer); });
}

size_t qHash(const GoldenCard &card, size_t seed) noexcept
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, card.en);
    seed = combine(seed, card.cn);
    seed = combine(seed, card.note);
    seed = combine(seed, card.example);
    seed = combine(seed, card.tag);
    feedOptional(combine, seed, card.lineTimestamp, [&](double t) { seed = combine(seed, hashableDouble(t)); });
    feedOptional(combine, seed, card.pronunciationHint,
                 [&](const PronunciationHint &hint) { seed = combine(seed, hint); });
    feedOptional(combine, seed, card.culturalHint, [&](const QString &hint) { seed = combine(seed, hint); });
    feedOptional(combine, seed, card.listeningDifficulty,
                 [&](ListeningDifficulty d) { seed = combine(seed, rawValue(d)); });
    return seed;
}
