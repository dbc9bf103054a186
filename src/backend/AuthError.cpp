#include "backend/AuthError.h"

AuthError::AuthError(Kind kind, int status, QString detail)
    : m_kind(kind)
    , m_status(status)
    , m_detail(std::move(detail))
    , m_what(errorDescription().toUtf8())
{
}

QString AuthError::errorDescription() const
{
    switch (m_kind) {
    case Kind::server:
        return QStringLiteral("服务器暂时不可用（") + QString::number(m_status) + QStringLiteral("）。");
    case Kind::validation:
        return m_detail;
    case Kind::emailExists:
        return QStringLiteral("该邮箱已注册，请直接登录。");
    case Kind::notConfirmed:
        return QStringLiteral("邮箱尚未验证，请查收确认邮件。");
    case Kind::invalidCredentials:
        return QStringLiteral("邮箱或密码错误。");
    case Kind::network:
        return QStringLiteral("网络连接失败，请稍后再试。");
    case Kind::keyRefused:
        return QStringLiteral("该服务器不接受本程序的访问（") + QString::number(m_status)
            + QStringLiteral("），请联系服务器管理员。");
    }
    return {};
}
