#include "core/StoryParser.h"

#include "platform/Text.h"

#include <QList>
#include <QStringView>

namespace {

// Spaces and tabs: every Unicode space separator and the tab. Line breaks and other control
// characters are kept.
QStringView trimSpacesAndTabs(QStringView text)
{
    return Text::trimmedView(text, Text::CharSet::horizontalWhitespace);
}

struct Markers
{
    qsizetype english = -1;
    qsizetype chinese = -1;
};

bool isMarkerLine(QStringView line, QStringView marker)
{
    return trimSpacesAndTabs(line).toString().toUpper() == marker;
}

Markers findMarkers(const QList<QStringView> &lines)
{
    Markers markers;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (markers.english < 0 && isMarkerLine(lines.at(i), u"EN:"))
            markers.english = i;
        if (markers.chinese < 0 && isMarkerLine(lines.at(i), u"CN:"))
            markers.chinese = i;
    }
    return markers;
}

// "YEAR:" keeps the numeric characters of its value, in order, and reads them as one decimal
// number; so "1987 (2011 remaster)" is no year at all, while "circa 1990s" is 1990.
std::optional<int> parseYear(QStringView value)
{
    QString digits;
    bool allAscii = true;
    for (const char32_t codePoint : value.toUcs4()) {
        if (!QChar::isNumber(codePoint))
            continue;
        if (codePoint < U'0' || codePoint > U'9')
            allAscii = false;
        digits.append(QString::fromUcs4(&codePoint, 1));
    }
    if (digits.isEmpty() || !allAscii)
        return std::nullopt;
    bool ok = false;
    const qlonglong number = digits.toLongLong(&ok);
    if (!ok || number < 1900 || number > 2100)
        return std::nullopt;
    return int(number);
}

QStringList parseMoods(QStringView value)
{
    QStringList moods;
    for (const QStringView part : value.split(u',')) {
        const QString mood = trimSpacesAndTabs(part).toString().toLower();
        if (mood.isEmpty())
            continue;
        moods.append(mood);
        if (moods.size() == ParsedStory::maxMoodTags)
            break;
    }
    return moods;
}

// Removes one pair of enclosing quotation marks: "…", '…', “…” or ‘…’. Mixed pairs stay.
QString unquote(QStringView value)
{
    static constexpr std::pair<char16_t, char16_t> pairs[] = {
        {u'"', u'"'}, {u'\'', u'\''}, {u'\u201C', u'\u201D'}, {u'\u2018', u'\u2019'}};
    if (value.size() >= 2) {
        for (const auto &[open, close] : pairs) {
            if (value.front() == open && value.back() == close)
                return value.sliced(1, value.size() - 2).toString();
        }
    }
    return value.toString();
}

void readHeaderLine(QStringView rawLine, ParsedStory &story)
{
    enum class Tag { Title, TitleCN, Year, Genre, Mood, Quote };
    static constexpr std::pair<QStringView, Tag> tags[] = {
        {u"TITLE:", Tag::Title}, {u"TITLE_CN:", Tag::TitleCN}, {u"YEAR:", Tag::Year},
        {u"GENRE:", Tag::Genre}, {u"MOOD:", Tag::Mood},       {u"QUOTE:", Tag::Quote}};

    const QStringView line = trimSpacesAndTabs(rawLine);
    const QString upper = line.toString().toUpper();
    for (const auto &[prefix, tag] : tags) {
        if (!upper.startsWith(prefix) || line.size() < prefix.size())
            continue;
        const QStringView value = trimSpacesAndTabs(line.sliced(prefix.size()));
        if (value.isEmpty())
            continue; // an empty tag does not count; later tags are still tested
        switch (tag) {
        case Tag::Title:
            story.titleEN = value.toString();
            break;
        case Tag::TitleCN:
            story.titleCN = value.toString();
            break;
        case Tag::Year:
            // An unusable year uses the line up but keeps an earlier valid one.
            if (const auto year = parseYear(value))
                story.year = year;
            break;
        case Tag::Genre:
            story.genre = value.toString();
            break;
        case Tag::Mood:
            story.moodTags = parseMoods(value);
            break;
        case Tag::Quote:
            story.signatureLine = unquote(value);
            break;
        }
        return;
    }
}

// Blank lines separate paragraphs; the lines of one paragraph are joined with one space.
QStringList buildParagraphs(const QList<QStringView> &lines, qsizetype from, qsizetype to)
{
    QStringList paragraphs;
    QStringList current;
    for (qsizetype i = from; i < to; ++i) {
        const QStringView line = trimSpacesAndTabs(lines.at(i));
        if (!line.isEmpty()) {
            current.append(line.toString());
        } else if (!current.isEmpty()) {
            paragraphs.append(current.join(u' '));
            current.clear();
        }
    }
    if (!current.isEmpty())
        paragraphs.append(current.join(u' '));
    return paragraphs;
}

} // namespace

ParsedStory ParsedStory::parse(const QString &article)
{
    ParsedStory story;
    const QString text = Text::trimmed(article, Text::CharSet::whitespacesAndNewlines);
    if (text.isEmpty())
        return story;

    QList<QStringView> lines = QStringView(text).split(u'\n');
    // Articles written with CRLF line ends read like LF ones: otherwise "EN:\r" would never be
    // a marker and every header value would end in a carriage return.
    for (QStringView &line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
    }

    const Markers markers = findMarkers(lines);
    qsizetype headerEnd = lines.size();
    if (markers.english >= 0)
        headerEnd = markers.english;
    else if (markers.chinese >= 0)
        headerEnd = markers.chinese;
    for (qsizetype i = 0; i < headerEnd; ++i)
        readHeaderLine(lines.at(i), story);

    if (markers.english >= 0) {
        // The English section ends at a Chinese marker that follows it; with the Chinese section
        // first (or none), it runs to the end of the article.
        const qsizetype end = markers.chinese > markers.english ? markers.chinese : lines.size();
        story.paragraphsEN = buildParagraphs(lines, markers.english + 1, end);
    }
    if (markers.chinese >= 0)
        story.paragraphsCN = buildParagraphs(lines, markers.chinese + 1, lines.size());
    return story;
}
