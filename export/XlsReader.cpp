#include "export/XlsReader.h"

#include "platform/Error.h"
#include "platform/Gbk.h"

#include <QFile>
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

void putCell(std::map<int, QStringList> &rows, int row, int column, const QString &text)
{
    QStringList &cells = rows[row];
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

SheetData readCompound(const QString &path)
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
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME:
                text = QString::fromUtf8(cell.value.text_value);
                break;
            default:
                break;
            }
            if (!text.isEmpty())
                putCell(rows, int(r), int(c), text);
        }
    }
    return toSheet(rows);
}

} // namespace

QString rkText(quint32 rk)
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
    return numberText(value);
}

SheetData readBiffStream(const QByteArray &bytes)
{
    std::map<int, QStringList> rows;
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
                              : gbk::decode(text));
            }
            break;
        case 0x0203: // NUMBER
            if (length >= 14) {
                double value;
                const quint64 bits = qFromLittleEndian<quint64>(data + 6);
                std::memcpy(&value, &bits, sizeof value);
                putCell(rows, u16(0), u16(2), numberText(value));
            }
            break;
        case 0x027E: // RK
            if (length >= 10)
                putCell(rows, u16(0), u16(2), rkText(qFromLittleEndian<quint32>(data + 6)));
            break;
        case 0x0201: // BLANK
            if (length >= 6)
                putCell(rows, u16(0), u16(2), QString());
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

SheetData readXls(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("无法打开文件：%1").arg(file.errorString()));
    const QByteArray head = file.peek(8);
    if (head == kCompoundSignature) {
        file.close();
        return readCompound(path);
    }
    return readBiffStream(file.readAll());
}

} // namespace lianbu::exchange
