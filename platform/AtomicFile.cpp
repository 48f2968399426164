#include "platform/AtomicFile.h"

#include "platform/SystemFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

namespace lianbu {

namespace {

// The system's file names are UTF-8 (Qt's own assumption on POSIX systems; SystemFiles turns
// them into the wide names of Windows).
std::string encoded(const QString &path)
{
    return path.toUtf8().toStdString();
}

// A symbolic link is followed: the file it names is replaced, the link stays.
QString resolvedTarget(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink()) {
        const QString target = info.symLinkTarget();
        if (!target.isEmpty())
            return target;
    }
    return info.absoluteFilePath();
}

int modeOf(QFileDevice::Permissions permissions)
{
    int mode = 0;
    const std::pair<QFileDevice::Permission, int> bits[] = {
        {QFileDevice::ReadOwner, 0400}, {QFileDevice::WriteOwner, 0200}, {QFileDevice::ExeOwner, 0100},
        {QFileDevice::ReadGroup, 0040}, {QFileDevice::WriteGroup, 0020}, {QFileDevice::ExeGroup, 0010},
        {QFileDevice::ReadOther, 0004}, {QFileDevice::WriteOther, 0002}, {QFileDevice::ExeOther, 0001}};
    for (const auto &[permission, bit] : bits)
        if (permissions.testFlag(permission))
            mode |= bit;
    return mode;
}

// The mode the replaced file had, or -1 for a new file.
int existingMode(const QString &path)
{
    return files::modeOf(encoded(path));
}

// fsync, permissions, close and rename of a complete file open as `fd`; the errno, or 0.
int finish(int fd, const QString &temporary, const QString &target, qint64 expectedSize, int mode)
{
    long long size = 0;
    int error = files::syncFile(fd, &size);
    if (error == 0 && expectedSize >= 0 && size != expectedSize)
        error = EIO;
    if (error == 0 && mode >= 0)
        error = files::setMode(fd, mode);
    const int closed = files::closeFile(fd);
    if (error == 0)
        error = closed;
    if (error == 0)
        error = files::replaceFile(encoded(temporary), encoded(target));
    if (error != 0) {
        files::removeFile(encoded(temporary));
        return error;
    }
    files::syncFolderOf(encoded(target));
    return 0;
}

} // namespace

QString temporaryNameBeside(const QString &path)
{
    const QFileInfo target(path);
    return target.absolutePath()
           + QStringLiteral("/.%1.%2.tmp")
                 .arg(target.fileName())
                 .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

QString fileWriteReason(int systemError)
{
    switch (systemError) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return QStringLiteral("磁盘已满。请腾出磁盘空间后再试。");
    case EFBIG:
        return QStringLiteral("文件超出了系统允许的大小。");
    case EROFS:
        return QStringLiteral("磁盘是只读的。请换一个文件夹。");
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入这个文件或文件夹的权限。请换一个文件夹。");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("文件夹不存在。");
    case EIO:
        return QStringLiteral("磁盘读写出错，写入的文件不完整。");
    default:
        return QStringLiteral("系统报告：%1。").arg(QString::fromLocal8Bit(std::strerror(systemError)));
    }
}

QString fileWriteFailureText(const QString &path, int systemError)
{
    return QStringLiteral("无法写入文件“%1”：%2原来的文件没有改变。")
        .arg(QDir::toNativeSeparators(path), fileWriteReason(systemError));
}

AtomicFileWriter::AtomicFileWriter(const QString &path, QFileDevice::Permissions permissions)
    : m_path(path)
    , m_permissions(permissions)
{}

AtomicFileWriter::~AtomicFileWriter()
{
    discard();
}

bool AtomicFileWriter::open()
{
    if (isOpen())
        return false;
    m_error = 0;
    m_written = 0;
    const QString target = resolvedTarget(m_path);
    for (int attempt = 0; attempt < 16; ++attempt) {
        m_temporary = temporaryNameBeside(target);
        // A file only its owner may read (a password file) never holds its bytes under looser
        // permissions, not even under the temporary name.
        m_fd = files::createNew(encoded(m_temporary), bool(m_permissions));
        if (m_fd >= 0 || m_fd != -EEXIST)
            break;
    }
    if (m_fd < 0) {
        m_error = -m_fd;
        m_fd = -1;
        m_temporary.clear();
        return false;
    }
    QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    return true;
}

bool AtomicFileWriter::fail(int error)
{
    if (m_error == 0)
        m_error = error;
    // Writers that report errorString() name the file and say why in Chinese.
    setErrorString(fileWriteFailureText(m_path, error));
    return false;
}

qint64 AtomicFileWriter::readData(char *, qint64)
{
    return -1;
}

qint64 AtomicFileWriter::writeData(const char *data, qint64 size)
{
    // After a failure nothing more is written: the file is already lost.
    if (m_fd < 0 || m_error != 0)
        return -1;
    const int error = files::writeAll(m_fd, data, std::size_t(size));
    if (error != 0) {
        fail(error);
        return -1;
    }
    m_written += size;
    return size;
}

bool AtomicFileWriter::commit()
{
    if (m_fd < 0)
        return fail(m_error != 0 ? m_error : EBADF);
    const int fd = m_fd;
    m_fd = -1;
    QIODevice::close();
    if (m_error != 0) {
        files::closeFile(fd);
        files::removeFile(encoded(m_temporary));
        m_temporary.clear();
        return false;
    }
    const QString target = resolvedTarget(m_path);
    const int mode = m_permissions ? int(modeOf(m_permissions)) : existingMode(target);
    const int error = finish(fd, m_temporary, target, m_written, mode);
    m_temporary.clear();
    return error == 0 || fail(error);
}

void AtomicFileWriter::discard()
{
    if (m_fd >= 0) {
        files::closeFile(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        files::removeFile(encoded(m_temporary));
        m_temporary.clear();
    }
    if (isOpen())
        QIODevice::close();
}

QString AtomicFileWriter::failureText() const
{
    return fileWriteFailureText(m_path, m_error != 0 ? m_error : EIO);
}

bool placeWrittenFile(const QString &temporary, const QString &path, int *systemError)
{
    const QString target = resolvedTarget(path);
    const int fd = files::openForSyncing(encoded(temporary));
    int error = 0;
    if (fd < 0) {
        error = -fd;
        files::removeFile(encoded(temporary));
    } else {
        error = finish(fd, temporary, target, -1, existingMode(target));
    }
    if (systemError)
        *systemError = error;
    return error == 0;
}

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions)
{
    AtomicFileWriter out(path, permissions);
    if (!out.open())
        return false;
    if (out.write(bytes) != bytes.size())
        return false;
    return out.commit();
}

} // namespace lianbu
