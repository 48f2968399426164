#pragma once

// The download window: the file being fetched with its size, rate, time left and progress,
// the progress of the whole run, and at the end the completion page. Not modal.

#include <QDialog>
#include <QPixmap>

namespace Ui {
class DownloadWindow;
}

namespace lianbu::upgrade {

class DownloadWindow : public QDialog
{
    Q_OBJECT
public:
    // picture: replaces the built-in side picture when not null.
    explicit DownloadWindow(const QPixmap &picture = QPixmap(), bool stayOnTop = true, QWidget *parent = nullptr);
    ~DownloadWindow() override;

    Ui::DownloadWindow *ui;

    // The labels of one file and of the run.
    void showFile(const QString &url, int number, int count);
    void showFileSize(quint32 announcedSize);
    // A file starts: its bar at 0, the run's bar at totalPercent, the time left "preparing".
    void showPreparing(int totalPercent);
    void showProgress(int percent, int totalPercent, float rate, int secondsLeft);
    // Switches to the completion page (title, note, OK enabled and focused, cancel disabled).
    void showCompleted(const QString &applicationTitle);
    bool completed() const { return m_completed; }

    // Closes and releases the window without asking (the component is done with it).
    void release();

signals:
    // cancelButton, the close box or Esc: the component asks whether to abandon the upgrade.
    void cancelRequested();
    // finishButton on the completion page.
    void finished();

public slots:
    void finish();
    void requestCancel();
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    bool m_completed = false;
    bool m_releasing = false;
};

// The built-in side picture (146 x 269).
QPixmap wizardSidePicture();

} // namespace lianbu::upgrade
