#include "app/StartUp.h"

#include "app/MainWindow.h"
#include "app/Register.h"
#include "app/ServerConnectionDialog.h"
#include "data/Database.h"
#include "data/RegisterBackups.h"
#include "data/SearchIndex.h"
#include "db/BackgroundDamageCheck.h"
#include "db/DamageCheck.h"
#include "db/Connection.h"
#include "db/SortKeys.h"
#include "operators/LoginDialog.h"
#include "platform/AppInfo.h"
#include "platform/Application.h"
#include "platform/Console.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/Installation.h"
#include "platform/Paths.h"
#include "platform/Translations.h"
#include "resources/Resources.h"
#include "updater/ProgramLock.h"
#include "upgrade/GoodStart.h"

#include <QFont>
#include <QIcon>
#include <QProgressDialog>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace lianbu {

void prepareApplication()
{
    paths::restrictNewFiles();
    QApplication::setOrganizationName(QStringLiteral("qiaomu"));
    QApplication::setApplicationName(QStringLiteral("lianbu"));
    QApplication::setApplicationDisplayName(applicationTitle());
    QApplication::setApplicationVersion(applicationVersion());
    initResources();
    installToolkitTranslations(*QCoreApplication::instance());
    // Lets the desktop match the windows to the menu entry the package installs.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.lianbubao.lianbu"));
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

namespace {

void print(std::FILE *to, const QString &text)
{
    console::write(to, (text + QLatin1Char('\n')).toStdString());
}

} // namespace

int runRegisterCheck(const CommandLine &commandLine)
{
    QCoreApplication::setOrganizationName(QStringLiteral("qiaomu"));
    QCoreApplication::setApplicationName(QStringLiteral("lianbu"));
    QCoreApplication::setApplicationVersion(applicationVersion());
    initResources();
    const RegisterCheck check = checkRegister(commandLine);
    print(check.opened ? stdout : stderr, check.text);
    return check.opened ? 0 : 1;
}

RegisterCheck checkRegister(const CommandLine &commandLine)
{
    try {
        const RegisterPlace place = chosenRegister(commandLine);
        prepareRegister(place);
        // Opening checks the file (or the server database) and its tables, exactly as a normal
        // start does.
        const Database database(place.address());
        if (database.connection->wholeCheckDeferred()) {
            // No window to work beside: what the open left unread is read now.
            const db::DamageFinding finding = db::readForDamage(database.connection->fileName(), {});
            QString verdict = finding.verdict;
            if (finding.outcome != db::DamageFinding::Outcome::Damaged)
                verdict = finding.error.isValid() ? finding.error.text() : QStringLiteral("ok");
            if (verdict != QLatin1String("ok"))
                return {false,
                        QStringLiteral("%1: damaged (%2)").arg(db::formatRegisterAddress(place.address()), verdict)};
        }
        return {true, db::formatRegisterAddress(place.address())};
    } catch (const Error &error) {
        return {false, error.message()};
    }
}

void buildSearchIndexIfMissing(db::Connection &connection)
{
    // A register written by an older version has no index for the quick search yet: it is
    // built once, with a progress window, since a large register takes a while. A register
    // that cannot take it (read-only, say) is searched without it.
    // A server register has only the table of initials to gain: its pg_trgm indexes come with
    // its creation, and its lists are sorted client-side.
    const bool server = connection.isServer();
    const bool searchIndex = server || hasSearchIndex(connection);
    const bool sortKeys = server || db::hasSortKeys(connection, QStringLiteral("data"));
    const bool extra = hasSearchExtra(connection);
    if (searchIndex && sortKeys && extra)
        return;
    QProgressDialog progress(QStringLiteral("正在为快速查询建立索引，请稍候……"), QString(), 0, 1000);
    progress.setWindowTitle(QStringLiteral("联簿宝"));
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(300);
    progress.setCancelButton(nullptr);
    const auto show = [&](qint64 done, qint64 total) {
        progress.setValue(total > 0 ? int(done * 1000 / total) : 1000);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    try {
        if (!searchIndex)
            createSearchIndex(connection, show);
    } catch (const Error &error) {
        qWarning("quick-search index not built: %s", qPrintable(error.message()));
    }
    // Without it the quick search finds no pinyin initials (on a server also when pg_trgm or
    // the right to create it is missing).
    try {
        if (!extra) {
            progress.setValue(0);
            createSearchExtra(connection, show);
        }
    } catch (const Error &error) {
        qWarning("table of pinyin initials not built: %s", qPrintable(error.message()));
    }
    // Without them a title click collates the rows itself, as before.
    progress.setLabelText(QStringLiteral("正在为列表排序建立索引，请稍候……"));
    progress.setValue(0);
    try {
        if (!sortKeys)
            db::createSortKeys(connection, QStringLiteral("data"), sortKeyColumns(), show);
    } catch (const Error &error) {
        qWarning("sort keys not built: %s", qPrintable(error.message()));
    }
}

std::unique_ptr<Database> openRegisterAtStart(const CommandLine &commandLine)
{
    // The saved server is changed in a window of the running program: when that server cannot
    // be reached (or the saved address is damaged), the operator is offered the window here,
    // or he could never start the program again without the command line.
    const bool savedChoice = commandLine.database.isEmpty() && qEnvironmentVariable(kRegisterVariable).isEmpty()
                             && !savedRegister().isEmpty();
    for (;;) {
        db::RegisterAddress tried;
        try {
            const RegisterPlace place = chosenRegister(commandLine);
            tried = place.address();
            prepareRegister(place);
            return std::make_unique<Database>(place.address());
        } catch (const Error &error) {
            // A register file's error is the engine's message, as it always was; a server's (or a
            // malformed address's) says in Chinese what to put right.
            const bool fileError = !tried.isServer() && !tried.file.isEmpty();
            if (fileError && db::isDamageRefusal(error)) {
                // A damaged register could refuse every login: the restore is offered here, in
                // Chinese, before the window; once restored the register is opened again.
                if (offerRestoreOfDamagedRegister(nullptr, tried.file, error.operatorText()))
                    continue;
                return nullptr;
            }
            const QString shown = fileError ? error.message() : error.operatorText();
            if (!savedChoice || !(tried.isServer() || db::isServerAddress(savedRegister()))) {
                showError(shown);
                return nullptr;
            }
            if (!askYesNo(applicationTitle(), errorDisplayText(shown) + QStringLiteral("\n\n要修改数据库连接吗？")))
                return nullptr;
            ServerConnectionDialog dialog(tried);
            dialog.setAppliesAtOnce(true);
            if (dialog.exec() != QDialog::Accepted)
                return nullptr;
        }
    }
}

std::unique_ptr<db::BackgroundDamageCheck> startDeferredDamageCheck(Database &database, QWidget *window)
{
    if (!database.connection->wholeCheckDeferred())
        return nullptr;
    auto check = std::make_unique<db::BackgroundDamageCheck>(database.connection->fileName());
    QObject::connect(check.get(), &db::BackgroundDamageCheck::finished, window, [window](const QString &problem) {
        if (problem.isEmpty())
            return;
        if (auto *main = qobject_cast<MainWindow *>(window))
            main->offerRestoreOfDamage(problem);
        else
            showError(problem, window);
    });
    return check;
}

int runProgram(QApplication &app, const CommandLine &commandLine)
{
    if (commandLine.action == CommandLine::Action::CheckRegister)
        return runRegisterCheck(commandLine);
    prepareApplication();
    // Held for the whole run: the updater waits on it before replacing our files.
    updater::holdOwnProgramLock();
    // After an upgrade the good start is reported once the first window waits for the operator (a
    // start-up question, the login), however long the operator then takes.
    upgrade::watchForGoodStart(QCoreApplication::applicationFilePath());

    // The register first: when it cannot be opened the error names the file and no window
    // has been shown.
    std::unique_ptr<Database> database = openRegisterAtStart(commandLine);
    if (!database)
        return 1;
    buildSearchIndexIfMissing(*database->connection);
    auto mainWindow = std::make_unique<MainWindow>(*database);
    std::unique_ptr<db::BackgroundDamageCheck> damageCheck = startDeferredDamageCheck(*database, mainWindow.get());
    // The login dialog belongs to the main window, which shows it while no session is open.
    mainWindow->setLoginDialog(new LoginDialog(*database, mainWindow.get()));

    // Shown from inside the event loop: some window systems (Qt's minimal platform, Windows under
    // Wine) activate a window while it is being shown, which starts the login there; leaving it
    // must find the loop running, or the program's end is lost and it stays without a window.
    QTimer::singleShot(0, mainWindow.get(), [window = mainWindow.get()] { window->show(); });
    const int code = app.exec();
    damageCheck.reset();
    mainWindow.reset();
    return code;
}

} // namespace lianbu
