#include "platform/PasswordFile.h"

#include "platform/AtomicFile.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace lianbu {

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString escaped(const QString &field)
{
    QString text = field;
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char(':'), QLatin1String("\\:"));
    return text;
}

// The five fields of a line; fewer when the line is not a password line.
QStringList fieldsOf(const QString &line)
{
    QStringList fields;
    QString field;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            field += line.at(++i);
        } else if (c == QLatin1Char(':') && fields.size() < 4) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

QStringList keyOf(const ServerLogin &login)
{
    return {login.host.isEmpty() ? QStringLiteral("localhost") : login.host, QString::number(login.port),
            login.database, login.user};
}

bool matches(const QString &pattern, const QString &value)
{
    return pattern == QLatin1String("*") || pattern == value;
}

QStringList readLines(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

} // namespace

QString serverPasswordFilePath()
{
    return QDir(paths::userConfigFolder()).filePath(QStringLiteral("server-passwords"));
}

QString findServerPassword(const QString &filePath, const ServerLogin &login)
{
    const QFileInfo info(filePath);
    if (!info.exists())
        return {};
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                            | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (info.permissions() & others)
        return {};
    const QStringList key = keyOf(login);
    for (const QString &line : readLines(filePath)) {
        if (line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = fieldsOf(line);
        if (fields.size() != 5)
            continue;
        bool all = true;
        for (int i = 0; i < 4; ++i)
            all = all && matches(fields.at(i), key.at(i));
        if (all)
            return fields.at(4);
    }
    return {};
}

bool saveServerPassword(const QString &filePath, const ServerLogin &login, const QString &password)
{
    const QString folder = QFileInfo(filePath).absolutePath();
    // Also when the layout file made the folder first, as it did before it was made private.
    if (!paths::makePrivateFolder(folder))
        return false;
    const QStringList key = keyOf(login);
    QStringList kept;
    for (const QString &line : readLines(filePath)) {
        if (line.isEmpty())
            continue;
        const QStringList fields = fieldsOf(line);
        if (fields.size() == 5 && fields.mid(0, 4) == key)
            continue;
        kept << line;
    }
    if (!password.isEmpty()) {
        QStringList fields;
        for (const QString &field : key)
            fields << escaped(field);
        kept << fields.join(QLatin1Char(':')) + QLatin1Char(':') + escaped(password);
    }
    return writeFileAtomically(filePath, (kept.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8(), kOwnerOnly);
}

} // namespace lianbu
