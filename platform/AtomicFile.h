#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QIODevice>
#include <QString>

namespace lianbu {

// Replaces (or creates) the file at `path` with `bytes` through a temporary file and an atomic
// rename, so readers see the old file or the whole new one, never a part. With `permissions`
// set, the file has them before it takes its name. False on any failure; the old file is then
// untouched and no temporary file is left.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions = {});

// A file written whole or not at all: the bytes go to a new file beside `path` (same folder, so
// the rename stays on one file system) and take its name only in commit(), after every write
// succeeded, the data is on the disk (fsync) and the file has exactly the size written. A
// failure at any step removes the temporary file and leaves the old file as it was; the first
// system error is kept for the message. Without commit() the destructor discards.
class AtomicFileWriter : public QIODevice
{
public:
    // `permissions`: the new file's; by default an existing file's are kept, and a new file gets
    // the usual ones (umask).
    explicit AtomicFileWriter(const QString &path, QFileDevice::Permissions permissions = {});
    ~AtomicFileWriter() override;
    AtomicFileWriter(const AtomicFileWriter &) = delete;
    AtomicFileWriter &operator=(const AtomicFileWriter &) = delete;

    // Creates the temporary file and opens this device for writing.
    bool open();
    // Syncs, checks, closes and renames; false (and nothing replaced) on any failure.
    bool commit();
    // Removes the temporary file; the old file stays.
    void discard();

    QString fileName() const { return m_path; }
    // The errno of the first failure, 0 when none.
    int systemError() const { return m_error; }
    // "无法写入文件“…”：<reason>" for the operator.
    QString failureText() const;

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    bool fail(int error);

    QString m_path;
    QString m_temporary;
    QFileDevice::Permissions m_permissions;
    int m_fd = -1;
    qint64 m_written = 0;
    int m_error = 0;
};

// Puts `temporary`, a complete file another writer made beside `path`, in place of `path`:
// synced to the disk, given the old file's permissions, renamed. On failure the temporary file
// is removed, the old one stays and `systemError` (when given) receives the errno.
bool placeWrittenFile(const QString &temporary, const QString &path, int *systemError = nullptr);

// A name for a temporary file beside `path` (hidden, random).
QString temporaryNameBeside(const QString &path);

// Why a write failed, in Chinese, from a system error number (ENOSPC: the disk is full, ...).
QString fileWriteReason(int systemError);
// "无法写入文件“<path>”：<reason>"
QString fileWriteFailureText(const QString &path, int systemError);

// Read, write and execute for the owner; read and execute for everyone else.
inline constexpr QFileDevice::Permissions kExecutablePermissions =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
    | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;

} // namespace lianbu
