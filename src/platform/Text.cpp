#include "platform/Text.h"

#include <QChar>
#include <QTextBoundaryFinder>

namespace Text {

namespace {

bool isNewline(char32_t c)
{
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isHorizontalWhitespace(char32_t c)
{
    return c == 0x09 || QChar::category(c) == QChar::Separator_Space;
}

// The code point that starts at `i` (a lone surrogate stands for itself) and its length in UTF-16 units.
char32_t codePointAt(QStringView text, qsizetype i, qsizetype *length)
{
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
        *length = 2;
        return QChar::surrogateToUcs4(c, text[i + 1]);
    }
    *length = 1;
    return c.unicode();
}

// The code point that ends just before `end`, and its length.
char32_t codePointBefore(QStringView text, qsizetype end, qsizetype *length)
{
    const QChar c = text[end - 1];
    if (c.isLowSurrogate() && end >= 2 && text[end - 2].isHighSurrogate()) {
        *length = 2;
        return QChar::surrogateToUcs4(text[end - 2], c);
    }
    *length = 1;
    return c.unicode();
}

} // namespace

bool contains(CharSet set, char32_t c)
{
    switch (set) {
    case CharSet::whitespacesAndNewlines:
        return isHorizontalWhitespace(c) || isNewline(c);
    case CharSet::horizontalWhitespace:
        return isHorizontalWhitespace(c);
    case CharSet::newlines:
        return isNewline(c);
    }
    return false;
}

QStringView trimmedView(QStringView text, CharSet set)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    qsizetype length = 0;
    while (begin < end && contains(set, codePointAt(text, begin, &length)))
        begin += length;
    while (end > begin && contains(set, codePointBefore(text, end, &length)))
        end -= length;
    return text.sliced(begin, end - begin);
}

QString trimmed(QStringView text, CharSet set)
{
    return trimmedView(text, set).toString();
}

QList<QStringView> split(QStringView text, CharSet set)
{
    QList<QStringView> pieces;
    qsizetype start = 0;
    qsizetype i = 0;
    qsizetype length = 0;
    while (i < text.size()) {
        const char32_t c = codePointAt(text, i, &length);
        if (contains(set, c)) {
            pieces.append(text.sliced(start, i - start));
            start = i + length;
        }
        i += length;
    }
    pieces.append(text.sliced(start));
    return pieces;
}

qsizetype characterCount(const QString &text)
{
    if (text.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString withLoneSurrogatesReplaced(const QString &text)
{
    QString result;
    qsizetype copiedUpTo = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!c.isSurrogate())
            continue;
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (result.isNull())
            result.reserve(text.size());
        result.append(QStringView(text).sliced(copiedUpTo, i - copiedUpTo));
        result.append(QChar(QChar::ReplacementCharacter));
        copiedUpTo = i + 1;
    }
    if (result.isNull())
        return text;
    result.append(QStringView(text).sliced(copiedUpTo));
    return result;
}

QString nfkc(const QString &text)
{
    return text.normalized(QString::NormalizationForm_KC);
}

QString canonical(const QString &text)
{
    return text.normalized(QString::NormalizationForm_C);
}

bool canonicallyEqual(const QString &a, const QString &b)
{
    // Texts that are equal code unit for code unit (nearly every comparison) need no normalising.
    return a == b || canonical(a) == canonical(b);
}

} // namespace Text
