#include "server/http/Log.h"

#include <QDateTime>

#include <cstdio>
#include <mutex>

namespace server {

void logLine(const QString &text)
{
    static std::mutex mutex;
    const QByteArray line = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8() + ' '
        + text.toUtf8() + '\n';
    const std::lock_guard lock(mutex);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace server
