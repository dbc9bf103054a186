#include "backend/AuthService.h"

#include "core/AppLog.h"
#include "platform/Clock.h"
#include "platform/StrictJson.h"


namespace {

const QString kSignUpPath = QStringLiteral("/auth/v1/signup");
const QString kTokenPath = QStringLiteral("/auth/v1/token");
const QString kResendPath = QStringLiteral("/auth/v1/resend");
const QString kLogoutPath = QStringLiteral("/auth/v1/logout");

QString bearerValue(const QString &accessToken)
{
    return QStringLiteral("Bearer ") + accessToken;
}

// Resets isBusy when the operation ends, however it ends, unless the service is gone.
class BusyScope
{
public:
    explicit BusyScope(QPointer<AuthService> service, std::function<void(bool)> set)
        : m_service(std::move(service))
        , m_set(std::move(set))
    {
        m_set(true);
    }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;
    ~BusyScope()
    {
        if (m_service)
            m_set(false);
    }

private:
    QPointer<AuthService> m_service;
    std::function<void(bool)> m_set;
};

} // namespace

AuthService::AuthService(SupabaseConfig config, KeychainStore keychain, std::shared_ptr<HttpSession> http,
                         WallClock *clock, QObject *parent)
    : QObject(parent)
    , m_config(std::move(config))
    , m_keychain(std::move(keychain))
    , m_http(std::move(http))
    , m_clock(clock)
{
    const QPointer<AuthService> self(this);
    const KeychainStore keychainCopy = m_keychain;
    m_load = SharedTask<void>([self, keychainCopy](CancellationToken) { return loadStoredSession(self, keychainCopy); });
}

AuthService::~AuthService() = default;

AuthService *AuthService::shared()
{
    // Lives for the whole process, like the session it guards.
    static AuthService *const service =
        new AuthService(SupabaseConfig::standard(), KeychainStore::standard(),
                        std::make_shared<HttpSession>(httpConfiguration()), WallClock::system());
    return service;
}

HttpSession::Configuration AuthService::httpConfiguration()
{
    HttpSession::Configuration configuration;
    configuration.resourceTimeout = std::chrono::seconds(30);
    return configuration;
}

double AuthService::now() const
{
    return double(m_clock->now().toMSecsSinceEpoch()) / 1000.0;
}

void AuthService::setSession(const std::optional<AuthSession> &session)
{
    ++m_generation;
    if (m_session == session)
        return;
    m_session = session;
    emit sessionChanged();
}

void AuthService::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit isBusyChanged();
}

QCoro::Task<void> AuthService::loadStoredSession(QPointer<AuthService> self, KeychainStore keychain)
{
    const quint64 generation = self->m_generation;
    const std::optional<AuthSession> stored = co_await keychain.load();
    if (!self)
        co_return;
    self->m_loaded = true;
    // A sign-in or sign-out that finished first is newer than what was stored.
    if (stored && self->m_generation == generation)
        self->setSession(stored);
}

QCoro::Task<void> AuthService::waitForStoredSession()
{
    const SharedTask<void> load = m_load;
    const CancellationToken waiter;
    co_await load.wait(waiter);
}

QCoro::Task<bool> AuthService::signUp(QString email, QString password)
{
    validate(email, password);
    const QPointer<AuthService> self(this);
    BusyScope busy(self, [self](bool on) { self->setBusy(on); });
    // Named values, not braced temporaries inside the co_await: GCC 12 mishandles those.
    const QByteArray body = requestBody({{QLatin1StringView("email"), email}, {QLatin1StringView("password"), password}});
    const QUrl url = m_config.url(kSignUpPath);
    const std::shared_ptr<HttpSession> http = m_http;
    const QString anonKey = m_config.anonKey;
    const std::optional<QString> noBearer;
    const Reply reply = co_await post(http, anonKey, url, body, noBearer);
    if (!self)
        co_return false;

    if (reply.status == 200 || reply.status == 201) {
        std::optional<AuthSession> session;
        try {
            session = readSession(reply.body, self->now());
        } catch (const JsonError &) {
            // An answer that cannot be read says nothing about the sign-up.
            throw AuthError::server(reply.status);
        }
        if (!session)
            co_return false; // accepted; the service waits for the e-mail confirmation
        self->setSession(session);
        self->m_keychain.save(*session);
        co_return true;
    }
    const QString message = errorMessage(reply.body);
    if (refusesKey(reply.status, message))
        throw self->keyRefused(reply.status);
    if (reply.status == 422 || message.contains(QLatin1String("already")) || message.contains(QLatin1String("registered")))
        throw AuthError::emailExists();
    throw AuthError::server(reply.status);
}

QCoro::Task<void> AuthService::signIn(QString email, QString password)
{
    validate(email, password);
    const QPointer<AuthService> self(this);
    BusyScope busy(self, [self](bool on) { self->setBusy(on); });
    const QByteArray body = requestBody({{QLatin1StringView("email"), email}, {QLatin1StringView("password"), password}});
    Http::QueryItems query;
    query.append(qMakePair(QStringLiteral("grant_type"), QStringLiteral("password")));
    const QUrl url = m_config.url(kTokenPath, query);
    const std::shared_ptr<HttpSession> http = m_http;
    const QString anonKey = m_config.anonKey;
    const std::optional<QString> noBearer;
    const Reply reply = co_await post(http, anonKey, url, body, noBearer);
    if (!self)
        co_return;

    if (reply.status == 200) {
        const std::optional<AuthSession> session = decodeSession(reply.body, self->now());
        if (!session)
            throw AuthError::server(200);
        self->setSession(session);
        self->m_keychain.save(*session);
        co_return;
    }
    const QString message = errorMessage(reply.body);
    if (refusesKey(reply.status, message))
        throw self->keyRefused(reply.status);
    if (message.contains(QLatin1String("not confirmed")) || message.contains(QLatin1String("confirm")))
        throw AuthError::notConfirmed();
    if (reply.status == 400 || message.contains(QLatin1String("invalid")))
        throw AuthError::invalidCredentials();
    throw AuthError::server(reply.status);
}

AuthError AuthService::keyRefused(int status) const
{
    qCWarning(lcAuth, "The sign-in service refused this program's key (HTTP %d); the key came from %s", status,
              qPrintable(ConnectionSettings::describe(m_config.anonKeySource)));
    return AuthError::keyRefused(status);
}

QCoro::Task<bool> AuthService::resendConfirmation(QString email)
{
    try {
        const QByteArray body =
            requestBody({{QLatin1StringView("type"), QStringLiteral("signup")}, {QLatin1StringView("email"), email}});
        const QUrl url = m_config.url(kResendPath);
        const std::shared_ptr<HttpSession> http = m_http;
        const QString anonKey = m_config.anonKey;
        const std::optional<QString> noBearer;
        const Reply reply = co_await post(http, anonKey, url, body, noBearer);
        co_return reply.status == 200;
    } catch (const AuthError &) {
        co_return false;
    }
}

QCoro::Task<void> AuthService::signOut()
{
    const std::optional<QString> token = m_session ? std::optional<QString>(m_session->accessToken) : std::nullopt;
    setSession(std::nullopt);
    m_keychain.remove();
    if (!token)
        co_return;
    // Whatever the service answers, or if it cannot be reached, the user stays signed out here.
    try {
        const QUrl url = m_config.url(kLogoutPath);
        const std::shared_ptr<HttpSession> http = m_http;
        const QString anonKey = m_config.anonKey;
        const QByteArray empty = requestBody({});
        co_await post(http, anonKey, url, empty, token);
    } catch (const AuthError &) {
    }
}

QCoro::Task<std::optional<QString>> AuthService::authorizationHeader()
{
    if (!m_session)
        co_return std::nullopt;
    const AuthSession current = *m_session;
    if (!current.isExpired(now(), SupabaseConfig::refreshLeeway))
        co_return bearerValue(current.accessToken);

    const std::optional<AuthSession> refreshed = co_await refreshIfNeeded(current);
    // A failed refresh still sends the stale token; the backend's 401 then signs the user out.
    co_return bearerValue(refreshed ? refreshed->accessToken : current.accessToken);
}

QCoro::Task<std::optional<AuthSession>> AuthService::refreshIfNeeded(AuthSession session)
{
    // Join the refresh in flight when it refreshes the current session; a refresh started for
    // a session that has since been replaced or cleared is not joined.
    if (!m_refresh.isValid() || m_refreshGeneration != m_generation) {
        const QPointer<AuthService> self(this);
        const QString refreshToken = session.refreshToken;
        const quint64 generation = m_generation;
        m_refresh = SharedTask<std::optional<AuthSession>>([self, refreshToken, generation](CancellationToken) {
            return refresh(self, refreshToken, generation);
        });
        m_refreshGeneration = generation;
        ++m_refreshSerial;
    }
    const SharedTask<std::optional<AuthSession>> task = m_refresh;
    const quint64 serial = m_refreshSerial;
    const QPointer<AuthService> self(this);

    const CancellationToken waiter;
    const std::optional<AuthSession> result = co_await task.wait(waiter);
    if (self && self->m_refreshSerial == serial)
        self->m_refresh = {};
    co_return result;
}

QCoro::Task<std::optional<AuthSession>> AuthService::refresh(QPointer<AuthService> self, QString refreshToken,
                                                             quint64 generation)
{
    if (!self)
        co_return std::nullopt;
    Reply reply;
    try {
        const QByteArray body = requestBody({{QLatin1StringView("refresh_token"), refreshToken}});
        Http::QueryItems query;
        query.append(qMakePair(QStringLiteral("grant_type"), QStringLiteral("refresh_token")));
        const QUrl url = self->m_config.url(kTokenPath, query);
        const std::shared_ptr<HttpSession> http = self->m_http;
        const QString anonKey = self->m_config.anonKey;
        const std::optional<QString> noBearer;
        reply = co_await post(http, anonKey, url, body, noBearer);
    } catch (const AuthError &) {
        reply.status = -1;
    }
    if (!self)
        co_return std::nullopt;

    const std::optional<AuthSession> session =
        reply.status == 200 ? decodeSession(reply.body, self->now()) : std::nullopt;
    if (!session) {
        qCWarning(lcAuth, "Token refresh failed — session may be expired");
        co_return std::nullopt;
    }
    // Signed out, signed out by a 401, or signed in anew while the refresh ran: the new tokens
    // belong to a session that is no longer current and are dropped.
    if (self->m_generation != generation) {
        qCDebug(lcAuth, "Token refresh finished after the session changed; result dropped");
        co_return std::nullopt;
    }
    self->setSession(session);
    self->m_keychain.save(*session);
    co_return session;
}

void AuthService::handleUnauthorized(const std::optional<QString> &sentAuthorization)
{
    if (!m_session || !sentAuthorization || *sentAuthorization != bearerValue(m_session->accessToken)) {
        qCDebug(lcAuth, "Backend returned 401 for a token that is no longer current — session kept");
        return;
    }
    qCInfo(lcAuth, "Backend returned 401 — clearing session");
    setSession(std::nullopt);
    m_keychain.remove();
}
