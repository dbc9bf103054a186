#include "backend/CardEvent.h"

#include "platform/StrictJson.h"
#include "platform/Text.h"

#include <QJsonArray>

namespace {

const QString kCards = QStringLiteral("cards");
const QString kSongKey = QStringLiteral("songKey");
const QString kWarning = QStringLiteral("warning");
const QString kError = QStringLiteral("error");
const QString kCategory = QStringLiteral("category");

// The data of a delta is one JSON string literal, quotes included. The document parser only
// takes arrays and objects at the top level, so the literal is read as the single element of
// an array; anything that is not exactly one string fails.
std::optional<QString> decodeJsonString(const QString &data)
{
    try {
        const QJsonArray array = StrictJson::parseArray('[' + data.toUtf8() + ']');
        if (array.size() != 1 || !array.at(0).isString())
            return std::nullopt;
        return array.at(0).toString();
    } catch (const JsonError &) {
        return std::nullopt;
    }
}

std::optional<SSEEvent> decodeCached(const QString &data)
{
    try {
        const JsonReader reader(StrictJson::parseObject(data.toUtf8()));
        QList<GoldenCard> cards = GoldenCard::listFromJson(reader.requireArray(kCards));
        return SSEEvent::cached(std::move(cards), reader.requireString(kSongKey));
    } catch (const JsonError &) {
        return std::nullopt;
    }
}

std::optional<SSEEvent> decodeDone(const QString &data)
{
    // An empty object closes a stream that carried no cards.
    if (Text::trimmedView(data, Text::CharSet::horizontalWhitespace) == u"{}")
        return SSEEvent::done({}, QString());
    try {
        const JsonReader reader(StrictJson::parseObject(data.toUtf8()));
        QList<GoldenCard> cards = GoldenCard::listFromJson(reader.requireArray(kCards));
        QString songKey = reader.requireString(kSongKey);
        return SSEEvent::done(std::move(cards), std::move(songKey), reader.optionalString(kWarning));
    } catch (const JsonError &) {
        return std::nullopt;
    }
}

SSEEvent decodeError(const QString &data)
{
    try {
        const JsonReader reader(StrictJson::parseObject(data.toUtf8()));
        QString message = reader.requireString(kError);
        const QString category = reader.requireString(kCategory);
        return SSEEvent::error(errorCategoryFromRawValue(category).value_or(SSEEvent::ErrorCategory::unknown),
                               std::move(message));
    } catch (const JsonError &) {
        return SSEEvent::error(SSEEvent::ErrorCategory::unknown, data);
    }
}

} // namespace

QString rawValue(SSEEvent::ErrorCategory category)
{
    switch (category) {
    case SSEEvent::ErrorCategory::timeout:
        return QStringLiteral("timeout");
    case SSEEvent::ErrorCategory::rateLimit:
        return QStringLiteral("rate_limit");
    case SSEEvent::ErrorCategory::upstreamError:
        return QStringLiteral("upstream_error");
    case SSEEvent::ErrorCategory::unknown:
        return QStringLiteral("unknown");
    }
    return QString();
}

std::optional<SSEEvent::ErrorCategory> errorCategoryFromRawValue(const QString &raw)
{
    for (const auto category : {SSEEvent::ErrorCategory::timeout, SSEEvent::ErrorCategory::rateLimit,
                                SSEEvent::ErrorCategory::upstreamError, SSEEvent::ErrorCategory::unknown}) {
        if (rawValue(category) == raw)
            return category;
    }
    return std::nullopt;
}

std::optional<SSEEvent> SSEEvent::decode(const std::optional<QString> &name, const QString &data)
{
    if (!name)
        return std::nullopt;
    if (*name == u"delta") {
        if (auto text = decodeJsonString(data))
            return SSEEvent::delta(std::move(*text));
        return std::nullopt;
    }
    if (*name == u"cached")
        return decodeCached(data);
    if (*name == u"done")
        return decodeDone(data);
    if (*name == u"error")
        return decodeError(data);
    return std::nullopt;
}
