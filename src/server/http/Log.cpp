#include "server/http/Log.h"

#include <QDateTime>

#include <unistd.h>

namespace server {

void logLine(const QString &text)
{
    const QByteArray line = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8() + ' '
        + text.toUtf8() + '\n';
    // One write call per line and no lock: request threads never wait for each other here (a
    // lock held by a thread the scheduler parks would stall every request behind it). The
    // kernel keeps each line whole.
    const char *data = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, size_t(left));
        if (written <= 0)
            return;
        data += written;
        left -= written;
    }
}

} // namespace server
