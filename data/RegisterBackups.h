#pragma once

#include <QDateTime>
#include <QString>

#include <functional>

class QThread;
class QWidget;

namespace lianbu::data {
class SessionOperator;
}

namespace lianbu {

// The operator's side of backups (the copying itself is db/Backup).

// "备份数据…": a backup into backups/ next to the register; says where it went or why not. With the
// session's operator `by`: refused (said, nothing copied) unless he may back up, and logged.
void backUpRegister(QWidget *parent, const QString &registerFile, const data::SessionOperator *by = nullptr);

// "恢复数据…": the operator picks a backup (the file dialog starts in the backup folder), confirms,
// and the program lets go of the register (`closeRegister` closes every connection of this
// process to it), restores and takes it up again (`reopenRegister`, also after a refusal). With
// `by` as for backUpRegister: refused before anything is asked, and logged in the restored register.
void restoreRegister(QWidget *parent, const QString &registerFile, const std::function<void()> &closeRegister,
                     const std::function<void()> &reopenRegister, const data::SessionOperator *by = nullptr);

// A register found damaged (when it opens, or by the read beside the running program): offers
// "恢复数据…" at once, before and without a login, since a damaged register may refuse every
// login. Whoever restores must prove to be the super administrator of the backup chosen: the
// password is checked against that backup's operators. `problem` is the damage as found.
// `closeRegister` and `reopenRegister` as for restoreRegister (nothing to do before the
// register is open). True when the backup was put in place.
bool offerRestoreOfDamagedRegister(QWidget *parent, const QString &registerFile, const QString &problem,
                                   const std::function<void()> &closeRegister = {},
                                   const std::function<void()> &reopenRegister = {});

// "" when `password` is the super administrator's in the backup `backupFile` (a sound file of
// the program), else the reason in Chinese. Reads the backup only.
QString backupAdministratorProblem(const QString &backupFile, const QString &password);

// The day's backup of the register (nothing when one of `moment`'s day is there already; the last
// seven are kept), logged in the register as the operator `operatorName` of the session that made
// it, as a manual backup is, with 方式 每日自动备份; a failure is logged too, with its reason.
// Runs on any thread with a connection of its own. "" when all went well, else what to tell the
// operator.
QString makeLoggedDailyBackup(const QString &registerFile, const QDateTime &moment, const QString &operatorName);

// At the first login of a day: makeLoggedDailyBackup on a thread of its own. Only a failure is
// shown, once the copy has ended. Returns the thread, which deletes itself when done.
QThread *backUpRegisterDaily(QWidget *parent, const QString &registerFile, const QString &operatorName = {});

} // namespace lianbu
