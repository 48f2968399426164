#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lianbu {

namespace {

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
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

mode_t modeOf(QFileDevice::Permissions permissions)
{
    mode_t mode = 0;
    const std::pair<QFileDevice::Permission, mode_t> bits[] = {
        {QFileDevice::ReadOwner, S_IRUSR}, {QFileDevice::WriteOwner, S_IWUSR}, {QFileDevice::ExeOwner, S_IXUSR},
        {QFileDevice::ReadGroup, S_IRGRP}, {QFileDevice::WriteGroup, S_IWGRP}, {QFileDevice::ExeGroup, S_IXGRP},
        {QFileDevice::ReadOther, S_IROTH}, {QFileDevice::WriteOther, S_IWOTH}, {QFileDevice::ExeOther, S_IXOTH}};
    for (const auto &[permission, bit] : bits)
        if (permissions.testFlag(permission))
            mode |= bit;
    return mode;
}

// The mode the replaced file had, or -1 for a new file.
int existingMode(const QString &path)
{
    struct stat status
    {};
    if (::stat(encoded(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    return int(status.st_mode & 07777);
}

void syncFolderOf(const QString &path)
{
    // The rename itself is on the disk only once the folder is.
    const int folder = ::open(encoded(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

// fsync, permissions, close and rename of a complete file open as `fd`; the errno, or 0.
int finish(int fd, const QString &temporary, const QString &target, qint64 expectedSize, int mode)
{
    int error = 0;
    struct stat status
    {};
    if (::fsync(fd) != 0)
        error = errno;
    else if (::fstat(fd, &status) != 0)
        error = errno;
    else if (expectedSize >= 0 && status.st_size != expectedSize)
        error = EIO;
    else if (mode >= 0 && ::fchmod(fd, mode_t(mode)) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && std::rename(encoded(temporary).constData(), encoded(target).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(encoded(temporary).constData());
        return error;
    }
    syncFolderOf(target);
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
    case EDQUOT:
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
        m_fd = ::open(encoded(m_temporary).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                      m_permissions ? S_IRUSR | S_IWUSR : 0666);
        if (m_fd >= 0 || errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        m_error = errno;
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
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd, data + done, size_t(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
            return -1;
        }
        if (n == 0) {
            fail(EIO);
            return -1;
        }
        done += n;
    }
    m_written += done;
    return done;
}

bool AtomicFileWriter::commit()
{
    if (m_fd < 0)
        return fail(m_error != 0 ? m_error : EBADF);
    const int fd = m_fd;
    m_fd = -1;
    QIODevice::close();
    if (m_error != 0) {
        ::close(fd);
        ::unlink(encoded(m_temporary).constData());
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
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlink(encoded(m_temporary).constData());
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
    const int fd = ::open(encoded(temporary).constData(), O_RDONLY | O_CLOEXEC);
    int error = 0;
    if (fd < 0) {
        error = errno;
        ::unlink(encoded(temporary).constData());
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
