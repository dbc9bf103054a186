#pragma once

namespace server {
namespace http { class Router; }
struct ServerContext;

// The sign-in service under /auth/v1: signup, token (password and refresh_token grants), resend,
// logout, and verify (the e-mail confirmation link: a form that asks for the password).
void registerAuthRoutes(http::Router &router, ServerContext &context);

} // namespace server
