#pragma once

#include <QString>

#include <string>

namespace server {
namespace http { struct Reply; }

// The page the e-mail confirmation link opens: a plain HTML form (no script, nothing loaded from
// elsewhere) that asks for the password of the sign-up, and the pages that answer it. Every
// value put into a page is escaped.
namespace ConfirmationPage {

enum class Kind {
    Form,          // asks for the password
    WrongPassword, // the form again, saying the password was not right
    Confirmed,     // the account is confirmed
    InvalidLink,   // unknown, expired or used up
    TooMany,       // too many attempts for now
};

// The page of that kind into `reply` with `status`; `token` goes into the form's hidden field.
void send(http::Reply &reply, int status, Kind kind, const std::string &token = {});

// What the form sends (application/x-www-form-urlencoded).
struct Answer
{
    std::string token;
    QString password;
};
Answer read(const std::string &body);

} // namespace ConfirmationPage
} // namespace server
