#include "account/BackupHintText.h"

#include "core/store/LearnedCard.h"

namespace BackupHintText {

QByteArray encode(PronunciationKind kind, QByteArrayView tip, const std::optional<QByteArray> &ipa)
{
    PronunciationHint hint;
    hint.kind = kind;
    hint.tip = QString::fromUtf8(tip);
    if (ipa)
        hint.ipa = QString::fromUtf8(*ipa);
    return LearnedCard::encodeHint(hint)->toUtf8();
}

} // namespace BackupHintText
