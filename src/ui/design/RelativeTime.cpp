#include "ui/design/RelativeTime.h"

QString relativeTimeText(const QDateTime &date, const QDateTime &now, const QTimeZone &zone)
{
    const QString justNow = QStringLiteral("刚刚");
    if (!date.isValid() || !now.isValid())
        return justNow;
    const double elapsed = double(now.toMSecsSinceEpoch() - date.toMSecsSinceEpoch()) / 1000.0;
    if (!(elapsed > 60))
        return justNow;
    if (elapsed <= 3600)
        return QStringLiteral("%1分钟前").arg(qint64(elapsed / 60));

    const QDate today = now.toTimeZone(zone).date();
    const QDateTime startOfToday = today.startOfDay(zone);
    if (date >= startOfToday)
        return QStringLiteral("%1小时前").arg(qint64(elapsed / 3600));
    const QDateTime startOfYesterday = today.addDays(-1).startOfDay(zone);
    if (date >= startOfYesterday)
        return QStringLiteral("昨天");

    const QDate day = date.toTimeZone(zone).date();
    if (!day.isValid())
        return justNow;
    if (day.year() != today.year())
        return QStringLiteral("%1年%2月%3日").arg(day.year()).arg(day.month()).arg(day.day());
    return QStringLiteral("%1月%2日").arg(day.month()).arg(day.day());
}
