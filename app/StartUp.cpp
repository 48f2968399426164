#include "app/StartUp.h"

#include "platform/AppInfo.h"
#include "app/MainWindow.h"
#include "data/Database.h"
#include "operators/LoginDialog.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "resources/Resources.h"
#include "updater/ProgramLock.h"

#include <QFont>
#include <QIcon>

#include <memory>

namespace lianbu {

void prepareApplication()
{
    QApplication::setOrganizationName(QStringLiteral("qiaomu"));
    QApplication::setApplicationName(QStringLiteral("lianbu"));
    QApplication::setApplicationDisplayName(applicationTitle());
    QApplication::setApplicationVersion(applicationVersion());
    initResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/lianbu.png")));
    installFontSubstitutions();
}

void installFontSubstitutions()
{
    // The forms ask for 宋体 (SimSun). Without the Windows font, fontconfig would pick a Latin
    // family with wide digits and leave Chinese to a fallback; one CJK family keeps both
    // consistent and legible.
    const QStringList cjk{QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")};
    for (const QString &family : {QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("新宋体")})
        QFont::insertSubstitutions(family, cjk);
    QFont font = QApplication::font();
    font.setFamilies(QStringList{font.family()} + cjk);
    QApplication::setFont(font);
}

int runProgram(QApplication &app)
{
    prepareApplication();
    // Held for the whole run: the updater waits on it before replacing our files.
    updater::holdOwnProgramLock();

    // The register first: when it cannot be opened the error names the file and no window
    // has been shown.
    std::unique_ptr<Database> database;
    try {
        database = std::make_unique<Database>();
    } catch (const Error &error) {
        showError(error.message());
        return 1;
    }
    auto mainWindow = std::make_unique<MainWindow>(*database);
    // The login dialog belongs to the main window, which shows it while no session is open.
    mainWindow->setLoginDialog(new LoginDialog(*database, mainWindow.get()));

    mainWindow->show();
    const int code = app.exec();
    mainWindow.reset();
    return code;
}

} // namespace lianbu
