#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <exception>
#include <optional>

// A JSON value could not be read (or written) as the expected shape. The message names the key
// path ("cards[2].tag") and what was wrong, so it can be logged or shown to a developer as is.
class JsonError : public std::exception
{
public:
    explicit JsonError(QString message);
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

namespace StrictJson {

// Parses JSON text. Malformed text, nesting deeper than the parser allows, or a top level of
// the wrong kind throws JsonError; nothing here crashes on hostile input.
QJsonDocument parse(const QByteArray &bytes);
QJsonObject parseObject(const QByteArray &bytes);
QJsonArray parseArray(const QByteArray &bytes);

// "string", "number", "null", … for error messages.
QString typeName(const QJsonValue &value);

// "a.b" / "a[3]": the path of a child value for error messages.
QString childPath(const QString &path, QStringView key);
QString indexPath(const QString &path, qsizetype index);

// Decodes every element of an array as an object with `decode(const QJsonObject &)`. The first
// element that fails makes the whole array fail; its index is added to the message.
template<class Decode>
auto decodeObjectArray(const QJsonArray &array, const QString &path, Decode decode)
    -> QList<decltype(decode(QJsonObject()))>
{
    QList<decltype(decode(QJsonObject()))> result;
    result.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonValue element = array.at(i);
        const QString elementPath = indexPath(path, i);
        if (!element.isObject())
            throw JsonError(QStringLiteral("%1: expected an object, found %2").arg(elementPath, typeName(element)));
        try {
            result.append(decode(element.toObject()));
        } catch (const JsonError &error) {
            throw JsonError(elementPath + QStringLiteral(": ") + error.message());
        }
    }
    return result;
}

} // namespace StrictJson

// Reads the fields of one JSON object by three rules:
// - require…: the key must be present, not null, and of the type; otherwise JsonError.
// - optional…: absent or null gives no value; present with another type is a JsonError.
// - lenient…: absent, null or of another type gives no value; never throws.
// Keys the reader is not asked about are ignored.
class JsonReader
{
public:
    explicit JsonReader(QJsonObject object, QString path = QString());

    const QJsonObject &json() const { return m_object; }
    const QString &path() const { return m_path; }

    // Present and not null.
    bool has(QStringView key) const;
    QJsonValue value(QStringView key) const { return m_object.value(key); }

    QString requireString(QStringView key) const;
    double requireNumber(QStringView key) const;
    // A number without a fraction part that a double holds exactly (|n| ≤ 2^53).
    qint64 requireInteger(QStringView key) const;
    bool requireBool(QStringView key) const;
    QJsonObject requireObject(QStringView key) const;
    QJsonArray requireArray(QStringView key) const;
    JsonReader requireReader(QStringView key) const { return JsonReader(requireObject(key), childPath(key)); }

    std::optional<QString> optionalString(QStringView key) const;
    std::optional<double> optionalNumber(QStringView key) const;
    std::optional<qint64> optionalInteger(QStringView key) const;
    std::optional<bool> optionalBool(QStringView key) const;
    std::optional<QJsonObject> optionalObject(QStringView key) const;
    std::optional<QJsonArray> optionalArray(QStringView key) const;

    std::optional<QString> lenientString(QStringView key) const;
    std::optional<double> lenientNumber(QStringView key) const;
    std::optional<bool> lenientBool(QStringView key) const;

    // Enumerations travel as raw-value strings; `fromRaw` maps a string to the case or to nothing.
    template<class FromRaw>
    auto requireEnum(QStringView key, FromRaw fromRaw) const -> typename decltype(fromRaw(QString()))::value_type
    {
        const QString raw = requireString(key);
        if (auto value = fromRaw(raw))
            return *value;
        throw unknownCase(key, raw);
    }
    template<class FromRaw>
    auto optionalEnum(QStringView key, FromRaw fromRaw) const -> decltype(fromRaw(QString()))
    {
        const std::optional<QString> raw = optionalString(key);
        if (!raw)
            return std::nullopt;
        if (auto value = fromRaw(*raw))
            return value;
        throw unknownCase(key, *raw);
    }
    template<class FromRaw>
    auto lenientEnum(QStringView key, FromRaw fromRaw) const -> decltype(fromRaw(QString()))
    {
        const std::optional<QString> raw = lenientString(key);
        if (!raw)
            return std::nullopt;
        return fromRaw(*raw);
    }

    QString childPath(QStringView key) const { return StrictJson::childPath(m_path, key); }
    [[noreturn]] void fail(QStringView key, const QString &problem) const;

private:
    JsonError unknownCase(QStringView key, const QString &raw) const;
    QJsonValue requirePresent(QStringView key) const;
    [[noreturn]] void wrongType(QStringView key, const char *expected, const QJsonValue &found) const;

    QJsonObject m_object;
    QString m_path;
};
