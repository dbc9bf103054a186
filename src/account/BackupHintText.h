#pragma once

#include "core/GoldenCard.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// A card's pronunciation hint as the store keeps it: JSON text (LearnedCard's
// pronunciationHintJSON), UTF-8.
namespace BackupHintText {

QByteArray encode(PronunciationKind kind, QByteArrayView tip, const std::optional<QByteArray> &ipa);

} // namespace BackupHintText
