#pragma once

#include "platform/StrictJson.h"

#include <QAnyStringView>
#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <concepts>
#include <cstring>
#include <optional>
#include <vector>

class QIODevice;

// Streams JSON text, writing object members in exactly the order they are given (QJsonObject
// would sort them). Output is UTF-8 as is: non-ASCII text is never written as \u escapes;
// control characters are escaped and a lone UTF-16 surrogate becomes U+FFFD, so the output is
// always valid UTF-8 JSON. Numbers are written as the shortest text that reads back as the same
// double (3.0 as "3", 1e-7 as "1e-07"); integers as integers.
//
// Errors throw JsonError and leave the writer unusable:
// - a NaN or infinite number (JSON has no text for it; nothing is substituted);
// - a call out of order (a value where a key is due, endArray for an object, a second
//   top-level value, finish() on an unfinished document);
// - the device refusing bytes (a full disk).
// Text already handed to the device stays there; the caller discards the partial output.
//
// Writing to a device buffers about 64 KiB and flushes in finish(); memory stays bounded by the
// buffer whatever the document's size. Without a device the text collects in memory:
// take it with bytes() after finish().
struct JsonWriterOptions
{
    // One member or element per line, indented by two spaces, "key": value.
    bool pretty = false;
    // "/" as "\/" (some readers of the text expect it; both read back as "/").
    bool escapeSlash = false;
};

class JsonWriter
{
public:
    using Options = JsonWriterOptions;

    explicit JsonWriter(QIODevice *device, Options options);
    explicit JsonWriter(QIODevice *device) : JsonWriter(device, Options()) {}
    // Collects the text in memory.
    explicit JsonWriter(Options options) : JsonWriter(nullptr, options) {}
    JsonWriter() : JsonWriter(nullptr, Options()) {}
    JsonWriter(const JsonWriter &) = delete;
    JsonWriter &operator=(const JsonWriter &) = delete;

    JsonWriter &beginObject();
    JsonWriter &endObject();
    JsonWriter &beginArray();
    JsonWriter &endArray();
    // The name of the next member; the member's value follows with value(), null(), begin…().
    JsonWriter &key(QAnyStringView name);

    JsonWriter &value(QAnyStringView text);
    // Without this a string literal would choose value(bool). UTF-8.
    JsonWriter &value(const char *utf8) { return value(QAnyStringView(utf8)); }
    JsonWriter &value(const QString &text) { return value(QAnyStringView(text)); }
    JsonWriter &value(QLatin1StringView text) { return value(QAnyStringView(text)); }
    JsonWriter &value(double number);
    JsonWriter &value(bool flag);
    template<std::integral T>
        requires(!std::same_as<T, bool>)
    JsonWriter &value(T number)
    {
        if constexpr (std::is_signed_v<T>)
            return writeInteger(static_cast<qint64>(number));
        else
            return writeUnsigned(static_cast<quint64>(number));
    }
    JsonWriter &null();

    // A whole Qt JSON value. The members of every object, at every depth, are written in
    // ascending order of their keys (UTF-16 code units); arrays keep their order.
    JsonWriter &value(const QJsonValue &json);
    JsonWriter &value(const QJsonObject &json);
    JsonWriter &value(const QJsonArray &json);

    template<class T>
    JsonWriter &member(QAnyStringView name, const T &memberValue)
    {
        key(name);
        return value(memberValue);
    }
    // An absent value leaves the member out (never null). A non-finite optional number counts
    // as no value too: it has no JSON text, and an optional field may simply be missing.
    template<class T>
    JsonWriter &optionalMember(QAnyStringView name, const std::optional<T> &memberValue)
    {
        if (!memberValue)
            return *this;
        if constexpr (std::is_floating_point_v<T>) {
            if (!std::isfinite(*memberValue))
                return *this;
        }
        return member(name, *memberValue);
    }

    // Checks that exactly one complete value was written and hands the rest of the buffer to
    // the device. Throws JsonError otherwise.
    void finish();
    // The text written without a device (after finish()).
    const QByteArray &bytes() const { return m_text; }

    // Runs `write` on an in-memory writer and returns the finished text.
    template<class Write>
    static QByteArray toBytes(Write &&write, Options options = Options())
    {
        JsonWriter writer(options);
        write(writer);
        writer.finish();
        return writer.m_text;
    }
    // One value as text.
    static QByteArray serialize(const QJsonValue &json, Options options = Options())
    {
        return toBytes([&json](JsonWriter &writer) { writer.value(json); }, options);
    }

private:
    // Bytes appended many small pieces at a time. QByteArray::append costs some 25 ns a call,
    // which dominates the writing of a large document; here a call is a bounds check and a copy.
    class Buffer
    {
    public:
        void append(char c)
        {
            if (m_used == m_bytes.size())
                grow(1);
            m_bytes.data()[m_used++] = c;
        }
        void append(const char *data, qsizetype length)
        {
            if (length == 0)
                return; // `data` may be null then
            if (m_bytes.size() - m_used < length)
                grow(length);
            std::memcpy(m_bytes.data() + m_used, data, size_t(length));
            m_used += length;
        }
        void append(qsizetype count, char c)
        {
            if (m_bytes.size() - m_used < count)
                grow(count);
            std::memset(m_bytes.data() + m_used, c, size_t(count));
            m_used += count;
        }
        // Room for `length` more bytes, to be written through the pointer.
        char *extend(qsizetype length)
        {
            if (m_bytes.size() - m_used < length)
                grow(length);
            char *tail = m_bytes.data() + m_used;
            m_used += length;
            return tail;
        }
        qsizetype size() const { return m_used; }
        bool isEmpty() const { return m_used == 0; }
        QByteArrayView view() const { return QByteArrayView(m_bytes.constData(), m_used); }
        void clear() { m_used = 0; }
        void reserve(qsizetype capacity);
        // The bytes written; the buffer is empty afterwards.
        QByteArray take();

    private:
        void grow(qsizetype length);

        QByteArray m_bytes; // its whole size is room; the first m_used bytes are written
        qsizetype m_used = 0;
    };

    struct Scope
    {
        bool isObject = false;
        bool hasEntries = false;
        bool keyPending = false;
    };

    [[noreturn]] void fail(const QString &problem);
    void beforeValue();
    void afterValue();
    void newLine(qsizetype depth);
    void writeString(QAnyStringView text);
    void writeUtf16(QStringView text);
    void writeLatin1(QLatin1StringView text);
    // For an ASCII code unit: written as an escape sequence.
    bool needsEscape(char16_t ascii) const;
    // An ASCII character that must be escaped.
    void writeEscape(char16_t c);
    JsonWriter &writeInteger(qint64 number);
    JsonWriter &writeUnsigned(quint64 number);
    JsonWriter &endScope(bool isObject);
    void flushIfFull();
    void flush();

    QIODevice *m_device = nullptr;
    Options m_options;
    Buffer m_buffer;
    QByteArray m_text; // the finished text, without a device
    std::vector<Scope> m_scopes;
    bool m_done = false;
    bool m_failed = false;
};
