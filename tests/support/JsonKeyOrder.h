#pragma once

// Reads JSON text keeping the members' order (QJsonObject sorts them), for tests that check the
// order an encoder writes.
#include <QByteArray>
#include <QStringList>

#include <rapidjson/document.h>

namespace JsonKeyOrder {

// The member names, in written order, of the object reached from the top level by `path`
// (member names; an integer text steps into an array). Empty when the text is not valid UTF-8
// JSON or the path does not lead to an object; the caller compares against a non-empty list.
inline QStringList keys(const QByteArray &json, const QStringList &path = {})
{
    rapidjson::Document document;
    document.Parse<rapidjson::kParseValidateEncodingFlag>(json.constData(), size_t(json.size()));
    if (document.HasParseError())
        return {};
    const rapidjson::Value *node = &document;
    for (const QString &step : path) {
        bool isIndex = false;
        const int index = step.toInt(&isIndex);
        if (isIndex && node->IsArray() && index >= 0 && rapidjson::SizeType(index) < node->Size()) {
            node = &(*node)[rapidjson::SizeType(index)];
            continue;
        }
        const QByteArray name = step.toUtf8();
        if (!node->IsObject())
            return {};
        const auto member = node->FindMember(rapidjson::Value(name.constData(), rapidjson::SizeType(name.size())));
        if (member == node->MemberEnd())
            return {};
        node = &member->value;
    }
    if (!node->IsObject())
        return {};
    QStringList names;
    for (auto it = node->MemberBegin(); it != node->MemberEnd(); ++it)
        names << QString::fromUtf8(it->name.GetString(), qsizetype(it->name.GetStringLength()));
    return names;
}

// Whether the text is one valid JSON value in valid UTF-8.
inline bool isValid(const QByteArray &json)
{
    rapidjson::Document document;
    document.Parse<rapidjson::kParseValidateEncodingFlag>(json.constData(), size_t(json.size()));
    return !document.HasParseError();
}

} // namespace JsonKeyOrder
