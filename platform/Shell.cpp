#include "platform/Shell.h"

#include <QDesktopServices>
#include <QFileInfo>

namespace lianbu {

ShellService::~ShellService() = default;

namespace {

class DesktopShell final : public ShellService
{
public:
    bool open(const QUrl &target) override
    {
        if (!target.isValid() || target.isEmpty())
            return false;
        return QDesktopServices::openUrl(target);
    }
};

ShellService *installedShell = nullptr;

} // namespace

ShellService &shell()
{
    static DesktopShell desktop;
    return installedShell ? *installedShell : desktop;
}

void setShellService(ShellService *service)
{
    installedShell = service;
}

bool openWebAddress(const QString &address)
{
    const QString trimmed = address.trimmed();
    if (trimmed.isEmpty())
        return false;
    // "www.example.com" means the web page, as the Windows shell takes it.
    const QUrl url = QUrl::fromUserInput(trimmed);
    if (!url.isValid())
        return false;
    return shell().open(url);
}

bool openFile(const QString &path)
{
    if (path.isEmpty())
        return false;
    return shell().open(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

} // namespace lianbu
