#include "backend/RemoteCardsError.h"

RemoteCardsError::RemoteCardsError(Kind kind)
    : m_kind(kind)
{
}

RemoteCardsError RemoteCardsError::invalidInput(const QString &detail)
{
    RemoteCardsError error(Kind::invalidInput);
    error.m_detail = detail;
    error.m_what = error.errorDescription().toUtf8();
    return error;
}

RemoteCardsError RemoteCardsError::upstream(SSEEvent::ErrorCategory category)
{
    RemoteCardsError error(Kind::upstream);
    error.m_category = category;
    error.m_what = error.errorDescription().toUtf8();
    return error;
}

RemoteCardsError RemoteCardsError::server(int status)
{
    RemoteCardsError error(Kind::server);
    error.m_status = status;
    error.m_what = error.errorDescription().toUtf8();
    return error;
}

RemoteCardsError RemoteCardsError::parse(const QString &detail)
{
    RemoteCardsError error(Kind::parse);
    error.m_detail = detail;
    error.m_what = error.errorDescription().toUtf8();
    return error;
}

RemoteCardsError RemoteCardsError::transport(QNetworkReply::NetworkError code)
{
    RemoteCardsError error(Kind::transport);
    error.m_transportCode = code;
    error.m_what = error.errorDescription().toUtf8();
    return error;
}

QString RemoteCardsError::errorDescription() const
{
    switch (m_kind) {
    case Kind::invalidInput:
        return QStringLiteral("请求参数无效:") + m_detail;
    case Kind::upstream:
        switch (m_category) {
        case SSEEvent::ErrorCategory::timeout:
            return QStringLiteral("AI 生成卡片超时,请稍后再试。");
        case SSEEvent::ErrorCategory::rateLimit:
            return QStringLiteral("AI 生成卡片被限流,请稍后再试。");
        case SSEEvent::ErrorCategory::upstreamError:
        case SSEEvent::ErrorCategory::unknown:
            return QStringLiteral("AI 生成卡片失败,请稍后再试。");
        }
        break;
    case Kind::server:
        return QStringLiteral("服务器暂时不可用 (%1)。").arg(m_status);
    case Kind::parse:
        return QStringLiteral("卡片响应解析失败。");
    case Kind::transport:
        return QStringLiteral("网络连接失败,请稍后再试。");
    }
    return QString();
}
