#pragma once

#include "platform/Cancellation.h"
#include "platform/HttpSession.h"

#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>

class AuthService;

// Where the program's backend lives and what its clients share.
namespace RemoteAPIConfig {

namespace Path {
inline const QString track = QStringLiteral("/api/track");
inline const QString cards = QStringLiteral("/api/cards");
inline const QString story = QStringLiteral("/api/story");
inline const QString backup = QStringLiteral("/api/backup");
} // namespace Path

// Each request's idle time-out (the longest wait for its next data).
namespace Timeout {
inline constexpr std::chrono::milliseconds request{std::chrono::seconds(60)}; // requests without one of their own
inline constexpr std::chrono::milliseconds track{std::chrono::seconds(12)};
inline constexpr std::chrono::milliseconds cards{std::chrono::seconds(75)};
inline constexpr std::chrono::milliseconds story{std::chrono::seconds(30)};
// The longest a whole exchange through the shared session may take.
inline constexpr std::chrono::milliseconds resource{std::chrono::seconds(90)};
} // namespace Timeout

// The largest backup download accepted: far above what a 10,000-song library exports (~95 MB).
// Every other answer is JSON of a few KiB and keeps the request's default bound of a few MiB.
inline constexpr qint64 maximumBackupSize = 512LL * 1024 * 1024;

// The backend's origin, CANTORELLA_API_BASE_URL as ConnectionSettings finds it. Read once, on
// first use.
QUrl baseURL();

// The one session every backend client sends through: "Accept: application/json" on every
// request, the 90-second whole-transfer limit. Created on first use, on the GUI thread, and kept
// for the life of the process.
HttpSession &sharedSession();

// The session configuration behind sharedSession(), for tests that build their own.
HttpSession::Configuration sharedSessionConfiguration();

// baseURL() (or `base`) with `path` appended and the query only when there is one.
QUrl url(const QString &path, const Http::QueryItems &query = {});
QUrl url(const QUrl &base, const QString &path, const Http::QueryItems &query = {});

// The part of the request recipe every backend client shares, after it has built its request
// (address, method, headers, body, idle time-out):
//  1. asks `auth` for the bearer value and sets "Authorization" to it, or sends none when
//     signed out;
//  2. sends through `session` (TransportError and CancelledError pass through unchanged);
//  3. on HTTP 401 lets `auth` clear the session — only when the token that was sent is still
//     the current one — and returns the answer; the client then fails with its own error.
// Runs on the GUI thread. `session` must outlive the call (sharedSession() does).
QCoro::Task<Http::Response> send(HttpSession *session, AuthService *auth, Http::Request request,
                                 CancellationToken token = {});

} // namespace RemoteAPIConfig
