#pragma once

// Reads the members of a zip archive held in memory (stored or deflated), as far as an .xlsx
// file needs: no encryption, no archives split over several files, no zip64.

#include <QByteArray>
#include <QHash>
#include <QString>

namespace lianbu::exchange {

class ZipArchive
{
public:
    // False when the bytes are no zip archive this reader understands.
    bool open(const QByteArray &bytes);
    bool contains(const QString &name) const { return m_entries.contains(name); }
    // The member's bytes; throws lianbu::Error when it is missing or damaged.
    QByteArray read(const QString &name) const;

private:
    struct Entry
    {
        quint16 method = 0;
        quint32 compressedSize = 0;
        quint32 size = 0;
        quint32 localOffset = 0;
    };
    QByteArray m_bytes;
    QHash<QString, Entry> m_entries;
};

} // namespace lianbu::exchange
