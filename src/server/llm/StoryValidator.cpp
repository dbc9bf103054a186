#include "server/llm/StoryValidator.h"

#include "core/StoryParser.h"
#include "platform/Text.h"
#include "server/llm/CardsValidator.h"

namespace server {

StoryCheck checkStoryArticle(const std::string &answer)
{
    StoryCheck check;
    const QString article = Text::trimmed(QString::fromStdString(withoutCodeFence(answer)));
    const ParsedStory parsed = ParsedStory::parse(article);
    if (parsed.paragraphsEN.isEmpty())
        check.complaints.append(QStringLiteral("no English paragraph after a line \"EN:\""));
    if (parsed.paragraphsCN.isEmpty())
        check.complaints.append(QStringLiteral("no Chinese paragraph after a line \"CN:\""));
    if (check.complaints.isEmpty())
        check.article = article.toStdString();
    return check;
}

} // namespace server
