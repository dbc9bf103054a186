#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <array>
#include <optional>

class JsonWriter;

// How a phrase sounds when sung or spoken. Travels as its raw value ("weak_form", …).
enum class PronunciationKind { linking, weak_form, contraction, elision, stress, intonation };

// How hard a phrase is to catch by ear. Travels as its raw value.
enum class ListeningDifficulty { easy, medium, hard };

inline constexpr std::array<PronunciationKind, 6> allPronunciationKinds = {
    PronunciationKind::linking, PronunciationKind::weak_form, PronunciationKind::contraction,
    PronunciationKind::elision, PronunciationKind::stress, PronunciationKind::intonation};
inline constexpr std::array<ListeningDifficulty, 3> allListeningDifficulties = {
    ListeningDifficulty::easy, ListeningDifficulty::medium, ListeningDifficulty::hard};

QString rawValue(PronunciationKind kind);
QString rawValue(ListeningDifficulty difficulty);
// Exact, case-sensitive match of the raw value; any other text gives no value.
std::optional<PronunciationKind> pronunciationKindFromRawValue(const QString &raw);
std::optional<ListeningDifficulty> listeningDifficultyFromRawValue(const QString &raw);

struct PronunciationHint
{
    PronunciationKind kind = PronunciationKind::linking;
    QString tip;
    std::optional<QString> ipa;

    // Strict: "kind" (a known raw value) and "tip" are required, "ipa" is optional.
    // Throws JsonError.
    static PronunciationHint fromJson(const QJsonObject &json);
    // Writes the hint as one object: "kind", "tip", then "ipa" only when present.
    void writeJson(JsonWriter &writer) const;
    // The same, as compact UTF-8 text.
    QByteArray toJson() const;

    friend bool operator==(const PronunciationHint &, const PronunciationHint &) = default;
};

size_t qHash(const PronunciationHint &hint, size_t seed = 0) noexcept;

// One English study card about a lyric line, as the backend delivers it.
struct GoldenCard
{
    QString en;
    QString cn;
    QString note;
    QString example;
    QString tag;
    std::optional<double> lineTimestamp;
    std::optional<PronunciationHint> pronunciationHint;
    std::optional<QString> culturalHint;
    std::optional<ListeningDifficulty> listeningDifficulty;

    // The card's identity: en + "|" + tag, exactly (no trimming, no case folding). Equality
    // compares all fields; two cards with one id are still the same card to every consumer
    // that de-duplicates.
    QString id() const { return en + QLatin1Char('|') + tag; }

    // The five texts are required strings and "lineTimestamp" an optional number: anything else
    // there throws JsonError. "pronunciationHint", "culturalHint" and "listeningDifficulty" are
    // lenient: a malformed value is dropped and the card still decodes. Unknown keys are ignored.
    static GoldenCard fromJson(const QJsonObject &json);
    // A whole array of cards; one bad card fails the array.
    static QList<GoldenCard> listFromJson(const QJsonArray &json, const QString &path = QStringLiteral("cards"));
    // Writes the card as one object: "en", "cn", "note", "example", "tag", then "lineTimestamp",
    // "pronunciationHint", "culturalHint", "listeningDifficulty", each only when it holds a value
    // (never null; a non-finite time counts as none).
    void writeJson(JsonWriter &writer) const;
    // The same, as compact UTF-8 text.
    QByteArray toJson() const;

    friend bool operator==(const GoldenCard &, const GoldenCard &) = default;
};

size_t qHash(const GoldenCard &card, size_t seed = 0) noexcept;
