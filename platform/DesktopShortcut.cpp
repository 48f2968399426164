#include "platform/DesktopShortcut.h"

#include "platform/AtomicFile.h"
#include "platform/Installation.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace lianbu {

namespace {

// A string value of a desktop entry: backslash, line breaks and tabs escaped.
QString escapeValue(const QString &s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        switch (c.unicode()) {
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case ' ':
            out += i == 0 ? QStringLiteral("\\s") : QStringLiteral(" ");
            break;
        default:
            out += c;
        }
    }
    return out;
}

// One quoted argument of the Exec key: inside double quotes, ", `, $ and \ take a backslash;
// a literal % is written %%. The result is then escaped as any string value.
QString execArgument(const QString &arg)
{
    QString quoted = QStringLiteral("\"");
    for (QChar c : arg) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return escapeValue(quoted);
}

QString iconFor(const QString &programFolder)
{
    // The package installs the icon into the desktop's icon theme.
    if (isPackagedProgram())
        return QLatin1String(kPackagedIconName);
    const QString own = programFolder + QStringLiteral("/lianbu.png");
    if (QFileInfo(own).isFile())
        return escapeValue(own);
    // The standard theme icon of an address book.
    return QStringLiteral("x-office-address-book");
}

} // namespace

QString desktopShortcutFileName()
{
    return QStringLiteral("联簿宝.desktop");
}

QString desktopShortcutText(const QString &programPath)
{
    const QFileInfo program(programPath);
    const QString path = program.absoluteFilePath();
    const QString folder = program.absolutePath();
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Version=1.0\n");
    text += QStringLiteral("Name=联簿宝\n");
    text += QStringLiteral("Comment=联簿宝\n");
    // The packaged program is started by its command in the system's program folder, like its
    // menu entry, not by the file behind that command.
    text += QStringLiteral("Exec=") + execArgument(launcherPath(path)) + QLatin1Char('\n');
    text += QStringLiteral("Path=") + escapeValue(folder) + QLatin1Char('\n');
    text += QStringLiteral("Icon=") + iconFor(folder) + QLatin1Char('\n');
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("Categories=Office;\n");
    return text;
}

bool writeDesktopShortcut(const QString &programPath)
{
    const QString desktop = paths::desktopFolder();
    if (desktop.isEmpty() || !QFileInfo(desktop).isDir())
        return false;
    const QString file = QDir(desktop).filePath(desktopShortcutFileName());
    const QByteArray bytes = desktopShortcutText(programPath).toUtf8();
    // Desktops start only entries that their owner may execute.
    return writeFileAtomically(file, bytes, kExecutablePermissions);
}

} // namespace lianbu
