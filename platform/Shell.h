#pragma once

#include <QString>
#include <QUrl>

namespace lianbu {

// Opens web addresses and files with the desktop's associated program. Tests install a
// recording double; no test ever starts a browser or a spreadsheet program.
class ShellService
{
public:
    virtual ~ShellService();
    // True when the desktop accepted the request.
    virtual bool open(const QUrl &target) = 0;
};

ShellService &shell();
void setShellService(ShellService *service); // not owned; nullptr restores the real one

// Convenience wrappers over shell().open.
bool openWebAddress(const QString &address);
bool openFile(const QString &path);

} // namespace lianbu
