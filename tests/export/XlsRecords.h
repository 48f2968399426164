#pragma once

// Reads a BIFF record stream back into records, so tests can compare what the writer wrote
// record by record.

#include "platform/Gbk.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtEndian>

#include <cstring>

namespace lianbu::test {

struct XlsRecord
{
    quint16 type = 0;
    QByteArray data; // the bytes after the length

    quint16 u16(int offset) const { return qFromLittleEndian<quint16>(data.constData() + offset); }
    int row() const { return u16(0); }
    int column() const { return u16(2); }
    int xf() const { return u16(4); }
    bool isCell() const { return type == 0x0204 || type == 0x0203 || type == 0x027E || type == 0x0201; }
    // LABEL: the text bytes as GBK, decoded.
    QByteArray labelBytes() const { return data.mid(8, u16(6)); }
    QString text() const { return gbk::decode(labelBytes()); }
    double number() const
    {
        const quint64 bits = qFromLittleEndian<quint64>(data.constData() + 6);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    qint32 rkInteger() const { return qint32(qFromLittleEndian<quint32>(data.constData() + 6)) >> 2; }
    QString kind() const
    {
        switch (type) {
        case 0x0809:
            return QStringLiteral("BOF");
        case 0x0042:
            return QStringLiteral("CODEPAGE%1").arg(u16(0));
        case 0x000A:
            return QStringLiteral("EOF");
        case 0x0204:
            return QStringLiteral("LABEL");
        case 0x0203:
            return QStringLiteral("NUMBER");
        case 0x027E:
            return QStringLiteral("RK");
        case 0x0201:
            return QStringLiteral("BLANK");
        default:
            return QStringLiteral("?%1").arg(type, 4, 16, QLatin1Char('0'));
        }
    }
    // "LABEL(2,1)Y", "BLANK(4,2)", "RK(3,0)5", "BOF"
    QString describe() const
    {
        if (!isCell())
            return kind();
        QString out = QStringLiteral("%1(%2,%3)").arg(kind()).arg(row()).arg(column());
        if (type == 0x0204)
            out += text();
        else if (type == 0x0203)
            out += QString::number(number());
        else if (type == 0x027E)
            out += QString::number(rkInteger());
        return out;
    }
};

// Splits the stream; `ok` is false when a record runs past the end.
inline QList<XlsRecord> readXlsRecords(const QByteArray &bytes, bool *ok = nullptr)
{
    QList<XlsRecord> records;
    qsizetype at = 0;
    bool good = true;
    while (at < bytes.size()) {
        if (at + 4 > bytes.size()) {
            good = false;
            break;
        }
        XlsRecord record;
        record.type = qFromLittleEndian<quint16>(bytes.constData() + at);
        const quint16 length = qFromLittleEndian<quint16>(bytes.constData() + at + 2);
        if (at + 4 + length > bytes.size()) {
            good = false;
            break;
        }
        record.data = bytes.mid(at + 4, length);
        records.append(record);
        at += 4 + length;
    }
    if (ok)
        *ok = good;
    return records;
}

inline QStringList describeAll(const QList<XlsRecord> &records)
{
    QStringList out;
    for (const XlsRecord &record : records)
        out << record.describe();
    return out;
}

} // namespace lianbu::test
