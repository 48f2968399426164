#include "export/XlsReader.h"

#include "export/XlsxFormat.h"
#include "platform/Error.h"
#include "platform/Gbk.h"

#include <QFile>
#include <QHash>
#include <QtEndian>

#include <freexl.h>

#include <cmath>
#include <cstring>
#include <map>

namespace lianbu::exchange {

namespace {

const QByteArray kCompoundSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);

QString numberText(double value)
{
    if (!std::isfinite(value))
        return QString::number(value);
    if (value == double(qint64(value)) && value > -1e15 && value < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', 15);
}

[[noreturn]] void damaged(const QString &detail)
{
    throw Error(QStringLiteral("无法读取 .xls 文件：%1").arg(detail));
}

void putCell(std::map<int, QStringList> &rows, int row, int column, const QString &text, ReadBudget *budget = nullptr)
{
    QStringList &cells = rows[row];
    if (budget)
        budget->addCell(row + 1, column, text.size(), std::max<qint64>(0, column - cells.size()));
    while (cells.size() <= column)
        cells.append(QString());
    cells[column] = text;
}

SheetData toSheet(std::map<int, QStringList> &rows)
{
    SheetData sheet;
    for (auto &[row, cells] : rows) {
        bool empty = true;
        for (const QString &cell : cells)
            empty = empty && cell.isEmpty();
        if (!empty)
            sheet.rows.push_back({row + 1, std::move(cells)});
    }
    return sheet;
}

quint32 le32(const QByteArray &b, qint64 at)
{
    return at >= 0 && at + 4 <= b.size() ? qFromLittleEndian<quint32>(b.constData() + at) : 0xFFFFFFFFu;
}

quint16 le16(const QByteArray &b, qint64 at)
{
    return at >= 0 && at + 2 <= b.size() ? qFromLittleEndian<quint16>(b.constData() + at) : 0xFFFFu;
}

// Refuses a workbook whose sheets claim more cells than the budget allows: FreeXL sets aside
// room for all of them as it opens the file.
void checkSheetSizes(const QByteArray &stream, const ReadBudget &budget)
{
    qint64 at = 0;
    while (at + 4 <= stream.size()) {
        const quint16 type = le16(stream, at);
        const quint16 length = le16(stream, at + 2);
        const qint64 data = at + 4;
        if (type == 0x0200 && data + length <= stream.size()) { // DIMENSION
            qint64 rows = 0;
            qint64 columns = 0;
            if (length >= 14) {
                rows = le32(stream, data + 4);
                columns = le16(stream, data + 10);
            } else if (length >= 10) {
                rows = le16(stream, data + 2);
                columns = le16(stream, data + 6);
            }
            budget.checkSheetSize(rows, columns);
        }
        at = data + length;
    }
}

SheetData readCompound(const QString &path, ReadBudget *budget)
{
    const void *handle = nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (freexl_open(name.constData(), &handle) != FREEXL_OK) {
        if (handle)
            freexl_close(handle);
        damaged(QStringLiteral("文件不是 Excel 工作簿，或已损坏"));
    }
    struct Closer
    {
        const void *handle;
        ~Closer() { freexl_close(handle); }
    } closer{handle};

    // FreeXL answers OBFUSCATED or PLAIN here, never 0: only the first means a password.
    unsigned int password = FREEXL_UNKNOWN;
    if (freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK && password == FREEXL_BIFF_OBFUSCATED)
        damaged(QStringLiteral("文件有密码保护"));
    if (freexl_select_active_worksheet(handle, 0) != FREEXL_OK)
        damaged(QStringLiteral("没有工作表"));
    unsigned int rowCount = 0;
    unsigned short columnCount = 0;
    if (freexl_worksheet_dimensions(handle, &rowCount, &columnCount) != FREEXL_OK)
        damaged(QStringLiteral("没有工作表"));

    std::map<int, QStringList> rows;
    for (unsigned int r = 0; r < rowCount; ++r) {
        if (budget)
            budget->checkCancel();
        for (unsigned short c = 0; c < columnCount; ++c) {
            FreeXL_CellValue cell;
            if (freexl_get_cell_value(handle, r, c, &cell) != FREEXL_OK)
                continue;
            QString text;
            switch (cell.type) {
            case FREEXL_CELL_INT:
                text = QString::number(cell.value.int_value);
                break;
            case FREEXL_CELL_DOUBLE:
                text = numberText(cell.value.double_value);
                break;
            case FREEXL_CELL_DATETIME:
                // A date typed without a time is stored at midnight: it shows as the date.
                text = QString::fromUtf8(cell.value.text_value);
                if (text.endsWith(QLatin1String(" 00:00:00")))
                    text.chop(9);
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_TIME:
                text = QString::fromUtf8(cell.value.text_value);
                break;
            default:
                break;
            }
            if (!text.isEmpty())
                putCell(rows, int(r), int(c), text, budget);
        }
    }
    return toSheet(rows);
}

} // namespace

double rkValue(quint32 rk)
{
    const bool hundredths = rk & 1u;
    double value;
    if (rk & 2u) {
        value = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    if (hundredths)
        value /= 100.0;
    return value;
}

QString rkText(quint32 rk)
{
    return numberText(rkValue(rk));
}

QByteArray compoundWorkbookStream(const QByteArray &file)
{
    if (!file.startsWith(kCompoundSignature) || file.size() < 512)
        return {};
    const int shift = le16(file, 0x1E);
    const int miniShift = le16(file, 0x20);
    if (shift < 7 || shift > 16 || miniShift < 2 || miniShift >= shift)
        return {};
    const qint64 sectorSize = qint64(1) << shift;
    const qint64 sectorCount = (file.size() - 512 + sectorSize - 1) / sectorSize;
    auto sectorOffset = [&](quint32 sector) { return (qint64(sector) + 1) * sectorSize; };
    constexpr quint32 kEnd = 0xFFFFFFFE;

    // The allocation table, from the header's list and the chain of list sectors after it.
    std::vector<quint32> fatSectors;
    for (int k = 0; k < 109; ++k) {
        const quint32 sector = le32(file, 0x4C + 4 * k);
        if (sector < sectorCount)
            fatSectors.push_back(sector);
    }
    quint32 difat = le32(file, 0x44);
    for (qint64 steps = 0; difat < sectorCount && steps < sectorCount; ++steps) {
        const qint64 base = sectorOffset(difat);
        for (qint64 k = 0; k < sectorSize / 4 - 1; ++k) {
            const quint32 sector = le32(file, base + 4 * k);
            if (sector < sectorCount)
                fatSectors.push_back(sector);
        }
        difat = le32(file, base + sectorSize - 4);
    }
    std::vector<quint32> fat;
    fat.reserve(std::min<std::size_t>(fatSectors.size() * std::size_t(sectorSize / 4), std::size_t(sectorCount) + 1));
    for (const quint32 sector : fatSectors)
        for (qint64 k = 0; k < sectorSize / 4 && qint64(fat.size()) <= sectorCount; ++k)
            fat.push_back(le32(file, sectorOffset(sector) + 4 * k));

    // A chain of sectors, read whole; a loop or a sector past the end stops it.
    auto chain = [&](quint32 start, const std::vector<quint32> &table, qint64 unit, const QByteArray &source,
                     qint64 firstOffset) {
        QByteArray out;
        quint32 sector = start;
        for (qint64 steps = 0; sector != kEnd && sector < table.size() && steps <= qint64(table.size()); ++steps) {
            const qint64 offset = firstOffset + qint64(sector) * unit;
            if (offset < 0 || offset >= source.size())
                break;
            out.append(source.mid(offset, unit));
            sector = table[sector];
        }
        return out;
    };
    const QByteArray directory = chain(le32(file, 0x30), fat, sectorSize, file, sectorSize);
    QByteArray rootStream;
    quint32 start = kEnd;
    qint64 size = -1;
    for (qint64 entry = 0; entry + 128 <= directory.size(); entry += 128) {
        const int nameBytes = std::min<int>(le16(directory, entry + 0x40), 64);
        const QString name = QString::fromUtf16(reinterpret_cast<const char16_t *>(directory.constData() + entry),
                                                std::max(0, nameBytes / 2 - 1));
        const int type = uchar(directory.at(entry + 0x42));
        if (type == 5 && entry == 0)
            rootStream = chain(le32(directory, entry + 0x74), fat, sectorSize, file, sectorSize);
        if (type == 2 && (name == QLatin1String("Workbook") || (name == QLatin1String("Book") && size < 0))) {
            start = le32(directory, entry + 0x74);
            size = le32(directory, entry + 0x78);
        }
    }
    if (size < 0)
        return {};
    QByteArray stream;
    if (size < le32(file, 0x38)) {
        // Small streams live in the mini stream, with a table of their own.
        const QByteArray miniTable = chain(le32(file, 0x3C), fat, sectorSize, file, sectorSize);
        std::vector<quint32> miniFat(std::size_t(miniTable.size() / 4));
        for (std::size_t k = 0; k < miniFat.size(); ++k)
            miniFat[k] = le32(miniTable, qint64(k) * 4);
        stream = chain(start, miniFat, qint64(1) << miniShift, rootStream, 0);
    } else {
        stream = chain(start, fat, sectorSize, file, sectorSize);
    }
    stream.truncate(size);
    return stream;
}

namespace {

// The number formats of a record stream that has them (other programs' files): which cell
// formats show a date, so a date cell reads as the date it shows rather than its serial number.
struct BiffFormats
{
    QHash<int, QString> codes;    // FORMAT: number format id -> code
    std::vector<int> cellFormats; // XF, in order: number format id of each cell format
    bool date1904 = false;

    // The text of a number in cell format `xf`.
    QString text(double value, int xf) const
    {
        if (xf < 0 || std::size_t(xf) >= cellFormats.size())
            return numberText(value);
        const int id = cellFormats[std::size_t(xf)];
        const QString code = codes.value(id);
        if (!isDateFormat(id, code))
            return numberText(value);
        const bool withTime = id == 22 || code.contains(QLatin1Char('h'), Qt::CaseInsensitive)
                              || code.contains(QLatin1Char('s'), Qt::CaseInsensitive);
        const QString date = serialDateText(value, date1904, withTime);
        return date.isEmpty() ? numberText(value) : date;
    }
};

// A FORMAT record's code: BIFF8 (16-bit length, flags, 8- or 16-bit characters) or BIFF5
// (8-bit length, text in the file's code page).
QString formatCode(const char *data, int length, bool utf16Page)
{
    if (length >= 5) {
        const int count = qFromLittleEndian<quint16>(data + 2);
        const bool wide = uchar(data[4]) & 1;
        if (length >= 5 + count * (wide ? 2 : 1)) {
            if (wide) {
                QString code(count, Qt::Uninitialized);
                for (int i = 0; i < count; ++i)
                    code[i] = QChar(qFromLittleEndian<quint16>(data + 5 + 2 * i));
                return code;
            }
            return QString::fromLatin1(data + 5, count);
        }
    }
    if (length >= 3) {
        const int count = std::min<int>(uchar(data[2]), length - 3);
        const QByteArray text(data + 3, count);
        return utf16Page ? QString::fromLatin1(text) : gbk::decode(text);
    }
    return {};
}

} // namespace

SheetData readBiffStream(const QByteArray &bytes, ReadBudget *budget)
{
    std::map<int, QStringList> rows;
    BiffFormats formats;
    bool utf16 = false;
    qsizetype at = 0;
    bool begun = false;
    while (at + 4 <= bytes.size()) {
        const quint16 type = qFromLittleEndian<quint16>(bytes.constData() + at);
        const quint16 length = qFromLittleEndian<quint16>(bytes.constData() + at + 2);
        const char *data = bytes.constData() + at + 4;
        if (at + 4 + length > bytes.size())
            damaged(QStringLiteral("文件在第 %1 字节处被截断").arg(at));
        auto u16 = [&](int offset) { return qFromLittleEndian<quint16>(data + offset); };
        if (!begun && type != 0x0809)
            damaged(QStringLiteral("文件不是 Excel 表格"));
        switch (type) {
        case 0x0809: // BOF
            begun = true;
            break;
        case 0x0042: // CODEPAGE
            if (length >= 2)
                utf16 = u16(0) == 1200;
            break;
        case 0x0204: // LABEL
            if (length >= 8) {
                const int n = u16(6);
                if (8 + n > length)
                    damaged(QStringLiteral("第 %1 行的文字长度不对").arg(u16(0) + 1));
                const QByteArray text(data + 8, n);
                putCell(rows, u16(0), u16(2),
                        utf16 ? QString::fromUtf16(reinterpret_cast<const char16_t *>(text.constData()), n / 2)
                              : gbk::decode(text),
                        budget);
            }
            break;
        case 0x041E: // FORMAT
            if (length >= 2)
                formats.codes.insert(u16(0), formatCode(data, length, utf16));
            break;
        case 0x00E0:                                              // XF
            if (length >= 4 && formats.cellFormats.size() < 4050) // the most a workbook may hold
                formats.cellFormats.push_back(u16(2));
            break;
        case 0x0022: // DATEMODE
            if (length >= 2)
                formats.date1904 = u16(0) == 1;
            break;
        case 0x0203: // NUMBER
            if (length >= 14) {
                double value;
                const quint64 bits = qFromLittleEndian<quint64>(data + 6);
                std::memcpy(&value, &bits, sizeof value);
                putCell(rows, u16(0), u16(2), formats.text(value, u16(4)), budget);
            }
            break;
        case 0x027E: // RK
            if (length >= 10) {
                const quint32 rk = qFromLittleEndian<quint32>(data + 6);
                putCell(rows, u16(0), u16(2), formats.text(rkValue(rk), u16(4)), budget);
            }
            break;
        case 0x0201: // BLANK
            if (length >= 6)
                putCell(rows, u16(0), u16(2), QString(), budget);
            break;
        case 0x000A: // EOF
            return toSheet(rows);
        default:
            break; // records this reader has no use for
        }
        at += 4 + length;
    }
    if (!begun)
        damaged(QStringLiteral("文件不是 Excel 表格"));
    // A stream without its end record: what was read stands.
    return toSheet(rows);
}

SheetData readXls(const QString &path, ReadBudget *budget)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("无法打开文件：%1").arg(file.errorString()));
    if (budget)
        budget->checkFileSize(file.size());
    const QByteArray bytes = file.readAll();
    file.close();
    if (bytes.startsWith(kCompoundSignature)) {
        if (budget) {
            const QByteArray stream = compoundWorkbookStream(bytes);
            if (stream.isEmpty())
                damaged(QStringLiteral("文件不是 Excel 工作簿，或已损坏"));
            checkSheetSizes(stream, *budget);
        }
        return readCompound(path, budget);
    }
    return readBiffStream(bytes, budget);
}

} // namespace lianbu::exchange
