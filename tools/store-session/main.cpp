// cantorella-store-session EMAIL [PASSWORD]: registers EMAIL on the authentication service (or
// signs it in when it is known already) and waits until the session is in the secret store. The
// service's address and key come from the environment, as for the application
// (CANTORELLA_AUTH_BASE_URL, CANTORELLA_AUTH_ANON_KEY). Exit status 0 when the session is stored.

#include "TaskRunner.h"

#include "backend/AuthService.h"
#include "backend/KeychainStore.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3) {
        err << "usage: cantorella-store-session EMAIL [PASSWORD]\n";
        return 2;
    }
    const QString email = args.at(1);
    const QString password = args.size() > 2 ? args.at(2) : QStringLiteral("secret-password-1");

    // A copy of the store shares its queue of operations: idle() below waits for the save the
    // service queues after signing in.
    const KeychainStore keychain = KeychainStore::standard();
    AuthService auth(SupabaseConfig::standard(), keychain, std::make_shared<HttpSession>(AuthService::httpConfiguration()),
                     WallClock::system());
    try {
        TaskRunner::run(auth.waitForStoredSession());
        if (!auth.isSignedIn()) {
            try {
                TaskRunner::run(auth.signUp(email, password));
            } catch (const std::exception &) {
                // Registered already: signed in below.
            }
        }
        if (!auth.isSignedIn())
            TaskRunner::run(auth.signIn(email, password));
        KeychainStore waiter = keychain;
        TaskRunner::run(waiter.idle());
    } catch (const std::exception &error) {
        err << "cantorella-store-session: " << error.what() << "\n";
        return 1;
    }
    if (!auth.isSignedIn()) {
        err << "cantorella-store-session: no session for " << email << "\n";
        return 1;
    }
    // The stored item is read back, as the application will read it.
    KeychainStore reader = keychain;
    const std::optional<AuthSession> stored = TaskRunner::run(reader.load());
    if (!stored) {
        err << "cantorella-store-session: the secret store did not keep the session\n";
        return 1;
    }
    return 0;
}
