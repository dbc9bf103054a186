#include "backend/RemoteLyricsError.h"

RemoteLyricsError::RemoteLyricsError(Kind kind)
    : m_kind(kind)
{
}

void RemoteLyricsError::finish()
{
    // what() is the error's one description, the text failure logs show; the decode detail and
    // the transport code stay readable through detail() and transportCode().
    m_what = errorDescription().toUtf8();
}

RemoteLyricsError RemoteLyricsError::invalidInput(const QString &detail)
{
    RemoteLyricsError error(Kind::invalidInput);
    error.m_detail = detail;
    error.finish();
    return error;
}

RemoteLyricsError RemoteLyricsError::server(int status)
{
    RemoteLyricsError error(Kind::server);
    error.m_status = status;
    error.finish();
    return error;
}

RemoteLyricsError RemoteLyricsError::transport(QNetworkReply::NetworkError code)
{
    RemoteLyricsError error(Kind::transport);
    error.m_transportCode = code;
    error.finish();
    return error;
}

RemoteLyricsError RemoteLyricsError::decode(const QString &detail)
{
    RemoteLyricsError error(Kind::decode);
    error.m_detail = detail;
    error.finish();
    return error;
}

RemoteLyricsError RemoteLyricsError::notFound()
{
    RemoteLyricsError error(Kind::notFound);
    error.finish();
    return error;
}

QString RemoteLyricsError::errorDescription() const
{
    // ASCII colon, comma, space and parenthesis; the ideographic full stop at the end.
    switch (m_kind) {
    case Kind::invalidInput:
        return QStringLiteral("请求参数无效:") + m_detail;
    case Kind::server:
        return QStringLiteral("服务器暂时不可用 (%1)。").arg(m_status);
    case Kind::transport:
        return QStringLiteral("网络连接失败,请稍后再试。");
    case Kind::decode:
        return QStringLiteral("歌词响应解析失败。");
    case Kind::notFound:
        return QStringLiteral("未找到这首歌的歌词。");
    }
    return QString();
}
