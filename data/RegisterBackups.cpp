#include "data/RegisterBackups.h"

#include "data/Schema.h"
#include "db/Backup.h"
#include "platform/BusyCursor.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QWidget>
#include <QThread>

#include <memory>

namespace lianbu {

void backUpRegister(QWidget *parent, const QString &registerFile)
{
    QString made;
    try {
        BusyCursor busy;
        made = db::makeBackup(registerFile, now());
    } catch (const Error &error) {
        showError(QStringLiteral("数据没有备份。") + error.operatorText(), parent);
        return;
    }
    showInformation(QStringLiteral("数据已备份到“%1”。").arg(QDir::toNativeSeparators(made)), parent);
}

void restoreRegister(QWidget *parent, const QString &registerFile, const std::function<void()> &closeRegister,
                     const std::function<void()> &reopenRegister)
{
    SaveFileRequest request;
    request.caption = QStringLiteral("恢复数据");
    request.directory = db::backupFolder(registerFile);
    if (!QFileInfo(request.directory).isDir())
        request.directory.clear(); // the documents folder
    request.filter = QStringLiteral("联簿宝备份 (*.db)");
    request.openExisting = true;
    const QString backup = dialogs().saveFileName(parent, request);
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
    showInformation(QStringLiteral("资料已从备份“%1”恢复。原来的数据库文件保留为“%2”。")
                        .arg(QDir::toNativeSeparators(backup), QDir::toNativeSeparators(kept)),
                    parent);
}

QThread *backUpRegisterDaily(QWidget *parent, const QString &registerFile)
{
    const QString file = QFileInfo(registerFile).absoluteFilePath();
    const QDateTime moment = now();
    auto failure = std::make_shared<QString>();
    QThread *thread = QThread::create([file, moment, failure] {
        try {
            db::makeDailyBackup(file, moment);
        } catch (const Error &error) {
            *failure = error.operatorText();
        } catch (...) {
            *failure = QStringLiteral("未知错误。");
        }
    });
    QPointer<QWidget> owner(parent);
    QObject::connect(thread, &QThread::finished, qApp, [thread, failure, owner] {
        thread->deleteLater();
        if (!failure->isEmpty())
            showError(QStringLiteral("今天的自动备份没有完成。") + *failure, owner.data());
    });
    thread->start();
    return thread;
}

} // namespace lianbu
