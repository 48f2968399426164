#include "platform/DesktopShortcut.h"

#include "platform/AtomicFile.h"
#include "platform/Installation.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef _WIN32
#include "platform/SystemFiles.h"

#include <QCoreApplication>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <windows.h>
#endif

namespace lianbu {

namespace {

#ifdef _WIN32

// COM for the calling thread for as long as it lives. A thread that has COM already (the GUI
// thread: Qt's Windows platform starts OLE there) keeps it; the Shell Link object works in
// either apartment.
class ComForThisThread
{
public:
    ComForThisThread()
        : m_result(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))
    {}
    ~ComForThisThread()
    {
        if (SUCCEEDED(m_result))
            ::CoUninitialize();
    }
    ComForThisThread(const ComForThisThread &) = delete;
    ComForThisThread &operator=(const ComForThisThread &) = delete;
    bool usable() const { return SUCCEEDED(m_result) || m_result == RPC_E_CHANGED_MODE; }

private:
    HRESULT m_result;
};

// A COM interface pointer released when it goes.
template <class T>
class ComRef
{
public:
    ComRef() = default;
    ~ComRef()
    {
        if (m_p)
            m_p->Release();
    }
    ComRef(const ComRef &) = delete;
    ComRef &operator=(const ComRef &) = delete;
    T *operator->() const { return m_p; }
    void **out() { return reinterpret_cast<void **>(&m_p); }

private:
    T *m_p = nullptr;
};

std::wstring nativeWide(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

QString fromWide(const wchar_t *text)
{
    return QDir::fromNativeSeparators(QString::fromWCharArray(text));
}

// A Shell Link to the program, made and saved by the shell itself: it writes the target's item
// list and volume information that Explorer resolves, which a hand-written link would have to
// reproduce from the file format.
bool saveShellLink(const QString &linkPath, const QString &programPath)
{
    ComForThisThread com;
    if (!com.usable())
        return false;
    ComRef<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.out())))
        return false;
    const QFileInfo program(programPath);
    const std::wstring target = nativeWide(program.absoluteFilePath());
    const std::wstring folder = nativeWide(program.absolutePath());
    if (FAILED(link->SetPath(target.c_str())) || FAILED(link->SetWorkingDirectory(folder.c_str()))
        || FAILED(link->SetIconLocation(target.c_str(), 0)) || FAILED(link->SetDescription(L"联簿宝")))
        return false;
    ComRef<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.out())))
        return false;
    return SUCCEEDED(file->Save(nativeWide(linkPath).c_str(), FALSE));
}

bool writeShellLink(const QString &desktop, const QString &programPath)
{
    const QString linkFile = QDir(desktop).filePath(desktopShortcutFileName());
    // Saved beside its final name (the shell records the target's path relative to the link's
    // folder too), then renamed over the old one in one step.
    const QString temporary = linkFile + QStringLiteral(".%1.new").arg(QCoreApplication::applicationPid());
    const std::string temporaryName = temporary.toUtf8().toStdString();
    if (!saveShellLink(temporary, programPath)) {
        files::removeFile(temporaryName);
        return false;
    }
    if (files::replaceFile(temporaryName, linkFile.toUtf8().toStdString()) != 0) {
        files::removeFile(temporaryName);
        return false;
    }
    return true;
}

#endif

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
#ifdef _WIN32
    return QStringLiteral("联簿宝.lnk");
#else
    return QStringLiteral("联簿宝.desktop");
#endif
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
#ifdef _WIN32
    return writeShellLink(desktop, programPath);
#endif
    const QString file = QDir(desktop).filePath(desktopShortcutFileName());
    const QByteArray bytes = desktopShortcutText(programPath).toUtf8();
    // Desktops start only entries that their owner may execute.
    return writeFileAtomically(file, bytes, kExecutablePermissions);
}

#ifdef _WIN32
ShellLinkTarget readShellLink(const QString &linkPath)
{
    ShellLinkTarget result;
    ComForThisThread com;
    if (!com.usable())
        return result;
    ComRef<IShellLinkW> link;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.out())))
        return result;
    ComRef<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.out()))
        || FAILED(file->Load(nativeWide(linkPath).c_str(), STGM_READ)))
        return result;
    wchar_t text[MAX_PATH + 1] = {};
    if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH)))
        result.program = fromWide(text);
    text[0] = 0;
    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH)))
        result.workingFolder = fromWide(text);
    text[0] = 0;
    int index = -1;
    if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &index))) {
        result.iconFile = fromWide(text);
        result.iconIndex = index;
    }
    return result;
}
#endif

} // namespace lianbu
