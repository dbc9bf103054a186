#pragma once

#include <QStringList>

#include <string>

namespace server {

// Checks a model's story article: the project's story parser must find English and Chinese
// paragraphs. A Markdown code fence around the whole article is taken off, like for cards.
struct StoryCheck
{
    std::string article;    // trimmed; empty when refused
    QStringList complaints; // why it was refused
};

StoryCheck checkStoryArticle(const std::string &answer);

} // namespace server
