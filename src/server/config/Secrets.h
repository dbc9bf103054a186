#pragma once

#include <QString>

#include <optional>
#include <string>

namespace server {

// The server's secrets, read from the environment or from files of mode 0600, never from flags
// or the configuration file (those show in ps and in backups of /etc).
struct Secrets
{
    std::string anonKey;      // every /auth/v1 request's "apikey" header must equal it
    std::string tokenKey;     // HS256 key of the access tokens
    std::string smtpPassword; // empty without SMTP
    std::string llmKey;       // the language model API's key; empty when it needs none

    // VARIABLE, else the file named by VARIABLE_FILE, else (for the anonymous and signing keys)
    // the file "anon-key" / "token-key" in the data folder, created with a random value when
    // missing. A file readable by others is refused. With `shared` (several processes on one
    // database) nothing is generated: both keys must be given, or ConfigError says so. Throws
    // ConfigError.
    static Secrets load(const QString &dataFolder, bool shared = false);
};

// `bytes` random bytes, base64url without padding.
std::string randomToken(int bytes = 32);

} // namespace server
