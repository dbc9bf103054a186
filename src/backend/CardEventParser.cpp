#include "backend/CardEventParser.h"

#include "backend/RemoteCardsError.h"
#include "platform/Text.h"

#include <utility>

namespace {

QStringView trimSpacesAndTabs(QStringView text)
{
    return Text::trimmedView(text, Text::CharSet::horizontalWhitespace);
}

void fail(const Channel<SSEEventStream::Item> &out, std::exception_ptr error)
{
    out.send(std::move(error));
    out.finish();
}

// The stream's reading task. It owns nothing but shared handles, so it may outlive the stream
// object; it stops at the next line once the stream is dropped.
QCoro::Task<void> readEvents(std::shared_ptr<SSELineSource> lines, Channel<SSEEventStream::Item> out,
                             CancellationToken token)
{
    SSELineReader reader;
    while (!token.isCancelled()) {
        std::optional<QString> line;
        try {
            line = co_await lines->nextLine(token);
        } catch (const SSELineError &error) {
            fail(out, std::make_exception_ptr(RemoteCardsError::transport(error.code())));
            co_return;
        } catch (const CancelledError &) {
            if (token.isCancelled())
                co_return;
            fail(out, std::current_exception());
            co_return;
        } catch (...) {
            fail(out, std::current_exception());
            co_return;
        }
        if (token.isCancelled())
            co_return;
        if (!line) {
            fail(out, std::make_exception_ptr(RemoteCardsError::transport(QNetworkReply::RemoteHostClosedError)));
            co_return;
        }
        SSELineReader::Step step = reader.feed(*line);
        if (step.event)
            out.send(std::move(*step.event));
        if (step.finished) {
            out.finish();
            co_return;
        }
    }
}

} // namespace

SSELineReader::Step SSELineReader::feed(QStringView line)
{
    Step step;
    if (m_finished) {
        step.finished = true;
        return step;
    }
    if (line.endsWith(u'\r'))
        line.chop(1);

    if (!line.isEmpty()) {
        if (line.startsWith(u':'))
            return step; // a comment
        if (line.startsWith(u"event:")) {
            m_eventName = trimSpacesAndTabs(line.sliced(6)).toString();
        } else if (line.startsWith(u"data:")) {
            const QStringView value = trimSpacesAndTabs(line.sliced(5));
            if (value == u"[DONE]") {
                // The end marker closes the stream at once; a half-read event is dropped.
                m_finished = true;
                step.finished = true;
                return step;
            }
            if (m_data.isEmpty())
                m_data = value.toString();
            else
                m_data += u'\n' + value.toString();
        }
        // Other fields (id, retry, names in another letter case) carry nothing for us.
        return step;
    }

    if (!m_eventName && m_data.isEmpty())
        return step;
    step.event = SSEEvent::decode(m_eventName, m_data);
    if (step.event && step.event->isTerminal()) {
        m_finished = true;
        step.finished = true;
    }
    m_eventName.reset();
    m_data.clear();
    return step;
}

SSELineSource::~SSELineSource() = default;

SSEEventStream::SSEEventStream(Channel<Item> channel, CancellationToken reader)
    : m_channel(std::move(channel)), m_reader(std::move(reader))
{
}

SSEEventStream::SSEEventStream(SSEEventStream &&other) noexcept
    : m_channel(std::exchange(other.m_channel, std::nullopt))
    , m_reader(std::exchange(other.m_reader, std::nullopt))
{
}

SSEEventStream &SSEEventStream::operator=(SSEEventStream &&other) noexcept
{
    if (this != &other) {
        cancel();
        m_channel = std::exchange(other.m_channel, std::nullopt);
        m_reader = std::exchange(other.m_reader, std::nullopt);
    }
    return *this;
}

SSEEventStream::~SSEEventStream()
{
    cancel();
}

void SSEEventStream::cancel()
{
    if (m_reader)
        m_reader->cancel();
    if (m_channel)
        m_channel->finish();
}

namespace {
QCoro::Task<std::optional<SSEEvent>> receiveEvent(Channel<SSEEventStream::Item> channel, CancellationToken token)
{
    std::optional<SSEEventStream::Item> item = co_await channel.receive(token);
    if (!item)
        co_return std::nullopt;
    if (auto *error = std::get_if<std::exception_ptr>(&*item))
        std::rethrow_exception(*error);
    co_return std::get<SSEEvent>(std::move(*item));
}
} // namespace

QCoro::Task<std::optional<SSEEvent>> SSEEventStream::next(CancellationToken token)
{
    if (!m_channel) {
        // Moved from: behaves as a finished stream.
        Channel<Item> finished;
        finished.finish();
        return receiveEvent(finished, std::move(token));
    }
    return receiveEvent(*m_channel, std::move(token));
}

SSEEventStream SSEParser::events(std::shared_ptr<SSELineSource> lines)
{
    Channel<SSEEventStream::Item> channel;
    CancellationToken reader;
    readEvents(std::move(lines), channel, reader); // runs on by itself; ends with the stream
    return SSEEventStream(channel, reader);
}
