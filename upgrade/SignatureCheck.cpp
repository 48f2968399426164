#include "upgrade/SignatureCheck.h"

#include <QFile>
#include <QList>

#include <sodium.h>

#include <cstring>

namespace lianbu::upgrade {

namespace {

constexpr qsizetype kSignatureBytes = 2 + 8 + crypto_sign_BYTES;
// Files signed without the hash ("Ed") must be verified whole, in memory; larger ones are refused
// rather than loaded. minisign signs with the hash by default.
constexpr qint64 kMaxUnhashedFileSize = 64LL * 1024 * 1024;

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// Strict base64: the whole text must decode.
std::optional<QByteArray> decodeBase64(const QByteArray &text)
{
    const auto decoded = QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return decoded.decoded;
}

QList<QByteArray> lines(const QByteArray &text)
{
    QList<QByteArray> result;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        result << line;
    }
    while (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

struct ParsedSignature
{
    bool hashed = false;
    std::array<unsigned char, 8> keyId{};
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    QByteArray trustedComment;
    std::array<unsigned char, crypto_sign_BYTES> globalSignature{};
};

std::optional<ParsedSignature> parseSignatureFile(const QByteArray &file)
{
    if (file.size() > kMaxSignatureFileSize)
        return std::nullopt;
    const QList<QByteArray> l = lines(file);
    static const QByteArray untrusted = "untrusted comment:";
    static const QByteArray trusted = "trusted comment: ";
    if (l.size() != 4 || !l[0].startsWith(untrusted) || !l[2].startsWith(trusted))
        return std::nullopt;
    const auto sig = decodeBase64(l[1]);
    const auto global = decodeBase64(l[3]);
    if (!sig || !global || sig->size() != kSignatureBytes || global->size() != crypto_sign_BYTES)
        return std::nullopt;
    ParsedSignature parsed;
    // Only prehashed signatures: the legacy kind's algorithm bytes are covered by nothing, so a
    // relabelled prehashed signature would pass a signed 64-byte hash off as a file.
    if (!sig->startsWith("ED"))
        return std::nullopt;
    parsed.hashed = true;
    std::memcpy(parsed.keyId.data(), sig->constData() + 2, 8);
    std::memcpy(parsed.signature.data(), sig->constData() + 10, crypto_sign_BYTES);
    parsed.trustedComment = l[2].mid(trusted.size());
    std::memcpy(parsed.globalSignature.data(), global->constData(), crypto_sign_BYTES);
    return parsed;
}

bool verifyDetached(const unsigned char *signature, const unsigned char *message, std::size_t length,
                    const PublicKey &key)
{
    return crypto_sign_verify_detached(signature, message, length, key.key.data()) == 0;
}

// The parts common to data in memory and files: everything but the message check.
Verification finish(const ParsedSignature &sig, bool messageValid, const PublicKey &key)
{
    Verification v;
    if (!messageValid) {
        v.result = SignatureResult::BadSignature;
        return v;
    }
    QByteArray signedComment(reinterpret_cast<const char *>(sig.signature.data()), crypto_sign_BYTES);
    signedComment += sig.trustedComment;
    if (!verifyDetached(sig.globalSignature.data(), reinterpret_cast<const unsigned char *>(signedComment.constData()),
                        std::size_t(signedComment.size()), key)) {
        v.result = SignatureResult::BadTrustedComment;
        return v;
    }
    v.result = SignatureResult::Valid;
    v.trustedComment = QString::fromUtf8(sig.trustedComment);
    return v;
}

std::optional<ParsedSignature> checkedSignature(const QByteArray &signatureFile, const PublicKey &key,
                                                Verification &failure)
{
    failure = {};
    if (!sodiumReady())
        return std::nullopt;
    auto sig = parseSignatureFile(signatureFile);
    if (!sig) {
        failure.result = SignatureResult::Malformed;
        return std::nullopt;
    }
    if (sig->keyId != key.keyId) {
        failure.result = SignatureResult::UnknownKey;
        return std::nullopt;
    }
    return sig;
}

} // namespace

std::optional<PublicKey> parsePublicKey(const QString &text)
{
    QList<QByteArray> l = lines(text.toUtf8().trimmed());
    if (!l.isEmpty() && l.first().startsWith("untrusted comment:"))
        l.removeFirst();
    if (l.size() != 1)
        return std::nullopt;
    const auto bytes = decodeBase64(l.first());
    if (!bytes || bytes->size() != 2 + 8 + 32 || !bytes->startsWith("Ed"))
        return std::nullopt;
    PublicKey key;
    std::memcpy(key.keyId.data(), bytes->constData() + 2, 8);
    std::memcpy(key.key.data(), bytes->constData() + 10, 32);
    return key;
}

QString keyIdText(const PublicKey &key)
{
    // minisign prints the little-endian id as a number: no leading zeros.
    quint64 id = 0;
    for (int i = 7; i >= 0; --i)
        id = (id << 8) | quint64(key.keyId[std::size_t(i)]);
    return QString::number(id, 16).toUpper();
}

Verification verifySignature(const QByteArray &data, const QByteArray &signatureFile, const PublicKey &key)
{
    Verification failure;
    const auto sig = checkedSignature(signatureFile, key, failure);
    if (!sig)
        return failure;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    bool valid = false;
    if (sig->hashed) {
        std::array<unsigned char, crypto_generichash_BYTES_MAX> hash{};
        crypto_generichash(hash.data(), hash.size(), bytes, std::size_t(data.size()), nullptr, 0);
        valid = verifyDetached(sig->signature.data(), hash.data(), hash.size(), key);
    } else {
        valid = verifyDetached(sig->signature.data(), bytes, std::size_t(data.size()), key);
    }
    return finish(*sig, valid, key);
}

Verification verifyFileSignature(const QString &path, const QByteArray &signatureFile, const PublicKey &key)
{
    Verification failure;
    const auto sig = checkedSignature(signatureFile, key, failure);
    if (!sig)
        return failure;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return finish(*sig, false, key);
    if (!sig->hashed) {
        if (file.size() > kMaxUnhashedFileSize)
            return finish(*sig, false, key);
        const QByteArray all = file.readAll();
        return finish(*sig,
                      verifyDetached(sig->signature.data(), reinterpret_cast<const unsigned char *>(all.constData()),
                                     std::size_t(all.size()), key),
                      key);
    }
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX);
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(block.data(), block.size());
        if (n < 0)
            return finish(*sig, false, key);
        if (n == 0)
            break;
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(block.constData()), std::size_t(n));
    }
    std::array<unsigned char, crypto_generichash_BYTES_MAX> hash{};
    crypto_generichash_final(&state, hash.data(), hash.size());
    return finish(*sig, verifyDetached(sig->signature.data(), hash.data(), hash.size(), key), key);
}

QString signatureResultText(SignatureResult result)
{
    switch (result) {
    case SignatureResult::Valid:
        return QStringLiteral("valid signature");
    case SignatureResult::Malformed:
        return QStringLiteral("missing or malformed signature");
    case SignatureResult::UnknownKey:
        return QStringLiteral("signed with a key this program does not trust");
    case SignatureResult::BadSignature:
        return QStringLiteral("signature does not match the file");
    case SignatureResult::BadTrustedComment:
        return QStringLiteral("trusted comment does not match its signature");
    }
    return {};
}

} // namespace lianbu::upgrade
