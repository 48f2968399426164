#include "upgrade/GoodStart.h"

#include "updater/Install.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <sstream>

namespace lianbu::upgrade {

namespace {

Q_LOGGING_CATEGORY(goodStartLog, "lianbu.upgrade")

QString &reportedFolder()
{
    static QString folder;
    return folder;
}

class FirstWindowWatcher : public QObject
{
public:
    explicit FirstWindowWatcher(const QString &folder)
        : QObject(qApp)
        , m_folder(folder)
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && !m_pending) {
            auto *widget = qobject_cast<QWidget *>(watched);
            if (widget && widget->isWindow()) {
                // Reported from the event loop that runs the window (a modal one runs its own).
                m_pending = true;
                QTimer::singleShot(0, this, [this] { report(); });
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void report()
    {
        qApp->removeEventFilter(this);
        const std::string folder = QFile::encodeName(m_folder).toStdString();
        if (updater::reportGoodStart(folder)) {
            reportedFolder() = m_folder;
            // Without a live updater (a trial start) the new version is kept right away.
            std::ostringstream log;
            updater::recoverInterruptedInstall(folder, log);
        } else {
            qCWarning(goodStartLog).noquote() << "cannot report the good start in" << m_folder;
        }
        deleteLater();
    }

    QString m_folder;
    bool m_pending = false;
};

} // namespace

void watchForGoodStart(const QString &programPath)
{
    if (!qApp)
        return;
    const QString folder = QFileInfo(programPath).absolutePath() + QLatin1Char('/');
    if (!updater::installAwaitingStart(QFile::encodeName(folder).toStdString()))
        return;
    new FirstWindowWatcher(folder);
}

QString goodStartReportedFor()
{
    return reportedFolder();
}

} // namespace lianbu::upgrade
