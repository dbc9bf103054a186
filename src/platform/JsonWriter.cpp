#include "platform/JsonWriter.h"

#include <QIODevice>

#include <algorithm>
#include <array>
#include <charconv>

namespace {

constexpr qsizetype kFlushThreshold = 64 * 1024;

// For each ASCII character: 0 = written as is, 'u' = \u00XX, otherwise the letter after the
// backslash. "/" is decided by the options.
constexpr std::array<char, 128> makeEscapeTable()
{
    std::array<char, 128> table{};
    for (int c = 0; c < 0x20; ++c)
        table[c] = 'u';
    table['\b'] = 'b';
    table['\f'] = 'f';
    table['\n'] = 'n';
    table['\r'] = 'r';
    table['\t'] = 't';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}
constexpr std::array<char, 128> kEscape = makeEscapeTable();

template<class Out>
void appendUtf8(Out &out, char32_t codePoint)
{
    char bytes[4];
    int length = 0;
    if (codePoint < 0x800) {
        bytes[0] = char(0xC0 | (codePoint >> 6));
        bytes[1] = char(0x80 | (codePoint & 0x3F));
        length = 2;
    } else if (codePoint < 0x10000) {
        bytes[0] = char(0xE0 | (codePoint >> 12));
        bytes[1] = char(0x80 | ((codePoint >> 6) & 0x3F));
        bytes[2] = char(0x80 | (codePoint & 0x3F));
        length = 3;
    } else {
        bytes[0] = char(0xF0 | (codePoint >> 18));
        bytes[1] = char(0x80 | ((codePoint >> 12) & 0x3F));
        bytes[2] = char(0x80 | ((codePoint >> 6) & 0x3F));
        bytes[3] = char(0x80 | (codePoint & 0x3F));
        length = 4;
    }
    out.append(bytes, length);
}

// Integers in decimal; doubles as the shortest text that reads back as the same double
// ("3", "0.1", "1e-07", "-0").
template<class Out, class Number>
void appendNumber(Out &out, Number number)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, number);
    out.append(text, result.ptr - text);
}

bool isAscii(QUtf8StringView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

void JsonWriter::Buffer::grow(qsizetype length)
{
    // Doubling: a document of n bytes costs O(n) copying in all.
    m_bytes.resize(std::max({m_used + length, m_bytes.size() * 2, qsizetype(256)}));
}

void JsonWriter::Buffer::reserve(qsizetype capacity)
{
    if (capacity > m_bytes.size())
        m_bytes.resize(capacity);
}

QByteArray JsonWriter::Buffer::take()
{
    m_bytes.truncate(m_used);
    m_used = 0;
    return std::exchange(m_bytes, QByteArray());
}

JsonWriter::JsonWriter(QIODevice *device, Options options)
    : m_device(device)
    , m_options(options)
{
    if (m_device)
        m_buffer.reserve(kFlushThreshold + 4096);
}

void JsonWriter::fail(const QString &problem)
{
    m_failed = true;
    throw JsonError(problem);
}

void JsonWriter::newLine(qsizetype depth)
{
    m_buffer.append('\n');
    m_buffer.append(depth * 2, ' ');
}

void JsonWriter::beforeValue()
{
    if (m_failed)
        fail(QStringLiteral("the writer failed earlier"));
    if (m_scopes.empty()) {
        if (m_done)
            fail(QStringLiteral("a second top-level value"));
        return;
    }
    Scope &scope = m_scopes.back();
    if (scope.isObject) {
        if (!scope.keyPending)
            fail(QStringLiteral("a value inside an object needs a key first"));
        scope.keyPending = false;
        return;
    }
    if (scope.hasEntries)
        m_buffer.append(',');
    scope.hasEntries = true;
    if (m_options.pretty)
        newLine(qsizetype(m_scopes.size()));
}

void JsonWriter::afterValue()
{
    if (m_scopes.empty())
        m_done = true;
    flushIfFull();
}

JsonWriter &JsonWriter::key(QAnyStringView name)
{
    if (m_failed)
        fail(QStringLiteral("the writer failed earlier"));
    if (m_scopes.empty() || !m_scopes.back().isObject)
        fail(QStringLiteral("a key outside an object"));
    Scope &scope = m_scopes.back();
    if (scope.keyPending)
        fail(QStringLiteral("two keys without a value between them"));
    if (scope.hasEntries)
        m_buffer.append(',');
    scope.hasEntries = true;
    scope.keyPending = true;
    if (m_options.pretty)
        newLine(qsizetype(m_scopes.size()));
    writeString(name);
    if (m_options.pretty)
        m_buffer.append(": ", 2);
    else
        m_buffer.append(':');
    return *this;
}

JsonWriter &JsonWriter::beginObject()
{
    beforeValue();
    m_buffer.append('{');
    m_scopes.push_back(Scope{true, false, false});
    return *this;
}

JsonWriter &JsonWriter::beginArray()
{
    beforeValue();
    m_buffer.append('[');
    m_scopes.push_back(Scope{false, false, false});
    return *this;
}

JsonWriter &JsonWriter::endObject()
{
    return endScope(true);
}

JsonWriter &JsonWriter::endArray()
{
    return endScope(false);
}

JsonWriter &JsonWriter::endScope(bool isObject)
{
    if (m_failed)
        fail(QStringLiteral("the writer failed earlier"));
    if (m_scopes.empty() || m_scopes.back().isObject != isObject)
        fail(isObject ? QStringLiteral("endObject without an open object")
                      : QStringLiteral("endArray without an open array"));
    const Scope scope = m_scopes.back();
    if (scope.keyPending)
        fail(QStringLiteral("a key without a value"));
    m_scopes.pop_back();
    if (m_options.pretty && scope.hasEntries)
        newLine(qsizetype(m_scopes.size()));
    m_buffer.append(isObject ? '}' : ']');
    afterValue();
    return *this;
}

JsonWriter &JsonWriter::value(QAnyStringView text)
{
    beforeValue();
    writeString(text);
    afterValue();
    return *this;
}

JsonWriter &JsonWriter::value(double number)
{
    if (!std::isfinite(number))
        fail(QStringLiteral("a non-finite number cannot be written as JSON"));
    beforeValue();
    appendNumber(m_buffer, number);
    afterValue();
    return *this;
}

JsonWriter &JsonWriter::writeInteger(qint64 number)
{
    beforeValue();
    appendNumber(m_buffer, number);
    afterValue();
    return *this;
}

JsonWriter &JsonWriter::writeUnsigned(quint64 number)
{
    beforeValue();
    appendNumber(m_buffer, number);
    afterValue();
    return *this;
}

JsonWriter &JsonWriter::value(bool flag)
{
    beforeValue();
    if (flag)
        m_buffer.append("true", 4);
    else
        m_buffer.append("false", 5);
    afterValue();
    return *this;
}

JsonWriter &JsonWriter::null()
{
    beforeValue();
    m_buffer.append("null", 4);
    afterValue();
    return *this;
}

JsonWriter &JsonWriter::value(const QJsonObject &json)
{
    beginObject();
    QStringList keys = json.keys();
    // QJsonObject keeps its keys sorted already; sorting again only guards the order's definition.
    if (!std::is_sorted(keys.cbegin(), keys.cend()))
        std::sort(keys.begin(), keys.end());
    for (const QString &name : std::as_const(keys)) {
        key(name);
        value(json.value(name));
    }
    return endObject();
}

JsonWriter &JsonWriter::value(const QJsonArray &json)
{
    beginArray();
    for (const QJsonValue &element : json)
        value(element);
    return endArray();
}

JsonWriter &JsonWriter::value(const QJsonValue &json)
{
    switch (json.type()) {
    case QJsonValue::Null:
        return null();
    case QJsonValue::Bool:
        return value(json.toBool());
    case QJsonValue::String:
        return value(json.toString());
    case QJsonValue::Array:
        return value(json.toArray());
    case QJsonValue::Object:
        return value(json.toObject());
    case QJsonValue::Double: {
        // A value held as a 64-bit integer keeps all its digits; a double that happens to be
        // whole is written the same way ("3", not "3.0").
        const double d = json.toDouble();
        if (std::isfinite(d) && std::trunc(d) == d && std::fabs(d) < 9.2e18 && !(d == 0 && std::signbit(d)))
            return writeInteger(json.toInteger());
        return value(d);
    }
    case QJsonValue::Undefined:
        break;
    }
    fail(QStringLiteral("an undefined value cannot be written as JSON"));
}

void JsonWriter::writeString(QAnyStringView text)
{
    m_buffer.append('"');
    text.visit([this](auto view) {
        using View = decltype(view);
        if constexpr (std::is_same_v<View, QStringView>) {
            writeUtf16(view);
        } else if constexpr (std::is_same_v<View, QLatin1StringView>) {
            writeLatin1(view);
        } else if (isAscii(view)) {
            writeLatin1(QLatin1StringView(view.data(), view.size()));
        } else {
            // Not on a hot path (keys and literals are ASCII); invalid UTF-8 becomes U+FFFD.
            writeUtf16(QString::fromUtf8(view.data(), view.size()));
        }
    });
    m_buffer.append('"');
}

void JsonWriter::writeLatin1(QLatin1StringView text)
{
    const char *data = text.data();
    const qsizetype size = text.size();
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (c < 0x80 && !needsEscape(c))
            continue;
        m_buffer.append(data + runStart, i - runStart);
        runStart = i + 1;
        if (c >= 0x80)
            appendUtf8(m_buffer, c);
        else
            writeEscape(c);
    }
    m_buffer.append(data + runStart, size - runStart);
}

bool JsonWriter::needsEscape(char16_t ascii) const
{
    return kEscape[ascii] != 0 || (ascii == u'/' && m_options.escapeSlash);
}

void JsonWriter::writeEscape(char16_t c)
{
    static constexpr char hex[] = "0123456789abcdef";
    const char escape = c == u'/' ? '/' : kEscape[c];
    if (escape == 'u') {
        const char sequence[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 0xF]};
        m_buffer.append(sequence, 6);
    } else {
        const char sequence[2] = {'\\', escape};
        m_buffer.append(sequence, 2);
    }
}

void JsonWriter::writeUtf16(QStringView text)
{
    const char16_t *data = text.utf16();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = data[i];
        if (c < 0x80) {
            // Copy a run of plain ASCII at once.
            qsizetype end = i;
            while (end < size && data[end] < 0x80 && !needsEscape(data[end]))
                ++end;
            if (end > i) {
                char *out = m_buffer.extend(end - i);
                for (qsizetype k = i; k < end; ++k)
                    *out++ = char(data[k]);
                i = end - 1;
                continue;
            }
            writeEscape(c);
        } else if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(data[i + 1])) {
            appendUtf8(m_buffer, QChar::surrogateToUcs4(c, data[i + 1]));
            ++i;
        } else if (QChar::isSurrogate(c)) {
            // A lone surrogate has no UTF-8 form: the replacement character keeps the text valid.
            appendUtf8(m_buffer, 0xFFFD);
        } else {
            appendUtf8(m_buffer, c);
        }
    }
}

void JsonWriter::flushIfFull()
{
    if (m_device && m_buffer.size() >= kFlushThreshold)
        flush();
}

void JsonWriter::flush()
{
    if (!m_device || m_buffer.isEmpty())
        return;
    const QByteArrayView pending = m_buffer.view();
    const qint64 written = m_device->write(pending.data(), pending.size());
    if (written != pending.size())
        fail(QStringLiteral("writing JSON failed: %1").arg(m_device->errorString()));
    // Keeps the capacity for the next round.
    m_buffer.clear();
}

void JsonWriter::finish()
{
    if (m_failed)
        fail(QStringLiteral("the writer failed earlier"));
    if (!m_scopes.empty())
        fail(QStringLiteral("the document is not complete: %1 open").arg(m_scopes.size()));
    if (!m_done)
        fail(QStringLiteral("nothing was written"));
    if (m_device)
        flush();
    else
        m_text = m_buffer.take();
}
