#pragma once

#include <QString>

// Operator passwords at rest: Argon2id hashes in libsodium's self-describing string format
// ("$argon2id$v=19$m=…,t=…,p=…$salt$hash"), with a fresh random salt per hash. The plain
// passwords of a register written by an older version are hashed when it is upgraded
// (data/RegisterUpgrade.h); from then on a plain value matches nothing.
namespace lianbu::data {

// The hash of `password` (its UTF-8 bytes) at libsodium's interactive limits. Throws
// lianbu::Error when the library cannot work (not initialised, out of memory).
QString hashPassword(const QString &password);

// True when `stored` is a hash this program can verify (an Argon2 string of libsodium).
bool isPasswordHash(const QString &stored);

// True when `password` is the one `stored` stands for (a hash this program can verify); any
// other value matches no password.
bool verifyPassword(const QString &stored, const QString &password);

// As verifyPassword, for a register written by an older version, whose passwords are plain by
// design: a plain value matches the same text (compared in constant time).
bool verifyPasswordOfOlderRegister(const QString &stored, const QString &password);

// True when `stored` should be written again as a new hash: a plain value, or a hash made with
// other limits than the current ones.
bool needsRehash(const QString &stored);

} // namespace lianbu::data
