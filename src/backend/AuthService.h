#pragma once

#include "backend/AuthError.h"
#include "backend/AuthSession.h"
#include "backend/KeychainStore.h"
#include "backend/SupabaseConfig.h"
#include "platform/Async.h"
#include "platform/HttpSession.h"

#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include <initializer_list>
#include <memory>
#include <optional>

class WallClock;

// Signs the user up, in and out against the hosted authentication service, keeps the current
// session in memory and in the secret store, refreshes it shortly before it expires, and gives
// every backend client its "Authorization" value. GUI thread only. Properties announce only
// real changes.
class AuthService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isSignedIn READ isSignedIn NOTIFY sessionChanged)
    Q_PROPERTY(QString currentEmail READ currentEmailText NOTIFY sessionChanged)
    Q_PROPERTY(QString currentUserId READ currentUserIdText NOTIFY sessionChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)

public:
    // Starts loading the stored session at once; it is published when the load finishes
    // (waitForStoredSession), unless a sign-in or sign-out came first.
    AuthService(SupabaseConfig config, KeychainStore keychain, std::shared_ptr<HttpSession> http,
                WallClock *clock, QObject *parent = nullptr);
    ~AuthService() override;

    // The process-wide service: SupabaseConfig::standard(), KeychainStore::standard(), an HTTP
    // session of its own (httpConfiguration()), the system clock.
    static AuthService *shared();
    // The authentication session: no "Accept" default; a whole-transfer limit of 30 s, so that
    // a sign-in always ends, however slowly an answer trickles in.
    static HttpSession::Configuration httpConfiguration();

    const std::optional<AuthSession> &session() const { return m_session; }
    bool isBusy() const { return m_busy; }
    bool isSignedIn() const { return m_session.has_value(); }
    std::optional<QString> currentEmail() const { return m_session ? m_session->email : std::nullopt; }
    std::optional<QString> currentUserId() const
    {
        return m_session ? std::optional<QString>(m_session->userId) : std::nullopt;
    }

    // Finishes when the start-up load of the stored session has finished. The load is bounded
    // by the secret store's own time-out.
    QCoro::Task<void> waitForStoredSession();
    bool hasLoadedStoredSession() const { return m_loaded; }

    // True: signed in now. False: the service accepted the sign-up and awaits the e-mail
    // confirmation. Throws AuthError.
    QCoro::Task<bool> signUp(QString email, QString password);
    // Throws AuthError; on return the user is signed in.
    QCoro::Task<void> signIn(QString email, QString password);
    // True when the service accepted the request. Never throws.
    QCoro::Task<bool> resendConfirmation(QString email);
    // Clears the session here first, then tells the service. Never throws.
    QCoro::Task<void> signOut();

    // "Bearer <access token>", or nothing when signed out. Within the refresh leeway of the
    // expiry it first refreshes the session (one refresh shared by every caller); when that
    // fails, the stale token is returned.
    QCoro::Task<std::optional<QString>> authorizationHeader();

    // A backend call answered 401. `sentAuthorization` is the "Authorization" value that call
    // sent (nothing when it sent none). The session is cleared only when that is still the
    // current session's value: a late 401 for a token that has since been refreshed, or for
    // another user, leaves the current session alone.
    void handleUnauthorized(const std::optional<QString> &sentAuthorization);

    // The rules below are public so that they can be checked on their own.
    static void validate(const QString &email, const QString &password); // throws AuthError::validation
    // The session in a token reply; `now` (seconds since 1970) supplies a missing expiry.
    // Nothing when the reply lacks a token or the user id, or is unreadable.
    static std::optional<AuthSession> decodeSession(const QByteArray &body, double now);
    // The lower-cased message of an error reply; empty when there is none.
    static QString errorMessage(const QByteArray &body);
    // Whether an answer with `status` and the error message `message` refuses the "apikey" the
    // request carried: 401 or 403 naming the API key ("Invalid API key", "No API key found").
    static bool refusesKey(int status, const QString &message);

signals:
    void sessionChanged();
    void isBusyChanged();

private:
    struct Reply
    {
        int status = 0; // 0 when the answer was not an HTTP answer
        QByteArray body;
    };

    QString currentEmailText() const { return currentEmail().value_or(QString()); }
    QString currentUserIdText() const { return currentUserId().value_or(QString()); }
    double now() const;
    void setSession(const std::optional<AuthSession> &session);
    void setBusy(bool busy);
    // Logs where the refused key came from (never the key) and returns the error to throw.
    AuthError keyRefused(int status) const;

    // One request to the authentication service with a JSON body; throws AuthError::network on
    // a transfer failure.
    static QCoro::Task<Reply> post(std::shared_ptr<HttpSession> http, QString anonKey, QUrl url, QByteArray body,
                                   std::optional<QString> bearer);
    // A request body of string members, written in the order given.
    static QByteArray requestBody(std::initializer_list<std::pair<QLatin1StringView, QString>> members);
    // As decodeSession, but a reply that is not a JSON object, or holds a field of the wrong
    // type, throws JsonError.
    static std::optional<AuthSession> readSession(const QByteArray &body, double now);
    QCoro::Task<std::optional<AuthSession>> refreshIfNeeded(AuthSession session);
    static QCoro::Task<std::optional<AuthSession>> refresh(QPointer<AuthService> self, QString refreshToken,
                                                           quint64 generation);
    static QCoro::Task<void> loadStoredSession(QPointer<AuthService> self, KeychainStore keychain);

    SupabaseConfig m_config;
    KeychainStore m_keychain;
    std::shared_ptr<HttpSession> m_http;
    WallClock *m_clock;

    std::optional<AuthSession> m_session;
    // Counts every write of the session: work that started under one generation applies its
    // result only while the generation is unchanged.
    quint64 m_generation = 0;
    bool m_busy = false;
    bool m_loaded = false;
    SharedTask<void> m_load;

    SharedTask<std::optional<AuthSession>> m_refresh; // the refresh in flight, if any
    quint64 m_refreshGeneration = 0;                  // the generation it refreshes
    quint64 m_refreshSerial = 0;                      // identifies it
};
