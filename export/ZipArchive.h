#pragma once

// Reads the members of a zip archive held in memory (stored or deflated), as far as an .xlsx
// file needs: no encryption, no archives split over several files, no zip64.

#include "export/ReadLimits.h"

#include <QByteArray>
#include <QHash>
#include <QIODevice>
#include <QString>

#include <memory>

namespace lianbu::exchange {

class ZipMemberReader;

class ZipArchive
{
public:
    // False when the bytes are no zip archive this reader understands.
    bool open(const QByteArray &bytes);
    bool contains(const QString &name) const { return m_entries.contains(name); }
    // The member's bytes; throws lianbu::Error when it is missing or damaged, or when it would
    // unpack to more than the budget allows (checked before anything is unpacked, and the
    // unpacking never writes past the size the archive gave).
    QByteArray read(const QString &name, const ReadBudget *budget = nullptr) const;
    // The member as a device that unpacks as it is read, so a large member never sits in memory
    // unpacked. Same checks as read(); a member that turns out damaged while it is read ends the
    // device early and sets failed().
    std::unique_ptr<ZipMemberReader> stream(const QString &name, const ReadBudget *budget = nullptr) const;

private:
    struct Entry
    {
        quint16 method = 0;
        quint32 compressedSize = 0;
        quint32 size = 0;
        quint32 localOffset = 0;
    };
    // Where the member's data starts in the archive; throws when it is missing or damaged.
    const Entry &locate(const QString &name, qint64 *data) const;
    QByteArray m_bytes;
    QHash<QString, Entry> m_entries;
};

class ZipMemberReader final : public QIODevice
{
public:
    ZipMemberReader(const char *source, qint64 compressedSize, qint64 size, int method);
    ~ZipMemberReader() override;
    bool isSequential() const override { return true; }
    // The data were damaged, or unpacked to more or less than the archive said.
    bool failed() const { return m_failed; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    struct Inflater;
    std::unique_ptr<Inflater> m_inflater;
    const char *m_source;
    qint64 m_compressedSize;
    qint64 m_size;
    int m_method;
    qint64 m_produced = 0;
    bool m_finished = false;
    bool m_failed = false;
};

} // namespace lianbu::exchange
