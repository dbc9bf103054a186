#include "server/auth/ConfirmationPage.h"

#include "server/http/Message.h"

#include <QUrlQuery>

namespace server::ConfirmationPage {
namespace {

QString paragraph(const QString &text)
{
    return QStringLiteral("<p>%1</p>\n").arg(text.toHtmlEscaped());
}

QString body(Kind kind, const std::string &token)
{
    switch (kind) {
    case Kind::Confirmed:
        return paragraph(QStringLiteral("邮箱已确认，现在可以回到 Cantorella 登录了。"));
    case Kind::InvalidLink:
        return paragraph(QStringLiteral("链接无效或已过期，请在 Cantorella 里重新发送确认邮件。"));
    case Kind::TooMany:
        return paragraph(QStringLiteral("尝试次数过多，请稍后再试。"));
    case Kind::Form:
    case Kind::WrongPassword:
        break;
    }
    // The action is relative, so that the form posts back to wherever the link pointed.
    QString form = QStringLiteral("<form method=\"post\" action=\"verify\" accept-charset=\"utf-8\">\n");
    if (kind == Kind::WrongPassword)
        form += paragraph(QStringLiteral("密码不对。请输入你注册时设置的密码。"));
    form += paragraph(QStringLiteral("请输入你注册 Cantorella 时设置的密码，确认这个邮箱。"));
    form += QStringLiteral("<input type=\"hidden\" name=\"token\" value=\"%1\">\n"
                           "<p><label>密码 <input type=\"password\" name=\"password\" required "
                           "autocomplete=\"current-password\" autofocus></label></p>\n"
                           "<p><button type=\"submit\">确认邮箱</button></p>\n</form>\n")
                .arg(QString::fromStdString(token).toHtmlEscaped());
    return form;
}

} // namespace

void send(http::Reply &reply, int status, Kind kind, const std::string &token)
{
    reply.status = status;
    reply.setContent(
        (QStringLiteral("<!doctype html>\n<meta charset=\"utf-8\">\n"
                        "<meta name=\"viewport\" content=\"width=device-width\">\n<title>Cantorella</title>\n")
         + body(kind, token))
            .toStdString(),
        "text/html; charset=utf-8");
    // Never kept (it carries the link's token), never framed by another site, no script at all;
    // the link's token is not passed on to any other site.
    reply.setHeader("Cache-Control", "no-store");
    reply.setHeader("Content-Security-Policy", "default-src 'none'; form-action 'self'; frame-ancestors 'none'");
    reply.setHeader("Referrer-Policy", "no-referrer");
}

Answer read(const std::string &body)
{
    // '+' stands for a space in a form; QUrlQuery reads it as itself.
    const QUrlQuery query(QString::fromUtf8(body).replace(QLatin1Char('+'), QStringLiteral("%20")));
    return Answer{query.queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toStdString(),
                  query.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded)};
}

} // namespace server::ConfirmationPage
