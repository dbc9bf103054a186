#include "core/SongStoryError.h"

RemoteSongStoryError::RemoteSongStoryError(Kind kind, int status, QString message)
    : m_kind(kind), m_status(status), m_message(std::move(message))
{
    m_what = description().toUtf8();
}

RemoteSongStoryError RemoteSongStoryError::server(int status)
{
    return RemoteSongStoryError(Kind::server, status, QString());
}

RemoteSongStoryError RemoteSongStoryError::data(const QString &message)
{
    return RemoteSongStoryError(Kind::data, 0, message);
}

RemoteSongStoryError RemoteSongStoryError::network()
{
    return RemoteSongStoryError(Kind::network, 0, QString());
}

RemoteSongStoryError RemoteSongStoryError::timeout()
{
    return RemoteSongStoryError(Kind::timeout, 0, QString());
}

QString RemoteSongStoryError::description() const
{
    switch (m_kind) {
    case Kind::server:
        return QStringLiteral("server(%1)").arg(m_status);
    case Kind::data:
        return QStringLiteral("data(%1)").arg(m_message);
    case Kind::network:
        return QStringLiteral("network");
    case Kind::timeout:
        return QStringLiteral("timeout");
    }
    return QString();
}
