#pragma once

#include <QByteArray>
#include <QString>

namespace server {

// argon2id password hashes (libsodium's interactive limits: about 0.1 s and 64 MiB each).
// At most one hash per processor core runs at a time, so a burst of sign-ins queues instead of
// taking 64 MiB for every request thread.
namespace Passwords {

QByteArray hash(const QString &password);
bool verify(const QByteArray &storedHash, const QString &password);
// Spends the time of one verification without an account, so that an unknown address answers
// as slowly as a wrong password.
void verifyNothing(const QString &password);

} // namespace Passwords
} // namespace server
