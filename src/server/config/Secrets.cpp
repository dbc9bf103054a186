#include "server/config/Secrets.h"

#include "server/config/ServerConfig.h"

#include <QDir>
#include <QFile>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <sodium.h>
#include <sys/stat.h>

namespace server {
namespace {

[[noreturn]] void fail(const QString &message)
{
    throw ConfigError(message.toStdString());
}

std::string readSecretFile(const QString &path)
{
    struct stat info{};
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &info) != 0)
        fail(QStringLiteral("cannot read the secret file %1").arg(path));
    if ((info.st_mode & 077) != 0)
        fail(QStringLiteral("the secret file %1 may be read by others: chmod 600 it").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read the secret file %1").arg(path));
    const std::string value = file.readAll().trimmed().toStdString();
    if (value.empty())
        fail(QStringLiteral("the secret file %1 is empty").arg(path));
    return value;
}

std::optional<std::string> fromEnvironment(const char *variable)
{
    const QByteArray value = qgetenv(variable);
    if (!value.isEmpty())
        return value.toStdString();
    const QString file = qEnvironmentVariable((QByteArray(variable) + "_FILE").constData());
    if (!file.isEmpty())
        return readSecretFile(file);
    return std::nullopt;
}

std::string generatedInFolder(const QString &folder, const QString &name)
{
    const QString path = QDir(folder).filePath(name);
    if (QFile::exists(path))
        return readSecretFile(path);
    const std::string value = randomToken(32);
    const QByteArray native = QFile::encodeName(path);
    // O_EXCL: two processes starting at once on one data folder keep one key.
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return readSecretFile(path);
    const std::string line = value + "\n";
    const bool written = ::write(fd, line.data(), line.size()) == ssize_t(line.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!written)
        fail(QStringLiteral("cannot write %1").arg(path));
    return value;
}

} // namespace

std::string randomToken(int bytes)
{
    std::string raw(size_t(bytes), '\0');
    randombytes_buf(raw.data(), raw.size());
    std::string text(sodium_base64_ENCODED_LEN(raw.size(), sodium_base64_VARIANT_URLSAFE_NO_PADDING), '\0');
    sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char *>(raw.data()), raw.size(),
                      sodium_base64_VARIANT_URLSAFE_NO_PADDING);
    text.resize(std::strlen(text.c_str()));
    return text;
}

Secrets Secrets::load(const QString &dataFolder)
{
    if (!QDir().mkpath(dataFolder))
        fail(QStringLiteral("cannot create the data folder %1").arg(dataFolder));
    QFile::setPermissions(dataFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    Secrets secrets;
    secrets.anonKey = fromEnvironment("CANTORELLA_ANON_KEY").value_or(std::string());
    if (secrets.anonKey.empty())
        secrets.anonKey = generatedInFolder(dataFolder, QStringLiteral("anon-key"));
    secrets.tokenKey = fromEnvironment("CANTORELLA_JWT_KEY").value_or(std::string());
    if (secrets.tokenKey.empty())
        secrets.tokenKey = generatedInFolder(dataFolder, QStringLiteral("token-key"));
    if (secrets.tokenKey.size() < 32)
        fail(QStringLiteral("CANTORELLA_JWT_KEY needs at least 32 characters"));
    secrets.smtpPassword = fromEnvironment("CANTORELLA_SMTP_PASSWORD").value_or(std::string());
    secrets.llmKey = fromEnvironment("CANTORELLA_LLM_KEY").value_or(std::string());
    return secrets;
}

} // namespace server
