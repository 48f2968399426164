#include "data/PasswordHash.h"

#include "platform/Error.h"

#include <sodium.h>

#include <QByteArray>

namespace lianbu::data {

namespace {

constexpr unsigned long long kOpsLimit = crypto_pwhash_OPSLIMIT_INTERACTIVE;
constexpr size_t kMemLimit = crypto_pwhash_MEMLIMIT_INTERACTIVE;

void requireSodium()
{
    // sodium_init() is safe to call from several threads and more than once.
    static const int state = sodium_init();
    if (state < 0)
        throw Error(QStringLiteral("The password library could not be initialised."));
}

} // namespace

QString hashPassword(const QString &password)
{
    requireSodium();
    const QByteArray bytes = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(out, bytes.constData(), static_cast<unsigned long long>(bytes.size()), kOpsLimit,
                              kMemLimit, crypto_pwhash_ALG_ARGON2ID13)
        != 0)
        throw Error(QStringLiteral("Not enough memory to protect the password."));
    return QString::fromLatin1(out);
}

bool isPasswordHash(const QString &stored)
{
    return stored.startsWith(QLatin1String("$argon2id$")) || stored.startsWith(QLatin1String("$argon2i$"));
}

bool verifyPassword(const QString &stored, const QString &password)
{
    if (!isPasswordHash(stored))
        return false; // a plain value written into the register by someone else
    requireSodium();
    const QByteArray hash = stored.toLatin1();
    if (hash.size() >= crypto_pwhash_STRBYTES)
        return false; // longer than any string the library writes: not one of ours
    const QByteArray bytes = password.toUtf8();
    return crypto_pwhash_str_verify(hash.constData(), bytes.constData(), static_cast<unsigned long long>(bytes.size()))
           == 0;
}

bool verifyPasswordOfOlderRegister(const QString &stored, const QString &password)
{
    if (isPasswordHash(stored))
        return verifyPassword(stored, password);
    requireSodium();
    const QByteArray plain = stored.toUtf8();
    const QByteArray typed = password.toUtf8();
    return plain.size() == typed.size()
           && sodium_memcmp(plain.constData(), typed.constData(), static_cast<size_t>(plain.size())) == 0;
}

bool needsRehash(const QString &stored)
{
    // New hashes are Argon2id; an Argon2i string is written again whatever its limits.
    if (!stored.startsWith(QLatin1String("$argon2id$")))
        return true;
    requireSodium();
    const QByteArray hash = stored.toLatin1();
    if (hash.size() >= crypto_pwhash_STRBYTES)
        return true;
    return crypto_pwhash_str_needs_rehash(hash.constData(), kOpsLimit, kMemLimit) != 0;
}

} // namespace lianbu::data
