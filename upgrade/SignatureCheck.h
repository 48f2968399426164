#pragma once

// Detached signatures in the format of the minisign tool: the publisher signs the information
// file and every listed file with "minisign -S", and the program accepts them only when the
// signature was made by the key built into it.
//
// Public key text: the base64 line of a minisign public key file ("RWQ..."), optionally with
// the file's "untrusted comment:" line before it. Signature file (<file>.minisig):
//     untrusted comment: <anything>
//     <base64: algorithm "Ed" or "ED", key id (8 bytes), Ed25519 signature (64 bytes)>
//     trusted comment: <text>
//     <base64: Ed25519 signature of the first signature followed by the trusted comment>
// "Ed" signs the file itself, "ED" (minisign's default) signs its BLAKE2b-512 hash.

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace lianbu::upgrade {

struct PublicKey
{
    std::array<unsigned char, 8> keyId{};
    std::array<unsigned char, 32> key{};
};

// Reads a public key from its text form; nullopt when the text holds none.
std::optional<PublicKey> parsePublicKey(const QString &text);
// The key's id as minisign prints it (upper-case hexadecimal, last byte first, no leading zeros).
QString keyIdText(const PublicKey &key);

enum class SignatureResult {
    Valid,
    Malformed,        // not a signature file
    UnknownKey,       // made by another key
    BadSignature,     // the file was changed after signing
    BadTrustedComment // the trusted comment was changed (or the global signature does not fit)
};

struct Verification
{
    SignatureResult result = SignatureResult::Malformed;
    QString trustedComment; // set when the result is Valid
};

// Checks the signature file text against data and key.
Verification verifySignature(const QByteArray &data, const QByteArray &signatureFile, const PublicKey &key);
// The same for a file on disk, read in blocks (listed files can be large). A file that cannot be
// read counts as BadSignature.
Verification verifyFileSignature(const QString &path, const QByteArray &signatureFile, const PublicKey &key);

// A short English explanation for the log.
QString signatureResultText(SignatureResult result);

// A signature file is never large; anything bigger is not one.
inline constexpr qsizetype kMaxSignatureFileSize = 4096;

} // namespace lianbu::upgrade
