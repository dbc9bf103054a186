#pragma once

#include "HttpFake.h"
#include "HttpFakeAuth.h"
#include "TaskRunner.h"

#include "backend/AuthService.h"
#include "platform/Clock.h"
#include "platform/SecretStore.h"

#include <memory>

// An AuthService wired to an HttpFake (with its hosted-authentication stand-in), an in-memory
// secret store and a manual wall clock that the stand-in shares. For tests of the service
// itself and of backend clients that need a signed-in user or a 401.
struct AuthFixture
{
    static inline const QString anonKey = QStringLiteral("test-anon-key");

    HttpFake server;
    std::shared_ptr<InMemorySecretStore> secrets = std::make_shared<InMemorySecretStore>();
    ManualWallClock clock;
    std::shared_ptr<HttpSession> http = std::make_shared<HttpSession>();
    std::unique_ptr<AuthService> auth;

    AuthFixture()
    {
        server.listen();
        server.auth().setAnonKey(anonKey);
        server.auth().setClock([this] { return clock.now().toSecsSinceEpoch(); });
    }

    double now() const { return double(clock.now().toSecsSinceEpoch()); }
    SupabaseConfig config() const { return SupabaseConfig{server.baseUrl(), anonKey}; }
    KeychainStore keychain() const
    {
        return KeychainStore(QStringLiteral("com.cantorella.Cantorella.auth"), QStringLiteral("supabase-session"), secrets);
    }

    // Builds the service (after the test has put any stored item in place) and waits for its start-up load.
    AuthService &start()
    {
        auth = std::make_unique<AuthService>(config(), keychain(), http, &clock);
        TaskRunner::run(auth->waitForStoredSession());
        return *auth;
    }

    std::optional<QByteArray> storedItem() const
    {
        return secrets->item(QStringLiteral("com.cantorella.Cantorella.auth"), QStringLiteral("supabase-session"));
    }
    std::optional<AuthSession> storedSession() const
    {
        const auto item = storedItem();
        return item ? AuthSession::fromJson(*item) : std::nullopt;
    }
    void store(const AuthSession &session)
    {
        secrets->setItem(QStringLiteral("com.cantorella.Cantorella.auth"), QStringLiteral("supabase-session"),
                         session.toJson());
    }

    // A session the stand-in knows (its refresh token works), expiring `expiresIn` seconds from now.
    AuthSession issuedSession(const QString &email, qint64 expiresIn = 3600)
    {
        if (!server.auth().user(email))
            server.auth().addUser(email, QStringLiteral("secret-1"));
        const HttpFakeAuth::Tokens tokens = server.auth().issueTokens(email);
        return AuthSession{tokens.userId, tokens.accessToken, tokens.refreshToken,
                           now() + double(expiresIn), email};
    }
};
