#include "server/llm/CardsValidator.h"

#include "core/LrcParser.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"

#include <QSet>

#include <algorithm>
#include <cmath>

namespace server {

namespace {

constexpr double timeTolerance = 0.005;

// NFC, case-folded, white space runs as one space, trimmed.
QString matchingForm(const QString &text)
{
    const QString folded = text.normalized(QString::NormalizationForm_C).toCaseFolded();
    QString out;
    out.reserve(folded.size());
    bool pendingSpace = false;
    for (const QChar c : folded) {
        if (Text::contains(Text::CharSet::whitespacesAndNewlines, c.unicode())) {
            pendingSpace = !out.isEmpty();
            continue;
        }
        if (pendingSpace)
            out.append(QLatin1Char(' '));
        pendingSpace = false;
        out.append(c);
    }
    return out;
}

QString number(double value)
{
    return QString::number(value, 'g', 10);
}

} // namespace

std::string withoutCodeFence(const std::string &answer)
{
    const QString text = Text::trimmed(QString::fromStdString(answer));
    if (!text.startsWith(QLatin1String("```")) || !text.endsWith(QLatin1String("```")) || text.size() < 6)
        return answer;
    const qsizetype firstLineEnd = text.indexOf(QLatin1Char('\n'));
    if (firstLineEnd < 0)
        return answer;
    // The opening line may name a language ("```json"); nothing else may follow it.
    const QStringView info = QStringView(text).mid(3, firstLineEnd - 3).trimmed();
    if (info.contains(QLatin1Char(' ')) || info.contains(QLatin1Char('{')))
        return answer;
    return text.mid(firstLineEnd + 1, text.size() - 3 - (firstLineEnd + 1)).toStdString();
}

CardsValidator::CardsValidator(const QString &lrcText)
{
    const QList<SyncedLine> lines = LRCParser::parse(lrcText);
    QStringList texts;
    QSet<double> seen;
    for (const SyncedLine &line : lines) {
        if (!line.text.trimmed().isEmpty())
            texts.append(line.text);
        if (!line.text.trimmed().isEmpty() && !seen.contains(line.timestamp)) {
            seen.insert(line.timestamp);
            m_times.append(line.timestamp);
        }
    }
    std::sort(m_times.begin(), m_times.end());
    // Lyrics without stamps: the text itself is the lyrics.
    m_matchText = matchingForm(lines.isEmpty() ? lrcText : texts.join(QLatin1Char(' ')));
}

std::string CardsValidator::lineTimesText() const
{
    if (m_times.isEmpty())
        return "none: these lyrics have no time stamps, so leave \"lineTimestamp\" out of every card";
    QStringList out;
    for (double time : m_times)
        out.append(number(time));
    return out.join(QStringLiteral(", ")).toStdString();
}

QString CardsValidator::checkCard(const GoldenCard &card) const
{
    const QString phrase = matchingForm(card.en);
    if (phrase.isEmpty() || !m_matchText.contains(phrase))
        return QStringLiteral("the phrase \"%1\" does not occur in the lyrics").arg(card.en);
    if (m_times.isEmpty()) {
        if (card.lineTimestamp)
            return QStringLiteral("\"lineTimestamp\" given, but the lyrics have no times");
        return {};
    }
    if (!card.lineTimestamp)
        return QStringLiteral("\"lineTimestamp\" is missing");
    const double time = *card.lineTimestamp;
    const auto near = std::lower_bound(m_times.begin(), m_times.end(), time - timeTolerance);
    if (near == m_times.end() || std::abs(*near - time) > timeTolerance)
        return QStringLiteral("\"lineTimestamp\" %1 is not the time of a lyric line").arg(number(time));
    return {};
}

CardsValidator::Outcome CardsValidator::validate(const std::string &answer) const
{
    Outcome outcome;
    QJsonArray cards;
    try {
        const QJsonObject object = StrictJson::parseObject(QByteArray::fromStdString(withoutCodeFence(answer)));
        cards = JsonReader(object).requireArray(u"cards");
    } catch (const JsonError &error) {
        outcome.complaints.append(QStringLiteral("the answer is not one JSON object {\"cards\": [...]}: ")
                                  + error.message());
        return outcome;
    }
    if (cards.isEmpty())
        outcome.complaints.append(QStringLiteral("\"cards\" is empty"));
    QSet<QString> ids;
    for (qsizetype i = 0; i < cards.size(); ++i) {
        const QString path = StrictJson::indexPath(QStringLiteral("cards"), i);
        if (outcome.cards.size() == maxCards) {
            outcome.complaints.append(QStringLiteral("more than %1 cards: the rest were dropped").arg(maxCards));
            break;
        }
        if (!cards.at(i).isObject()) {
            outcome.complaints.append(path + QStringLiteral(": not an object"));
            continue;
        }
        GoldenCard card;
        try {
            card = GoldenCard::fromJson(cards.at(i).toObject());
        } catch (const JsonError &error) {
            outcome.complaints.append(path + QStringLiteral(": ") + error.message());
            continue;
        }
        QString problem = checkCard(card);
        if (problem.isEmpty() && ids.contains(card.id()))
            problem = QStringLiteral("another card already has en \"%1\" and tag \"%2\"").arg(card.en, card.tag);
        if (!problem.isEmpty()) {
            outcome.complaints.append(path + QStringLiteral(": ") + problem);
            continue;
        }
        ids.insert(card.id());
        outcome.cards.append(card);
    }
    return outcome;
}

} // namespace server
