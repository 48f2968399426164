#pragma once

#include <QString>

#include <functional>

class QThread;
class QWidget;

namespace lianbu {

// The operator's side of backups (the copying itself is db/Backup).

// "备份数据…": a backup into backups/ next to the register; says where it went or why not.
void backUpRegister(QWidget *parent, const QString &registerFile);

// "恢复数据…": the operator picks a backup (the file dialog starts in the backup folder), confirms,
// and the program lets go of the register (`closeRegister` closes every connection of this
// process to it), restores and takes it up again (`reopenRegister`, also after a refusal).
void restoreRegister(QWidget *parent, const QString &registerFile, const std::function<void()> &closeRegister,
                     const std::function<void()> &reopenRegister);

// At the first login of a day: a backup on a thread of its own (the last seven are kept). Only a
// failure is shown, once the copy has ended. Returns the thread, which deletes itself when done.
QThread *backUpRegisterDaily(QWidget *parent, const QString &registerFile);

} // namespace lianbu
