#include "export/ImportFile.h"

#include "platform/Error.h"

#include <QFile>
#include <QFileInfo>

namespace lianbu::exchange {

ImportFile readImportFile(const QString &path, ReadBudget &budget)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("无法打开文件“%1”：%2").arg(QFileInfo(path).fileName(), file.errorString()));
    budget.checkFileSize(file.size());
    ImportFile imported;
    imported.path = path;
    const FormatKind kind = sniffKind(path, file.peek(16));
    TextEncoding encoding = TextEncoding::Utf8;
    const bool readsPath = formatOf(kind).readsPath;
    if (!readsPath)
        imported.bytes = file.read(budget.limits().fileBytes + 1);
    if (kind == FormatKind::Csv)
        encoding = detectEncoding(imported.bytes, &imported.encodingCertain);
    const FileFormat &format = formatOf(kind, encoding);
    imported.format = format.id;
    imported.imported = format.read(path, imported.bytes, budget);
    return imported;
}

ImportFile rereadImportFile(const ImportFile &file, TextEncoding encoding, ReadBudget &budget)
{
    const FileFormat &format = formatOf(file.entry().kind, encoding);
    ImportFile again = file;
    if (format.id == file.format)
        return again;
    again.format = format.id;
    again.imported = format.read(file.path, file.bytes, budget);
    return again;
}

} // namespace lianbu::exchange
