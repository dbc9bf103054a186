#include "server/auth/Mailer.h"

#include "server/config/Secrets.h"
#include "server/config/ServerConfig.h"
#include "server/http/Log.h"

#include <QDateTime>

#include <curl/curl.h>

#include <cstring>
#include <string>

namespace server {
namespace {

class LogMailer final : public Mailer
{
public:
    bool sendConfirmation(const QString &, const QString &link) override
    {
        logLine(QStringLiteral("mail: open this link and enter the sign-up's password to confirm the new account: %1")
                    .arg(link));
        return true;
    }
};

class SmtpMailer final : public Mailer
{
public:
    SmtpMailer(const ServerConfig &config, const Secrets &secrets)
        : m_url(config.smtpUrl.toStdString())
        , m_from(config.smtpFrom.toStdString())
        , m_user(config.smtpUser.toStdString())
        , m_password(secrets.smtpPassword)
    {
    }

    bool sendConfirmation(const QString &email, const QString &link) override
    {
        const std::string to = email.toStdString();
        // Addresses were validated on sign-up; a line break here would inject headers.
        if (to.find_first_of("\r\n<>") != std::string::npos)
            return false;
        const std::string message = "Date: " + QDateTime::currentDateTimeUtc().toString(Qt::RFC2822Date).toStdString()
            + "\r\nTo: <" + to + ">\r\nFrom: <" + m_from + ">\r\nSubject: =?UTF-8?B?"
            + QByteArray("请确认你的 Cantorella 邮箱").toBase64().toStdString()
            + "?=\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n"
            + "打开下面的链接，输入你注册时设置的密码，确认邮箱，然后回到 Cantorella 登录：\r\n" + link.toStdString()
            + "\r\n";
        Upload upload{message, 0};

        CURL *curl = curl_easy_init();
        if (!curl)
            return false;
        curl_slist *recipients = curl_slist_append(nullptr, ("<" + to + ">").c_str());
        curl_easy_setopt(curl, CURLOPT_URL, m_url.c_str());
        curl_easy_setopt(curl, CURLOPT_MAIL_FROM, ("<" + m_from + ">").c_str());
        curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
        if (!m_user.empty()) {
            curl_easy_setopt(curl, CURLOPT_USERNAME, m_user.c_str());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, m_password.c_str());
        }
        curl_easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 5000L);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 15000L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, &SmtpMailer::read);
        curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
        const CURLcode result = curl_easy_perform(curl);
        curl_slist_free_all(recipients);
        curl_easy_cleanup(curl);
        if (result != CURLE_OK)
            logLine(QStringLiteral("mail: SMTP delivery failed: %1").arg(QString::fromUtf8(curl_easy_strerror(result))));
        return result == CURLE_OK;
    }

private:
    struct Upload
    {
        const std::string &text;
        std::size_t sent;
    };

    static size_t read(char *buffer, size_t size, size_t count, void *user)
    {
        auto *upload = static_cast<Upload *>(user);
        const size_t length = std::min(size * count, upload->text.size() - upload->sent);
        std::memcpy(buffer, upload->text.data() + upload->sent, length);
        upload->sent += length;
        return length;
    }

    std::string m_url;
    std::string m_from;
    std::string m_user;
    std::string m_password;
};

} // namespace

std::unique_ptr<Mailer> makeMailer(const ServerConfig &config, const Secrets &secrets)
{
    if (config.smtpUrl.isEmpty())
        return std::make_unique<LogMailer>();
    return std::make_unique<SmtpMailer>(config, secrets);
}

} // namespace server
