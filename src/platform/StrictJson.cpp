#include "platform/StrictJson.h"

#include <QJsonParseError>

#include <cmath>

JsonError::JsonError(QString message)
    : m_message(std::move(message))
    , m_utf8(m_message.toUtf8())
{
}

namespace StrictJson {

QJsonDocument parse(const QByteArray &bytes)
{
    // QJsonDocument's parser stops with DeepNesting past its depth limit (1024 levels), so
    // hostile nesting ends here as an error rather than a stack overflow.
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        throw JsonError(QStringLiteral("invalid JSON at offset %1: %2").arg(error.offset).arg(error.errorString()));
    return document;
}

QJsonObject parseObject(const QByteArray &bytes)
{
    const QJsonDocument document = parse(bytes);
    if (!document.isObject())
        throw JsonError(QStringLiteral("expected a JSON object at the top level"));
    return document.object();
}

QJsonArray parseArray(const QByteArray &bytes)
{
    const QJsonDocument document = parse(bytes);
    if (!document.isArray())
        throw JsonError(QStringLiteral("expected a JSON array at the top level"));
    return document.array();
}

QString typeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null: return QStringLiteral("null");
    case QJsonValue::Bool: return QStringLiteral("a boolean");
    case QJsonValue::Double: return QStringLiteral("a number");
    case QJsonValue::String: return QStringLiteral("a string");
    case QJsonValue::Array: return QStringLiteral("an array");
    case QJsonValue::Object: return QStringLiteral("an object");
    case QJsonValue::Undefined: return QStringLiteral("nothing");
    }
    return QStringLiteral("an unknown value");
}

QString childPath(const QString &path, QStringView key)
{
    if (path.isEmpty())
        return key.toString();
    return path + QLatin1Char('.') + key.toString();
}

QString indexPath(const QString &path, qsizetype index)
{
    return path + QLatin1Char('[') + QString::number(index) + QLatin1Char(']');
}

} // namespace StrictJson

namespace {
// Doubles hold every integer up to 2^53 exactly; beyond that a JSON integer may already have
// been rounded by the parser.
constexpr double maxExactInteger = 9007199254740992.0;

bool isExactInteger(double d)
{
    return std::isfinite(d) && std::trunc(d) == d && std::fabs(d) <= maxExactInteger;
}
} // namespace

JsonReader::JsonReader(QJsonObject object, QString path)
    : m_object(std::move(object))
    , m_path(std::move(path))
{
}

bool JsonReader::has(QStringView key) const
{
    const QJsonValue v = m_object.value(key);
    return !v.isUndefined() && !v.isNull();
}

void JsonReader::fail(QStringView key, const QString &problem) const
{
    throw JsonError(childPath(key) + QStringLiteral(": ") + problem);
}

void JsonReader::wrongType(QStringView key, const char *expected, const QJsonValue &found) const
{
    fail(key, QStringLiteral("expected %1, found %2").arg(QLatin1String(expected), StrictJson::typeName(found)));
}

JsonError JsonReader::unknownCase(QStringView key, const QString &raw) const
{
    return JsonError(childPath(key) + QStringLiteral(": unknown value \"%1\"").arg(raw));
}

QJsonValue JsonReader::requirePresent(QStringView key) const
{
    const QJsonValue v = m_object.value(key);
    if (v.isUndefined())
        fail(key, QStringLiteral("required key is missing"));
    if (v.isNull())
        fail(key, QStringLiteral("required value is null"));
    return v;
}

QString JsonReader::requireString(QStringView key) const
{
    const QJsonValue v = requirePresent(key);
    if (!v.isString())
        wrongType(key, "a string", v);
    return v.toString();
}

double JsonReader::requireNumber(QStringView key) const
{
    const QJsonValue v = requirePresent(key);
    if (!v.isDouble())
        wrongType(key, "a number", v);
    return v.toDouble();
}

qint64 JsonReader::requireInteger(QStringView key) const
{
    const double d = requireNumber(key);
    if (!isExactInteger(d))
        fail(key, QStringLiteral("expected an integer, found %1").arg(d));
    return static_cast<qint64>(d);
}

bool JsonReader::requireBool(QStringView key) const
{
    const QJsonValue v = requirePresent(key);
    if (!v.isBool())
        wrongType(key, "a boolean", v);
    return v.toBool();
}

QJsonObject JsonReader::requireObject(QStringView key) const
{
    const QJsonValue v = requirePresent(key);
    if (!v.isObject())
        wrongType(key, "an object", v);
    return v.toObject();
}

QJsonArray JsonReader::requireArray(QStringView key) const
{
    const QJsonValue v = requirePresent(key);
    if (!v.isArray())
        wrongType(key, "an array", v);
    return v.toArray();
}

std::optional<QString> JsonReader::optionalString(QStringView key) const
{
    if (!has(key))
        return std::nullopt;
    return requireString(key);
}

std::optional<double> JsonReader::optionalNumber(QStringView key) const
{
    if (!has(key))
        return std::nullopt;
    return requireNumber(key);
}

std::optional<qint64> JsonReader::optionalInteger(QStringView key) const
{
    if (!has(key))
        return std::nullopt;
    return requireInteger(key);
}

std::optional<bool> JsonReader::optionalBool(QStringView key) const
{
    if (!has(key))
        return std::nullopt;
    return requireBool(key);
}

std::optional<QJsonObject> JsonReader::optionalObject(QStringView key) const
{
    if (!has(key))
        return std::nullopt;
    return requireObject(key);
}

std::optional<QJsonArray> JsonReader::optionalArray(QStringView key) const
{
    if (!has(key))
        return std::nullopt;
    return requireArray(key);
}

std::optional<QString> JsonReader::lenientString(QStringView key) const
{
    const QJsonValue v = m_object.value(key);
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

std::optional<double> JsonReader::lenientNumber(QStringView key) const
{
    const QJsonValue v = m_object.value(key);
    if (!v.isDouble())
        return std::nullopt;
    return v.toDouble();
}

std::optional<bool> JsonReader::lenientBool(QStringView key) const
{
    const QJsonValue v = m_object.value(key);
    if (!v.isBool())
        return std::nullopt;
    return v.toBool();
}
