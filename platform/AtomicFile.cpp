#include "platform/AtomicFile.h"

#include <QSaveFile>

namespace lianbu {

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    // The permissions first: a file only its owner may read (a password file) never holds its
    // bytes under looser ones, not even under the temporary name.
    if (permissions && !out.setPermissions(permissions)) {
        out.cancelWriting();
        return false;
    }
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace lianbu
