#include "data/RegisterBackups.h"

#include "data/ChangeLog.h"

#include "data/PasswordHash.h"
#include "data/RegisterUpgrade.h"
#include "data/Schema.h"
#include "db/Backup.h"
#include "db/Connection.h"
#include "db/SqliteEngine.h"
#include "platform/BusyCursor.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QWidget>
#include <QThread>

#include <memory>

namespace lianbu {

namespace {

// The backup the operator picks: the dialog starts in the backup folder.
QString chosenBackup(QWidget *parent, const QString &registerFile)
{
    SaveFileRequest request;
    request.caption = QStringLiteral("恢复数据");
    request.directory = db::backupFolder(registerFile);
    if (!QFileInfo(request.directory).isDir())
        request.directory.clear(); // the documents folder
    request.filter = QStringLiteral("联簿宝备份 (*.db)");
    request.openExisting = true;
    return dialogs().saveFileName(parent, request);
}

// A backup that was not made is logged under the folder it was to go to.
QString backupSubject(const QString &registerFile)
{
    return QDir::toNativeSeparators(db::backupFolder(registerFile));
}

} // namespace

void backUpRegister(QWidget *parent, const QString &registerFile, const data::SessionOperator *by)
{
    if (!data::mayDo(by, data::Right::BackupRestore, parent))
        return;
    QString made;
    try {
        BusyCursor busy;
        made = db::makeBackup(registerFile, now(), 7, deliveredSchemaProblem);
    } catch (const Error &error) {
        if (by)
            by->log(data::LogKind::BackupFailed, backupSubject(registerFile),
                    {{QStringLiteral("原因"), std::nullopt, error.operatorText()}});
        showError(QStringLiteral("数据没有备份。") + error.operatorText(), parent);
        return;
    }
    if (by)
        by->log(data::LogKind::BackedUp, QDir::toNativeSeparators(made));
    showInformation(QStringLiteral("数据已备份到“%1”。").arg(QDir::toNativeSeparators(made)), parent);
}

void restoreRegister(QWidget *parent, const QString &registerFile, const std::function<void()> &closeRegister,
                     const std::function<void()> &reopenRegister, const data::SessionOperator *by)
{
    if (!data::mayDo(by, data::Right::BackupRestore, parent))
        return;
    const QString backup = chosenBackup(parent, registerFile);
    if (backup.isEmpty())
        return;
    const QString question =
        QStringLiteral("恢复后，当前的全部资料将换成备份“%1”中的资料；当前的数据库文件会另外保留。\n"
                       "恢复前请让其他电脑和窗口都退出联簿宝。\n\n是否现在恢复？")
            .arg(QDir::toNativeSeparators(backup));
    if (!askYesNo(QStringLiteral("恢复数据"), question, parent))
        return;

    QString kept;
    QString failure;
    closeRegister();
    try {
        BusyCursor busy;
        kept = db::restoreDatabase(backup, registerFile, deliveredSchemaProblem, now());
        // The replaced register, kept aside, is nobody else's business either.
        QFile::setPermissions(kept, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    } catch (const Error &error) {
        failure = error.operatorText();
    }
    reopenRegister();
    if (!failure.isEmpty()) {
        showError(QStringLiteral("数据没有恢复。") + failure, parent);
        return;
    }
    // Into the register now in place: the one replaced is kept aside with its own log.
    if (by)
        by->log(data::LogKind::Restored, QDir::toNativeSeparators(backup),
                {{QStringLiteral("原数据库文件"), std::nullopt, QDir::toNativeSeparators(kept)}});
    showInformation(QStringLiteral("资料已从备份“%1”恢复。原来的数据库文件保留为“%2”。")
                        .arg(QDir::toNativeSeparators(backup), QDir::toNativeSeparators(kept)),
                    parent);
}

QString backupAdministratorProblem(const QString &backupFile, const QString &password)
{
    try {
        db::verifyDatabaseFile(backupFile, deliveredSchemaProblem);
    } catch (const Error &error) {
        return error.operatorText();
    }
    const QString name = QStringLiteral("lianbu-backup-proof-%1").arg(QRandomGenerator::global()->generate());
    int matches = 0;
    bool read = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(db::engine::fileUri(backupFile, QStringLiteral("mode=ro")));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (db.open()) {
            QSqlQuery query(db);
            // A backup of an older version holds its passwords plain: they were its only form,
            // and they are hashed once the restored register is opened.
            const bool older = !db.tables().contains(QLatin1String(data::kVersionTable));
            query.prepare(QStringLiteral("select passwd from userdb where username=?"));
            query.addBindValue(superAdministratorName());
            read = query.exec();
            while (read && query.next()) {
                const QString stored = query.value(0).toString();
                if (older ? data::verifyPasswordOfOlderRegister(stored, password)
                          : data::verifyPassword(stored, password))
                    ++matches;
            }
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    if (!read)
        return QStringLiteral("无法读取备份“%1”中的用户。").arg(QDir::toNativeSeparators(backupFile));
    if (matches != 1)
        return QStringLiteral("密码不是备份“%1”中超级管理员的密码。").arg(QDir::toNativeSeparators(backupFile));
    return {};
}

bool offerRestoreOfDamagedRegister(QWidget *parent, const QString &registerFile, const QString &problem,
                                   const std::function<void()> &closeRegister,
                                   const std::function<void()> &reopenRegister)
{
    const QString question = errorDisplayText(problem)
                             + QStringLiteral("\n\n要现在从备份恢复数据吗？恢复时需要输入该备份中超级管理员的密码；"
                                              "当前的数据库文件会另外保留。");
    if (!askYesNo(QStringLiteral("恢复数据"), question, parent))
        return false;
    // Three tries, as at the login.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const QString backup = chosenBackup(parent, registerFile);
        if (backup.isEmpty())
            return false;
        const QString password = dialogs().passwordInput(
            parent, QStringLiteral("恢复数据"),
            QStringLiteral("请输入备份“%1”中超级管理员的密码：").arg(QDir::toNativeSeparators(backup)));
        if (password.isNull())
            return false;
        const QString refused = backupAdministratorProblem(backup, password);
        if (!refused.isEmpty()) {
            showError(QStringLiteral("数据没有恢复。") + refused, parent);
            continue;
        }
        QString kept;
        QString failure;
        if (closeRegister)
            closeRegister();
        try {
            BusyCursor busy;
            kept = db::restoreDatabase(backup, registerFile, deliveredSchemaProblem, now());
        } catch (const Error &error) {
            failure = error.operatorText();
        }
        if (reopenRegister)
            reopenRegister();
        if (!failure.isEmpty()) {
            showError(QStringLiteral("数据没有恢复。") + failure, parent);
            return false;
        }
        showInformation(QStringLiteral("资料已从备份“%1”恢复。原来的（已损坏的）数据库文件保留为“%2”。")
                            .arg(QDir::toNativeSeparators(backup), QDir::toNativeSeparators(kept)),
                        parent);
        return true;
    }
    return false;
}

QString makeLoggedDailyBackup(const QString &registerFile, const QDateTime &moment, const QString &operatorName)
{
    const std::vector<data::FieldChange> daily{{QStringLiteral("方式"), std::nullopt, QStringLiteral("每日自动备份")}};
    QString failure;
    QString made;
    try {
        made = db::makeDailyBackup(registerFile, moment, 7, deliveredSchemaProblem);
    } catch (const Error &error) {
        failure = error.operatorText();
    } catch (...) {
        failure = QStringLiteral("未知错误。");
    }
    if (made.isEmpty() && failure.isEmpty())
        return {}; // today's copy was there already
    try {
        db::Connection connection(registerFile);
        connection.setIntegrityCheck(false); // the program's own connection checked it
        connection.open();
        const data::SessionOperator by(connection, operatorName);
        if (failure.isEmpty()) {
            by.log(data::LogKind::BackedUp, QDir::toNativeSeparators(made), daily);
        } else {
            std::vector<data::FieldChange> fields = daily;
            fields.push_back({QStringLiteral("原因"), std::nullopt, failure});
            by.log(data::LogKind::BackupFailed, backupSubject(registerFile), fields);
        }
    } catch (const Error &error) {
        // The copy stands; the operator hears that its line in the log is missing.
        if (failure.isEmpty())
            return QStringLiteral("今天的自动备份已完成，但没有记入操作日志。") + error.operatorText();
    } catch (...) {
        if (failure.isEmpty())
            return QStringLiteral("今天的自动备份已完成，但没有记入操作日志。");
    }
    return failure.isEmpty() ? QString() : QStringLiteral("今天的自动备份没有完成。") + failure;
}

QThread *backUpRegisterDaily(QWidget *parent, const QString &registerFile, const QString &operatorName)
{
    const QString file = QFileInfo(registerFile).absoluteFilePath();
    const QDateTime moment = now();
    auto failure = std::make_shared<QString>();
    QThread *thread = QThread::create(
        [file, moment, operatorName, failure] { *failure = makeLoggedDailyBackup(file, moment, operatorName); });
    QPointer<QWidget> owner(parent);
    QObject::connect(thread, &QThread::finished, qApp, [thread, failure, owner] {
        thread->deleteLater();
        if (!failure->isEmpty())
            showError(*failure, owner.data());
    });
    thread->start();
    return thread;
}

} // namespace lianbu
