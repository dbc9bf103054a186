#include "account/BackupReader.h"

#include "account/BackupDates.h"
#include "account/BackupError.h"
#include "core/PronunciationHintText.h"
#include "platform/JsonNumberText.h"

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <exception>
#include <optional>
#include <span>
#include <string_view>

namespace {

using rapidjson::SizeType;

// What a member's value must be. The optional shapes take null as absent.
enum class Shape : quint8 {
    Text, OptionalText, Boolean, Date, OptionalDate, Integer, OptionalFloat, HintKind, OptionalDifficulty,
    NamespaceMap, Namespace, SongList, CardList, OptionalHint,
};

constexpr bool isRequired(Shape shape)
{
    return shape != Shape::OptionalText && shape != Shape::OptionalDate && shape != Shape::OptionalFloat
        && shape != Shape::OptionalDifficulty && shape != Shape::OptionalHint;
}

enum class Field : quint8 {
    ExportedAt, AppBuild, Namespaces, NamespaceBody, Songs,
    Key, Title, Artist, Lyrics, Language, StoryArticle, SongIsFavorite, SongFavoritedAt, PlayCount, LastPlayedAt,
    Cards, Offset,
    En, Cn, Note, Example, Tag, LineTimestamp, IsMastered, MasteredAt, CardIsFavorite, CardFavoritedAt, Hint,
    CulturalHint, ListeningDifficulty,
    Kind, Tip, Ipa,
};

struct Member
{
    std::string_view name;
    Field field;
    Shape shape;
};

constexpr Member payloadMembers[] = {
    {"exportedAt", Field::ExportedAt, Shape::Date},
    {"appBuild", Field::AppBuild, Shape::Text},
    {"namespaces", Field::Namespaces, Shape::NamespaceMap},
};
// Every member of the namespace map is a namespace, whatever its key.
constexpr Member namespaceEntry = {"", Field::NamespaceBody, Shape::Namespace};
constexpr Member namespaceMembers[] = {
    {"songs", Field::Songs, Shape::SongList},
};
constexpr Member songMembers[] = {
    {"key", Field::Key, Shape::Text},
    {"title", Field::Title, Shape::Text},
    {"artist", Field::Artist, Shape::Text},
    {"lyrics", Field::Lyrics, Shape::Text},
    {"language", Field::Language, Shape::OptionalText},
    {"storyArticle", Field::StoryArticle, Shape::OptionalText},
    {"isFavorite", Field::SongIsFavorite, Shape::Boolean},
    {"favoritedAt", Field::SongFavoritedAt, Shape::OptionalDate},
    {"playCount", Field::PlayCount, Shape::Integer},
    {"lastPlayedAt", Field::LastPlayedAt, Shape::Date},
    {"cards", Field::Cards, Shape::CardList},
    {"offset", Field::Offset, Shape::OptionalFloat},
};
constexpr Member cardMembers[] = {
    {"en", Field::En, Shape::Text},
    {"cn", Field::Cn, Shape::Text},
    {"note", Field::Note, Shape::Text},
    {"example", Field::Example, Shape::Text},
    {"tag", Field::Tag, Shape::Text},
    {"lineTimestamp", Field::LineTimestamp, Shape::OptionalFloat},
    {"isMastered", Field::IsMastered, Shape::Boolean},
    {"masteredAt", Field::MasteredAt, Shape::OptionalDate},
    {"isFavorite", Field::CardIsFavorite, Shape::Boolean},
    {"favoritedAt", Field::CardFavoritedAt, Shape::OptionalDate},
    {"pronunciationHint", Field::Hint, Shape::OptionalHint},
    {"culturalHint", Field::CulturalHint, Shape::OptionalText},
    {"listeningDifficulty", Field::ListeningDifficulty, Shape::OptionalDifficulty},
};
constexpr Member hintMembers[] = {
    {"kind", Field::Kind, Shape::HintKind},
    {"tip", Field::Tip, Shape::Text},
    {"ipa", Field::Ipa, Shape::OptionalText},
};

// The objects and arrays of the document, outermost first.
enum class Level : quint8 { Payload, NamespaceMap, Namespace, SongList, Song, CardList, Card, Hint };

std::span<const Member> membersOf(Level level)
{
    switch (level) {
    case Level::Payload: return payloadMembers;
    case Level::Namespace: return namespaceMembers;
    case Level::Song: return songMembers;
    case Level::Card: return cardMembers;
    case Level::Hint: return hintMembers;
    default: return {};
    }
}

quint32 requiredMask(Level level)
{
    quint32 mask = 0;
    const std::span<const Member> members = membersOf(level);
    for (size_t i = 0; i < members.size(); ++i) {
        if (isRequired(members[i].shape))
            mask |= 1u << i;
    }
    return mask;
}

enum class Token : quint8 { Null, Boolean, Integer, Float, String, ObjectStart, ArrayStart };

// The parser refuses raw surrogates in the input and a high-surrogate escape without its low
// half, but decodes a lone low-surrogate escape ("\udc00") into the three bytes ED B0 80, which
// are not UTF-8. Such a text cannot be stored or written back unchanged. The bytes ED A0…ED BF
// only ever begin an encoded surrogate.
bool holdsSurrogate(std::string_view text)
{
    for (size_t at = text.find('\xED'); at != std::string_view::npos; at = text.find('\xED', at + 1)) {
        if (at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) >= 0xA0)
            return true;
    }
    return false;
}

// The SAX handler: a state machine over a fixed stack of levels. Values of unknown members
// are skipped by counting their nesting, so no depth costs memory beyond one counter.
class Handler
{
public:
    Handler(QByteArrayView backupNamespace, LibraryWriter &out)
        : m_namespace(backupNamespace.data(), size_t(backupNamespace.size()))
        , m_out(out)
    {
    }

    bool Null() { return value(Token::Null); }
    bool Bool(bool b)
    {
        m_boolean = b;
        return value(Token::Boolean);
    }
    // Numbers come as text (see JsonNumberText): the parser's own conversion is never used, and
    // these five are never called.
    bool Int(int) { return fail(BackupError::Kind::corrupt); }
    bool Uint(unsigned) { return fail(BackupError::Kind::corrupt); }
    bool Int64(int64_t) { return fail(BackupError::Kind::corrupt); }
    bool Uint64(uint64_t) { return fail(BackupError::Kind::corrupt); }
    bool Double(double) { return fail(BackupError::Kind::corrupt); }
    bool RawNumber(const char *text, SizeType length, bool)
    {
        const std::optional<JsonNumberText::Number> number = JsonNumberText::read({text, length});
        if (!number)
            return fail(BackupError::Kind::corrupt);
        if (number->integer)
            return integer(*number->integer);
        m_float = number->value; // fine for a float member, not for an integer one
        return value(Token::Float);
    }
    bool String(const char *text, SizeType length, bool)
    {
        m_string = {text, length};
        if (holdsSurrogate(m_string))
            return fail(BackupError::Kind::corrupt);
        return value(Token::String);
    }
    bool StartObject() { return value(Token::ObjectStart); }
    bool StartArray() { return value(Token::ArrayStart); }
    bool Key(const char *text, SizeType length, bool);
    bool EndObject(SizeType);
    bool EndArray(SizeType);

    std::optional<BackupError::Kind> error() const { return m_error; }
    std::exception_ptr writerError() const { return m_writerError; }

private:
    struct Frame
    {
        Level level;
        quint32 seen = 0; // bit i: member i of the level has a value
    };

    bool fail(BackupError::Kind kind)
    {
        m_error = kind;
        return false;
    }
    bool integer(qint64 i)
    {
        m_integer = i;
        return value(Token::Integer);
    }
    bool value(Token token);
    bool element(Token token, Level level);
    bool assign(const Member &member, Token token);
    void clear(Field field);
    void push(Level level) { m_frames[m_depth++] = Frame{level}; }
    template<class F>
    bool toWriter(F &&call);

    QByteArray text() const { return QByteArray(m_string.data(), qsizetype(m_string.size())); }
    std::optional<qint64> date(Token token);

    std::string_view m_namespace;
    LibraryWriter &m_out;

    Frame m_frames[8];
    int m_depth = 0;
    qint64 m_skipDepth = 0;
    const Member *m_member = nullptr; // the member whose value comes next; null: skip it
    int m_memberIndex = 0;
    bool m_keyIsOurNamespace = false;
    bool m_inOurNamespace = false;
    bool m_wroteSongs = false;

    // The value of the current token.
    bool m_boolean = false;
    qint64 m_integer = 0;
    double m_float = 0;
    std::string_view m_string;

    // What is being read.
    LibrarySongRow m_song;
    LibraryCardRow m_card;
    std::optional<PronunciationKind> m_hintKind;
    QByteArray m_hintTip;
    std::optional<QByteArray> m_hintIpa;

    std::optional<BackupError::Kind> m_error;
    std::exception_ptr m_writerError;
};

bool Handler::Key(const char *text, SizeType length, bool)
{
    const std::string_view key(text, length);
    if (holdsSurrogate(key))
        return fail(BackupError::Kind::corrupt);
    if (m_skipDepth > 0)
        return true;
    const Level level = m_frames[m_depth - 1].level;
    if (level == Level::NamespaceMap) {
        m_member = &namespaceEntry;
        m_memberIndex = 0;
        m_keyIsOurNamespace = key == m_namespace;
        return true;
    }
    const std::span<const Member> members = membersOf(level);
    m_member = nullptr;
    for (size_t i = 0; i < members.size(); ++i) {
        if (members[i].name == key) {
            m_member = &members[i];
            m_memberIndex = int(i);
            break;
        }
    }
    return true;
}

bool Handler::value(Token token)
{
    if (m_skipDepth > 0) {
        if (token == Token::ObjectStart || token == Token::ArrayStart)
            ++m_skipDepth;
        return true;
    }
    if (m_depth == 0) {
        if (token != Token::ObjectStart)
            return fail(BackupError::Kind::malformed);
        push(Level::Payload);
        return true;
    }
    Frame &top = m_frames[m_depth - 1];
    if (top.level == Level::SongList)
        return element(token, Level::Song);
    if (top.level == Level::CardList)
        return element(token, Level::Card);
    if (!m_member) {
        if (token == Token::ObjectStart || token == Token::ArrayStart)
            m_skipDepth = 1;
        return true;
    }
    if (token == Token::Null) {
        if (isRequired(m_member->shape))
            return fail(BackupError::Kind::malformed);
        clear(m_member->field);
        top.seen &= ~(1u << m_memberIndex);
        return true;
    }
    top.seen |= 1u << m_memberIndex;
    return assign(*m_member, token);
}

bool Handler::element(Token token, Level level)
{
    if (token != Token::ObjectStart)
        return fail(BackupError::Kind::malformed);
    if (level == Level::Song)
        m_song = LibrarySongRow();
    else
        m_card = LibraryCardRow();
    push(level);
    return true;
}

std::optional<qint64> Handler::date(Token token)
{
    if (token != Token::String) {
        fail(BackupError::Kind::malformed);
        return std::nullopt;
    }
    const std::optional<qint64> ms = BackupDates::parse(m_string);
    if (!ms)
        fail(BackupError::Kind::corrupt);
    return ms;
}

void Handler::clear(Field field)
{
    switch (field) {
    case Field::Language: m_song.language.reset(); break;
    case Field::StoryArticle: m_song.storyArticle.reset(); break;
    case Field::SongFavoritedAt: m_song.favoritedAt.reset(); break;
    case Field::Offset: m_song.lyricsOffset.reset(); break;
    case Field::LineTimestamp: m_card.lineTimestamp.reset(); break;
    case Field::MasteredAt: m_card.masteredAt.reset(); break;
    case Field::CardFavoritedAt: m_card.favoritedAt.reset(); break;
    case Field::Hint: m_card.pronunciationHintJSON.reset(); break;
    case Field::CulturalHint: m_card.culturalHint.reset(); break;
    case Field::ListeningDifficulty: m_card.listeningDifficultyRaw.reset(); break;
    case Field::Ipa: m_hintIpa.reset(); break;
    default: break;
    }
}

bool Handler::assign(const Member &member, Token token)
{
    using enum BackupError::Kind;
    switch (member.shape) {
    case Shape::Text:
    case Shape::OptionalText: {
        if (token != Token::String)
            return fail(malformed);
        switch (member.field) {
        case Field::AppBuild: break; // checked, not kept
        case Field::Key: m_song.key = text(); break;
        case Field::Title: m_song.title = text(); break;
        case Field::Artist: m_song.artist = text(); break;
        case Field::Lyrics: m_song.lyrics = text(); break;
        case Field::Language: m_song.language = text(); break;
        case Field::StoryArticle: m_song.storyArticle = text(); break;
        case Field::En: m_card.en = text(); break;
        case Field::Cn: m_card.cn = text(); break;
        case Field::Note: m_card.note = text(); break;
        case Field::Example: m_card.example = text(); break;
        case Field::Tag: m_card.tag = text(); break;
        case Field::CulturalHint: m_card.culturalHint = text(); break;
        case Field::Tip: m_hintTip = text(); break;
        case Field::Ipa: m_hintIpa = text(); break;
        default: break;
        }
        return true;
    }
    case Shape::Boolean:
        if (token != Token::Boolean)
            return fail(malformed);
        if (member.field == Field::SongIsFavorite)
            m_song.isFavorite = m_boolean;
        else if (member.field == Field::IsMastered)
            m_card.isMastered = m_boolean;
        else
            m_card.isFavorite = m_boolean;
        return true;
    case Shape::Date:
    case Shape::OptionalDate: {
        const std::optional<qint64> ms = date(token);
        if (!ms)
            return false;
        switch (member.field) {
        case Field::LastPlayedAt: m_song.lastPlayedAt = *ms; break;
        case Field::SongFavoritedAt: m_song.favoritedAt = ms; break;
        case Field::MasteredAt: m_card.masteredAt = ms; break;
        case Field::CardFavoritedAt: m_card.favoritedAt = ms; break;
        default: break; // exportedAt: checked, not kept
        }
        return true;
    }
    case Shape::Integer:
        // Integer syntax within 64 bits only: 1.5, 1e2 and 2^63 do not fit.
        if (token == Token::Integer) {
            m_song.playCount = m_integer;
            return true;
        }
        return fail(token == Token::Float ? corrupt : malformed);
    case Shape::OptionalFloat: {
        // A whole number is a valid float ("lineTimestamp": 10).
        if (token != Token::Integer && token != Token::Float)
            return fail(malformed);
        const double number = token == Token::Integer ? double(m_integer) : m_float;
        if (member.field == Field::Offset)
            m_song.lyricsOffset = number;
        else
            m_card.lineTimestamp = number;
        return true;
    }
    case Shape::HintKind: {
        if (token != Token::String)
            return fail(malformed);
        m_hintKind = PronunciationHintText::kindFromRaw(QByteArrayView(m_string.data(), qsizetype(m_string.size())));
        return m_hintKind ? true : fail(corrupt);
    }
    case Shape::OptionalDifficulty: {
        if (token != Token::String)
            return fail(malformed);
        if (!listeningDifficultyFromRawValue(QString::fromUtf8(m_string.data(), qsizetype(m_string.size()))))
            return fail(corrupt);
        m_card.listeningDifficultyRaw = text();
        return true;
    }
    case Shape::NamespaceMap:
        if (token != Token::ObjectStart)
            return fail(malformed);
        push(Level::NamespaceMap);
        return true;
    case Shape::Namespace:
        if (token != Token::ObjectStart)
            return fail(malformed);
        m_inOurNamespace = m_keyIsOurNamespace;
        push(Level::Namespace);
        return true;
    case Shape::SongList:
        if (token != Token::ArrayStart)
            return fail(malformed);
        // Our namespace (or its songs) once more: only the last one counts.
        if (m_inOurNamespace && m_wroteSongs) {
            if (!toWriter([this] { m_out.clear(); }))
                return false;
            m_wroteSongs = false;
        }
        push(Level::SongList);
        return true;
    case Shape::CardList:
        if (token != Token::ArrayStart)
            return fail(malformed);
        m_song.cards.clear();
        push(Level::CardList);
        return true;
    case Shape::OptionalHint:
        if (token != Token::ObjectStart)
            return fail(malformed);
        m_hintKind.reset();
        m_hintTip.clear();
        m_hintIpa.reset();
        push(Level::Hint);
        return true;
    }
    return fail(malformed);
}

template<class F>
bool Handler::toWriter(F &&call)
{
    try {
        call();
        return true;
    } catch (...) {
        m_writerError = std::current_exception();
        return false;
    }
}

bool Handler::EndObject(SizeType)
{
    if (m_skipDepth > 0) {
        --m_skipDepth;
        return true;
    }
    const Frame &top = m_frames[m_depth - 1];
    const quint32 required = requiredMask(top.level);
    if ((top.seen & required) != required)
        return fail(BackupError::Kind::malformed);
    switch (top.level) {
    case Level::Song:
        if (m_inOurNamespace) {
            if (!toWriter([this] { m_out.write(std::move(m_song)); }))
                return false;
            m_wroteSongs = true;
        }
        break;
    case Level::Card: m_song.cards.push_back(std::move(m_card)); break;
    case Level::Hint: m_card.pronunciationHintJSON = PronunciationHintText::encode(*m_hintKind, m_hintTip, m_hintIpa); break;
    case Level::Namespace: m_inOurNamespace = false; break;
    default: break;
    }
    --m_depth;
    return true;
}

bool Handler::EndArray(SizeType)
{
    if (m_skipDepth > 0) {
        --m_skipDepth;
        return true;
    }
    --m_depth;
    return true;
}

} // namespace

namespace BackupReader {

void read(QByteArrayView document, QByteArrayView backupNamespace, LibraryWriter &out)
{
    Handler handler(backupNamespace, out);
    rapidjson::MemoryStream stream(document.data(), size_t(document.size()));
    rapidjson::Reader reader;
    constexpr unsigned flags =
        rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag | rapidjson::kParseNumbersAsStringsFlag;
    const rapidjson::ParseResult result = reader.Parse<flags>(stream, handler);
    if (handler.writerError())
        std::rethrow_exception(handler.writerError());
    if (result.IsError()) {
        if (result.Code() == rapidjson::kParseErrorTermination && handler.error())
            throw *handler.error() == BackupError::Kind::corrupt ? BackupError::corrupt() : BackupError::malformed();
        throw BackupError::corrupt();
    }
    // The parser takes a NUL byte for the end of the text: whatever follows one is not JSON.
    if (stream.Tell() != size_t(document.size()))
        throw BackupError::corrupt();
}

} // namespace BackupReader
