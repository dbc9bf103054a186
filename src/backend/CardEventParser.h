#pragma once

#include "backend/CardEvent.h"
#include "platform/Async.h"
#include "platform/Cancellation.h"

#include <QNetworkReply>
#include <QString>
#include <QStringView>

#include <exception>
#include <memory>
#include <optional>
#include <variant>

// Reads a server-sent-events text one line at a time and decodes the card events in it.
//
//   event: <name>      sets the name of the event being read (a later one replaces it)
//   data: <value>      adds a line of data (several are joined with "\n"); "[DONE]" ends the stream
//   :<comment>         ignored, like every other field
//   <blank line>       ends the event being read
//
// A done or error event is the last one: the reader is finished after it.
class SSELineReader
{
public:
    struct Step
    {
        std::optional<SSEEvent> event;
        bool finished = false;
    };

    // One line without its line feed (a trailing carriage return is dropped).
    Step feed(QStringView line);
    bool isFinished() const { return m_finished; }

private:
    std::optional<QString> m_eventName;
    QString m_data;
    bool m_finished = false;
};

// A source of event-stream lines, read in order, each without its line feed.
class SSELineSource
{
public:
    virtual ~SSELineSource();
    // The next line, or nullopt when the text has ended. A failed transfer throws SSELineError;
    // the token fires when the reader is no longer wanted.
    virtual QCoro::Task<std::optional<QString>> nextLine(CancellationToken token) = 0;
};

// What a line source throws when the transfer under it fails.
class SSELineError : public std::exception
{
public:
    explicit SSELineError(QNetworkReply::NetworkError code) : m_code(code) {}
    QNetworkReply::NetworkError code() const { return m_code; }
    const char *what() const noexcept override { return "event stream transfer failed"; }

private:
    QNetworkReply::NetworkError m_code;
};

// The events of one stream, buffered without limit. Dropping the stream (or cancel()) stops the
// task that reads its lines.
class SSEEventStream
{
public:
    using Item = std::variant<SSEEvent, std::exception_ptr>;

    explicit SSEEventStream(Channel<Item> channel, CancellationToken reader);
    ~SSEEventStream();
    SSEEventStream(SSEEventStream &&other) noexcept;
    SSEEventStream &operator=(SSEEventStream &&other) noexcept;
    SSEEventStream(const SSEEventStream &) = delete;
    SSEEventStream &operator=(const SSEEventStream &) = delete;

    // The next event; nullopt once the stream has finished without error. A failed stream throws
    // its failure once (RemoteCardsError transport, or what the line source threw), then ends.
    // A waiter whose token fires stops waiting with CancelledError; the stream goes on.
    QCoro::Task<std::optional<SSEEvent>> next(CancellationToken token = {});

    // Stops listening: the reading task ends and no further event arrives.
    void cancel();

private:
    // Both empty once moved from.
    std::optional<Channel<Item>> m_channel;
    std::optional<CancellationToken> m_reader;
};

struct SSEParser
{
    // Starts one task that reads `lines` and turns them into events. The stream finishes without
    // error at a "[DONE]" data line or after a done or error event. Lines that run out first make
    // it fail with RemoteCardsError transport (RemoteHostClosedError: the connection was lost);
    // an SSELineError becomes RemoteCardsError transport with its code; any other failure of the
    // source ends the stream with that same failure.
    static SSEEventStream events(std::shared_ptr<SSELineSource> lines);
};
