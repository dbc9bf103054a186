#pragma once

#include "core/GoldenCard.h"

#include <QList>
#include <QString>

#include <optional>
#include <variant>

// One event of a streamed card answer: a piece of the text being written, cards the backend
// already held, the final cards, or a failure.
struct SSEEvent
{
    // The backend's failure category; travels as its raw value ("rate_limit", …).
    enum class ErrorCategory { timeout, rateLimit, upstreamError, unknown };

    struct Delta
    {
        QString text;
        bool operator==(const Delta &) const = default;
    };
    struct Cached
    {
        QList<GoldenCard> cards;
        QString songKey;
        bool operator==(const Cached &) const = default;
    };
    struct Done
    {
        QList<GoldenCard> cards;
        QString songKey;
        std::optional<QString> warning;
        bool operator==(const Done &) const = default;
    };
    struct Error
    {
        ErrorCategory category = ErrorCategory::unknown;
        QString message;
        bool operator==(const Error &) const = default;
    };

    std::variant<Delta, Cached, Done, Error> payload;

    static SSEEvent delta(QString text) { return {Delta{std::move(text)}}; }
    static SSEEvent cached(QList<GoldenCard> cards, QString songKey) { return {Cached{std::move(cards), std::move(songKey)}}; }
    static SSEEvent done(QList<GoldenCard> cards, QString songKey, std::optional<QString> warning = std::nullopt)
    {
        return {Done{std::move(cards), std::move(songKey), std::move(warning)}};
    }
    static SSEEvent error(ErrorCategory category, QString message) { return {Error{category, std::move(message)}}; }

    template<class T>
    const T *as() const { return std::get_if<T>(&payload); }
    // A done or error event is the last event of its stream.
    bool isTerminal() const { return as<Done>() || as<Error>(); }

    bool operator==(const SSEEvent &) const = default;

    // Decodes one event from its "event:" name and its joined "data:" text. Gives no event for a
    // missing or unknown name and for data that does not decode — except an "error" event, which
    // always gives one (category unknown and the raw data as its message when it does not decode).
    static std::optional<SSEEvent> decode(const std::optional<QString> &name, const QString &data);
};

QString rawValue(SSEEvent::ErrorCategory category);
// Exact, case-sensitive match of the raw value; any other text gives no value.
std::optional<SSEEvent::ErrorCategory> errorCategoryFromRawValue(const QString &raw);
