#include "server/auth/Passwords.h"

#include <sodium.h>

#include <algorithm>
#include <semaphore>
#include <stdexcept>
#include <thread>

namespace server::Passwords {
namespace {

std::counting_semaphore<> &hashSlots()
{
    static std::counting_semaphore<> pool(std::max<std::ptrdiff_t>(1, std::thread::hardware_concurrency()));
    return pool;
}

class Slot
{
public:
    Slot() { hashSlots().acquire(); }
    ~Slot() { hashSlots().release(); }
    Slot(const Slot &) = delete;
};

} // namespace

QByteArray hash(const QString &password)
{
    const QByteArray utf8 = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    const Slot slot;
    if (crypto_pwhash_str(out, utf8.constData(), quint64(utf8.size()), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE)
        != 0)
        throw std::runtime_error("out of memory while hashing a password");
    return QByteArray(out);
}

bool verify(const QByteArray &storedHash, const QString &password)
{
    const QByteArray utf8 = password.toUtf8();
    const Slot slot;
    return crypto_pwhash_str_verify(storedHash.constData(), utf8.constData(), quint64(utf8.size())) == 0;
}

void verifyNothing(const QString &password)
{
    static const QByteArray dummy = hash(QStringLiteral("no account has this password"));
    (void)verify(dummy, password);
}

} // namespace server::Passwords
