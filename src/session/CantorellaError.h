#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The player's error state. It carries no user text: the screens choose the words for each
// case, and the detail texts live beside it in the view model.
class CantorellaError : public std::exception
{
public:
    enum class Kind {
        unknown,                // any other failure; carries a message
        mediaRemoteUnavailable, // the desktop's now-playing service cannot be used
        lyricsNotFound,         // the backend has no lyrics for the song
        lyricsUnavailable,      // fetching the lyrics failed
        cardsUnavailable,       // making the study cards failed
    };

    static CantorellaError unknown(const QString &message);
    static CantorellaError mediaRemoteUnavailable() { return CantorellaError(Kind::mediaRemoteUnavailable); }
    static CantorellaError lyricsNotFound() { return CantorellaError(Kind::lyricsNotFound); }
    static CantorellaError lyricsUnavailable() { return CantorellaError(Kind::lyricsUnavailable); }
    static CantorellaError cardsUnavailable() { return CantorellaError(Kind::cardsUnavailable); }

    Kind kind() const { return m_kind; }
    // The message of `unknown`; empty for the other cases.
    const QString &message() const { return m_message; }

    // For logs: "unknown(<message>)", "lyricsUnavailable", …
    QString description() const;
    const char *what() const noexcept override { return m_what.constData(); }

    // Same case; `unknown` also compares the message exactly.
    bool operator==(const CantorellaError &other) const
    {
        return m_kind == other.m_kind && m_message == other.m_message;
    }

private:
    explicit CantorellaError(Kind kind, QString message = {});

    Kind m_kind;
    QString m_message;
    QByteArray m_what;
};

// The text by which an error describes itself to the user: the backend errors' Chinese user
// message when the error has one, otherwise its general description.
QString localizedDescription(const std::exception &error);
// The same for a caught exception of any type ("未知错误" when it is not a std::exception).
QString localizedDescription(const std::exception_ptr &error);
