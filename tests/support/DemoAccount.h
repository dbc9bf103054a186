#pragma once

// A signed-in account on the local server, for programs that show the player without
// going through the sign-in view: the session is kept in memory only.

#include "TaskRunner.h"

#include "backend/AuthService.h"
#include "backend/KeychainStore.h"
#include "backend/RemoteAPIConfig.h"
#include "platform/Clock.h"
#include "platform/SecretStore.h"

#include <memory>

struct DemoAccount
{
    std::shared_ptr<HttpSession> http = std::make_shared<HttpSession>(RemoteAPIConfig::sharedSessionConfiguration());
    std::unique_ptr<AuthService> auth;

    // Registers `email` (or signs it in when the server already knows it). False when neither
    // gives a session.
    bool signIn(const QUrl &base, const QString &email, const QString &password = QStringLiteral("secret-password-1"))
    {
        auth = std::make_unique<AuthService>(SupabaseConfig{base, QStringLiteral("local-demo-anon-key")},
                                             KeychainStore(QStringLiteral("com.cantorella.Cantorella.auth"),
                                                           QStringLiteral("supabase-session"),
                                                           std::make_shared<InMemorySecretStore>()),
                                             http, WallClock::system());
        TaskRunner::run(auth->waitForStoredSession());
        try {
            TaskRunner::run(auth->signUp(email, password));
        } catch (const std::exception &) {
            // Known already: sign in below.
        }
        try {
            if (!auth->isSignedIn())
                TaskRunner::run(auth->signIn(email, password));
        } catch (const std::exception &) {
            return false;
        }
        return auth->isSignedIn();
    }
};
