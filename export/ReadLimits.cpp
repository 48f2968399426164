#include "export/ReadLimits.h"

#include "platform/Error.h"

namespace lianbu::exchange {

namespace {

QString megabytes(qint64 bytes)
{
    return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024));
}

// A cell in a list of strings: the string itself and its characters with the block's header.
constexpr qint64 kCellBytes = 24;
constexpr qint64 kTextHeaderBytes = 40; // with the allocator's own share

} // namespace

QString limitText(const QString &what)
{
    return QStringLiteral("文件超出导入的限制：%1。请把文件分成几个较小的文件再导入。").arg(what);
}

ReadBudget::ReadBudget(const ReadLimits &limits, const std::atomic<bool> *cancel)
    : m_limits(limits)
    , m_cancel(cancel)
{}

void ReadBudget::checkFileSize(qint64 bytes) const
{
    if (bytes > m_limits.fileBytes)
        throw Error(limitText(QStringLiteral("文件最大 %1，这个文件有 %2")
                                  .arg(megabytes(m_limits.fileBytes), megabytes(bytes + 1024 * 1024 - 1))));
}

void ReadBudget::checkUnpacked(const QString &member, qint64 bytes) const
{
    if (bytes > m_limits.unpackedBytes)
        throw Error(limitText(
            QStringLiteral("压缩在文件中的 %1 解压后最大 %2").arg(member, megabytes(m_limits.unpackedBytes))));
}

void ReadBudget::checkLine(int line, qint64 bytes) const
{
    if (bytes > m_limits.lineBytes)
        throw Error(limitText(QStringLiteral("每行最多 %1 字节，第 %2 行更长").arg(m_limits.lineBytes).arg(line)));
}

void ReadBudget::checkSheetSize(qint64 rows, qint64 columns) const
{
    if (columns > m_limits.columns)
        throw Error(
            limitText(QStringLiteral("每行最多 %1 列，文件的工作表有 %2 列").arg(m_limits.columns).arg(columns)));
    if (rows * columns > m_limits.cells)
        throw Error(limitText(
            QStringLiteral("最多 %1 个单元格，文件的工作表有 %2 行 %3 列").arg(m_limits.cells).arg(rows).arg(columns)));
}

void ReadBudget::checkField(int line, qint64 chars) const
{
    if (chars > m_limits.fieldChars)
        throw Error(
            limitText(QStringLiteral("每项内容最多 %1 个字，第 %2 行的一项更长").arg(m_limits.fieldChars).arg(line)));
}

void ReadBudget::addCell(int line, int column, qint64 chars, qint64 padding)
{
    if (column >= m_limits.columns)
        throw Error(limitText(QStringLiteral("每行最多 %1 列，第 %2 行更多").arg(m_limits.columns).arg(line)));
    checkField(line, chars);
    m_cells += 1 + padding;
    if (m_cells > m_limits.cells)
        throw Error(limitText(QStringLiteral("最多 %1 个单元格（连同其间的空格）").arg(m_limits.cells)));
    m_memory += kCellBytes * (1 + padding) + (chars > 0 ? kTextHeaderBytes + 2 * chars : 0);
    if (m_memory > m_limits.memoryBytes)
        throw Error(limitText(QStringLiteral("读入的内容最多占用 %1 内存").arg(megabytes(m_limits.memoryBytes))));
    if ((m_cells & 0xFFF) == 0)
        checkCancel();
}

void ReadBudget::checkCancel() const
{
    if (m_cancel && m_cancel->load(std::memory_order_relaxed))
        throw ReadCancelled{};
}

} // namespace lianbu::exchange
