#pragma once

#include "core/ShareCardContent.h"

#include <QString>

// Share-card contents the share tests and benchmarks have in common.
namespace sharefixture {

// A Chinese song title, the phrase highlighted twice in the hero, a previous line, all six study
// rows and a time chip: every part of the card drawn once.
inline ShareCardContent fullCard()
{
    ShareCardContent::Input input;
    input.phrase = QStringLiteral("kick it");
    input.translation = QStringLiteral("开始行动；放手去做");
    input.note = QStringLiteral("口语里常用来号召大家开始");
    input.example = QStringLiteral("Let's kick it before the night is over.");
    input.tag = QStringLiteral("短语动词");
    input.pronunciationHint = PronunciationHint{PronunciationKind::linking, QStringLiteral("kick 和 it 连起来读"),
                                                QStringLiteral("kɪkɪt")};
    input.culturalHint = QStringLiteral("常见于街舞和说唱文化");
    input.lineTimestamp = 75.4;
    input.lines = {{70.0, QStringLiteral("Turn the lights down low")},
                   {75.0, QStringLiteral("Kick it, kick IT, 跟着节奏走")}};
    input.songTitle = QStringLiteral("夜色节拍");
    input.songArtist = QStringLiteral("Example Band");
    return ShareCardContent::build(input);
}

// A card whose study values are far too long for the panel.
inline ShareCardContent overfullCard()
{
    ShareCardContent content = fullCard();
    const QString longText = QStringLiteral("This value goes on and on and does not stop soon enough. ").repeated(8);
    content.translation = longText;
    content.note = longText;
    content.example = longText;
    content.culturalHint = longText;
    content.heroLine = QStringLiteral("A hero line that is much longer than any lyric should ever be ").repeated(4);
    return content;
}

} // namespace sharefixture
