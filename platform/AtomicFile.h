#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

namespace lianbu {

// Replaces (or creates) the file at `path` with `bytes` through a temporary file and an atomic
// rename, so readers see the old file or the whole new one, never a part. With `permissions`
// set, the file has them before it takes its name. False on any failure; the old file is then
// untouched and no temporary file is left.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions = {});

// Read, write and execute for the owner; read and execute for everyone else.
inline constexpr QFileDevice::Permissions kExecutablePermissions =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
    | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;

} // namespace lianbu
