#pragma once

// What an importer may take from one file. A file over any limit is refused with a Chinese
// message that names the limit, checked while reading so a small hostile file (a zip bomb, a
// sheet that claims millions of cells, one line of commas) costs neither time nor memory.

#include <QString>

#include <atomic>

namespace lianbu::exchange {

struct ReadLimits
{
    qint64 fileBytes = 32LL * 1024 * 1024;     // a file read whole
    qint64 unpackedBytes = 64LL * 1024 * 1024; // one member of an .xlsx once unpacked
    int columns = 256;                         // columns of one row
    qint64 cells = 1'000'000;                  // cells of the whole sheet, blanks in between included
    qint64 lineBytes = 1024 * 1024;            // one line of a text file (a vCard line once unfolded)
    qint64 fieldChars = 65'536;                // one cell or value
    qint64 memoryBytes = 64LL * 1024 * 1024;   // what the cells read so far take in memory
};

// Counts what a reader takes against the limits and answers a cancel. Every method throws
// lianbu::Error with the limit's text when it is passed; a cancel throws ReadCancelled.
class ReadBudget
{
public:
    explicit ReadBudget(const ReadLimits &limits = {}, const std::atomic<bool> *cancel = nullptr);

    const ReadLimits &limits() const { return m_limits; }
    void checkFileSize(qint64 bytes) const;
    void checkUnpacked(const QString &member, qint64 bytes) const;
    // One line of `bytes` (1-based line number).
    void checkLine(int line, qint64 bytes) const;
    // A sheet's declared size, before any of its rows is read.
    void checkSheetSize(qint64 rows, qint64 columns) const;
    // A cell of `chars` characters in column `column` (0-based) of line/row `line`, and the
    // `padding` blank cells before it that the row needs.
    void addCell(int line, int column, qint64 chars, qint64 padding = 0);
    // A value of `chars` characters that is not a cell (a vCard property).
    void checkField(int line, qint64 chars) const;
    // Throws ReadCancelled when the operator cancelled; cheap enough for every row.
    void checkCancel() const;

private:
    ReadLimits m_limits;
    const std::atomic<bool> *m_cancel;
    qint64 m_cells = 0;
    qint64 m_memory = 0;
};

// Thrown when the operator cancelled a read.
struct ReadCancelled
{};

// The text of a refusal: "文件超出导入的限制：<what>。" with what names the limit.
QString limitText(const QString &what);

} // namespace lianbu::exchange
