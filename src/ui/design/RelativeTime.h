#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimeZone>
#include <QtQml/qqmlregistration.h>

class QQmlEngine;
class QJSEngine;

// How long ago `date` was, seen from `now`, in short Chinese phrases: "刚刚", "N分钟前",
// "N小时前" (same calendar day), "昨天", "M月D日", "Y年M月D日". Days start at local midnight in
// `zone` (DST-safe: a day is from one start of day to the next, whatever its length).
QString relativeTimeText(const QDateTime &date, const QDateTime &now, const QTimeZone &zone);

class RelativeTime : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    // In the system's time zone.
    Q_INVOKABLE QString text(const QDateTime &date, const QDateTime &now) const
    {
        return relativeTimeText(date, now, QTimeZone::systemTimeZone());
    }

    static RelativeTime *create(QQmlEngine *, QJSEngine *) { return new RelativeTime; }
};
