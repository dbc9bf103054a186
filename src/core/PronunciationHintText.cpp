#include "core/PronunciationHintText.h"

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <array>

namespace PronunciationHintText {
namespace {

using rapidjson::SizeType;

// Reads the members of one object; values of other members, at any depth, are skipped.
class HintHandler
{
public:
    std::optional<PronunciationKind> kind;
    std::optional<QByteArray> tip;
    std::optional<QByteArray> ipa;

    bool Null() { return scalar(Value::Null); }
    bool Bool(bool) { return scalar(Value::Other); }
    // Numbers come as text and are never converted (no member of a hint is a number); the
    // first five are never called.
    bool Int(int) { return false; }
    bool Uint(unsigned) { return false; }
    bool Int64(int64_t) { return false; }
    bool Uint64(uint64_t) { return false; }
    bool Double(double) { return false; }
    bool RawNumber(const char *, SizeType, bool) { return scalar(Value::Other); }
    bool String(const char *text, SizeType length, bool)
    {
        m_text = QByteArrayView(text, qsizetype(length)); // valid during this call only
        return scalar(Value::String);
    }
    bool StartObject() { return open(true); }
    bool StartArray() { return open(false); }
    bool Key(const char *text, SizeType length, bool)
    {
        if (m_depth == 1)
            m_member = memberNamed(std::string_view(text, length));
        return true;
    }
    bool EndObject(SizeType) { return close(); }
    bool EndArray(SizeType) { return close(); }

private:
    enum class Member { Other, Kind, Tip, Ipa };
    enum class Value { Null, String, Other };

    static Member memberNamed(std::string_view name)
    {
        if (name == "kind")
            return Member::Kind;
        if (name == "tip")
            return Member::Tip;
        if (name == "ipa")
            return Member::Ipa;
        return Member::Other;
    }

    bool open(bool isObject)
    {
        if (m_depth == 0 && !isObject)
            return false; // the hint is an object
        if (m_depth == 1 && m_member != Member::Other)
            return false; // a known member with a container value
        ++m_depth;
        return true;
    }
    bool close()
    {
        --m_depth;
        return true;
    }
    bool scalar(Value value)
    {
        if (m_depth != 1 || m_member == Member::Other)
            return m_depth != 0; // the hint is an object, not a scalar
        switch (m_member) {
        case Member::Kind:
            kind = value == Value::String ? kindFromRaw(m_text) : std::nullopt;
            return kind.has_value();
        case Member::Tip:
            if (value != Value::String)
                return false;
            tip = m_text.toByteArray();
            return true;
        case Member::Ipa:
            if (value == Value::Other)
                return false;
            ipa = value == Value::String ? std::optional<QByteArray>(m_text.toByteArray()) : std::nullopt;
            return true;
        case Member::Other: break;
        }
        return true;
    }

    int m_depth = 0;
    Member m_member = Member::Other;
    QByteArrayView m_text;
};

const std::array<QByteArray, allPronunciationKinds.size()> &rawTexts()
{
    static const std::array<QByteArray, allPronunciationKinds.size()> texts = [] {
        std::array<QByteArray, allPronunciationKinds.size()> out;
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = rawValue(allPronunciationKinds[i]).toLatin1();
        return out;
    }();
    return texts;
}

} // namespace

QByteArray encode(PronunciationKind kind, QByteArrayView tip, const std::optional<QByteArray> &ipa)
{
    PronunciationHint hint;
    hint.kind = kind;
    hint.tip = QString::fromUtf8(tip);
    if (ipa)
        hint.ipa = QString::fromUtf8(*ipa);
    return hint.toJson();
}

QLatin1StringView rawText(PronunciationKind kind)
{
    const QByteArray &text = rawTexts()[size_t(kind)];
    return QLatin1StringView(text.constData(), text.size());
}

std::optional<PronunciationKind> kindFromRaw(QByteArrayView raw)
{
    for (size_t i = 0; i < allPronunciationKinds.size(); ++i) {
        if (rawTexts()[i] == raw)
            return allPronunciationKinds[i];
    }
    return std::nullopt;
}

std::optional<Utf8Hint> decodeUtf8(QUtf8StringView text)
{
    HintHandler handler;
    rapidjson::MemoryStream stream(text.data(), size_t(text.size()));
    rapidjson::Reader reader;
    // Numbers as text: RapidJSON's own conversion reads past a table on some long numbers.
    constexpr unsigned flags = rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag
        | rapidjson::kParseNumbersAsStringsFlag;
    if (reader.Parse<flags>(stream, handler).IsError() || stream.Tell() != size_t(text.size()))
        return std::nullopt;
    if (!handler.kind || !handler.tip)
        return std::nullopt;
    return Utf8Hint{*handler.kind, *handler.tip, handler.ipa};
}

std::optional<PronunciationHint> decode(QUtf8StringView text)
{
    const std::optional<Utf8Hint> hint = decodeUtf8(text);
    if (!hint)
        return std::nullopt;
    return PronunciationHint{hint->kind, QString::fromUtf8(hint->tip),
                             hint->ipa ? std::optional<QString>(QString::fromUtf8(*hint->ipa)) : std::nullopt};
}

} // namespace PronunciationHintText
