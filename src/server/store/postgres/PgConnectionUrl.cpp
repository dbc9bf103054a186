#include "server/store/postgres/PgConnectionUrl.h"

#include "server/store/postgres/PgValues.h"
#include "server/store/postgres/PostgresStore.h"

#include <QRegularExpression>
#include <QUrl>

#include <string>

namespace server {

namespace {

// Where a password sits: in a URI's user part (up to the last '@', so that an unencoded '@' or
// '/' in it stays covered; group 2) or as a password= parameter of a URI or key/value string,
// quoted or not (group 2).
const QRegularExpression &userInfoPassword()
{
    static const QRegularExpression pattern(QStringLiteral("^([a-z]+://[^:@/?]*:)(.*)@"));
    return pattern;
}

const QRegularExpression &parameterPassword()
{
    static const QRegularExpression pattern(QStringLiteral(R"(((?:^|[?&\s])password\s*=\s*)('(?:[^'\\]|\\.)*'|[^&\s]*))"));
    return pattern;
}

} // namespace

QString redactedDatabaseUrl(const QString &url)
{
    QString redacted = url;
    redacted.replace(userInfoPassword(), QStringLiteral("\\1***@"));
    redacted.replace(parameterPassword(), QStringLiteral("\\1***"));
    return redacted;
}

namespace pg {

// The password of a connection string, decoded as libpq would see it.
std::string passwordIn(const QString &url)
{
    for (const auto *pattern : {&userInfoPassword(), &parameterPassword()}) {
        const auto match = pattern->match(url);
        QString password = match.captured(2);
        if (password.size() >= 2 && password.startsWith(QLatin1Char('\'')) && password.endsWith(QLatin1Char('\'')))
            password = password.mid(1, password.size() - 2).replace(QStringLiteral("\\'"), QStringLiteral("'"));
        if (!password.isEmpty())
            return QUrl::fromPercentEncoding(password.toUtf8()).toStdString();
    }
    return {};
}

// libpq waits for an unreachable host as long as TCP does (minutes) unless told otherwise.
std::string withConnectTimeout(const QString &url)
{
    if (url.contains(QLatin1String("connect_timeout")))
        return str(url);
    if (!url.contains(QLatin1String("://")))
        return str(url) + " connect_timeout=10";
    return str(url) + (url.contains(QLatin1Char('?')) ? "&" : "?") + "connect_timeout=10";
}

} // namespace pg

} // namespace server
