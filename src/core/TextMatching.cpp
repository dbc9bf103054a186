#include "core/TextMatching.h"

#include "platform/Text.h"

#include <QStringList>

namespace {

bool keeps(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
        return true;
    default:
        return Text::contains(Text::CharSet::horizontalWhitespace, c);
    }
}

} // namespace

QString normalizeForMatching(const QString &text)
{
    const QString composed = Text::nfkc(text);
    QString kept;
    kept.reserve(composed.size());
    for (qsizetype i = 0; i < composed.size(); ++i) {
        const QChar c = composed.at(i);
        if (c.isHighSurrogate() && i + 1 < composed.size() && composed.at(i + 1).isLowSurrogate()) {
            const char32_t codePoint = QChar::surrogateToUcs4(c, composed.at(i + 1));
            if (keeps(codePoint))
                kept.append(c).append(composed.at(i + 1));
            else
                kept.append(QLatin1Char(' '));
            ++i;
        } else if (!c.isSurrogate() && keeps(c.unicode())) {
            kept.append(c);
        } else {
            kept.append(QLatin1Char(' '));
        }
    }
    const QString lowered = kept.toLower();
    QStringList words;
    for (QStringView word : Text::split(lowered, Text::CharSet::whitespacesAndNewlines))
        if (!word.isEmpty())
            words.append(word.toString());
    return words.join(QLatin1Char(' '));
}
