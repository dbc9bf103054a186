#pragma once

#include <QString>

#include <memory>

namespace server {

struct ServerConfig;
struct Secrets;

// Delivers the e-mail confirmation link of a new account (it opens a form that asks for the password).
class Mailer
{
public:
    virtual ~Mailer() = default;
    // False when the message could not be handed over (logged without the address).
    virtual bool sendConfirmation(const QString &email, const QString &link) = 0;
};

// SMTP through libcurl when smtp-url is set; otherwise the link goes to the server log (for a
// server on one's own machine: the log line is the only copy of the link).
std::unique_ptr<Mailer> makeMailer(const ServerConfig &config, const Secrets &secrets);

} // namespace server
