#pragma once

// TEMPORARY stand-ins until the store and now-playing branches land. Replaced by includes.

#include "core/GoldenCard.h"
#include "platform/Clock.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

#include <qcoro/qcorotask.h>


struct LearnedCardVM
{
    QString id;
    QString en;
    QString cn;
    QString note;
    QString example;
    QString tag;
    std::optional<double> lineTimestamp;
    std::optional<PronunciationHint> pronunciationHint;
    std::optional<QString> culturalHint;
    std::optional<ListeningDifficulty> listeningDifficulty;
    bool learned = false;
    bool operator==(const LearnedCardVM &) const = default;
};

class SongRecord;

class CardStoreActor : public QObject
{
    Q_OBJECT
public:
    QCoro::Task<void> setLyricsOffset(QString key, std::optional<double> offset) { co_return; }
signals:
    void committed();
};
