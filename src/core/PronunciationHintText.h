#pragma once

#include "core/GoldenCard.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QUtf8StringView>

#include <optional>

// A card's pronunciation hint as the store keeps it: JSON text, UTF-8 (LearnedCard's
// pronunciationHintJSON). The one reader of that text: LearnedCard decodes with it, and the
// backup reads and writes a whole library's hints with it, on UTF-8 directly. Writing goes
// through PronunciationHint::toJson.
namespace PronunciationHintText {

// A hint with its texts in UTF-8.
struct Utf8Hint
{
    PronunciationKind kind;
    QByteArray tip;
    std::optional<QByteArray> ipa;
};

QByteArray encode(PronunciationKind kind, QByteArrayView tip, const std::optional<QByteArray> &ipa);
// Strict: an object with "kind" (a known raw value) and "tip" (a string), "ipa" a string or
// absent (null is absent); other members are ignored. Any other text (not JSON, bytes after
// the object, invalid UTF-8) gives no hint.
std::optional<Utf8Hint> decodeUtf8(QUtf8StringView text);
std::optional<PronunciationHint> decode(QUtf8StringView text);

// The kind's raw value ("weak_form", …) and back, exactly and case-sensitively.
QLatin1StringView rawText(PronunciationKind kind);
std::optional<PronunciationKind> kindFromRaw(QByteArrayView raw);

} // namespace PronunciationHintText
