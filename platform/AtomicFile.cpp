#include "platform/AtomicFile.h"

#include <QSaveFile>

namespace lianbu {

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    if (permissions && !out.setPermissions(permissions)) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace lianbu
