// Renders the toolkit's stock dialogs as the program opens them (through platform/Dialogs, after
// the program's start-up steps) to PNG files, for a person to check that they read in Chinese.
// Not a test. Under a real display server, e.g.:
//   xvfb-run -a -s "-screen 0 1280x900x24" build/dev/tools/lianbu-stock-dialogs-screenshots OUTDIR
#include "app/StartUp.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QMenu>
#include <QPrinter>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <functional>

namespace {

QString outputFolder;
int saved = 0;

// Waits for the window `find` returns, saves it as name.png and closes it.
void grabWhenShown(const QString &name, std::function<QWidget *()> find)
{
    auto *timer = new QTimer;
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, [timer, name, find] {
        QWidget *window = find();
        if (!window || !window->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        // One more turn of the event loop, so the window has laid itself out and painted.
        QTimer::singleShot(300, window, [window, name] {
            if (window->grab().save(QDir(outputFolder).filePath(name + QStringLiteral(".png"))))
                ++saved;
            window->close();
        });
    });
    timer->start();
}

QWidget *modal()
{
    return QApplication::activeModalWidget();
}

} // namespace

int main(int argc, char **argv)
{
    lianbu::Application app(argc, argv);
    outputFolder = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".")).absolutePath();
    QDir().mkpath(outputFolder);
    lianbu::prepareApplication();

    // The export's save dialog, as the export command asks for it, in a folder with earlier exports.
    QTemporaryDir folder;
    for (const char *name : {"客户名单.xls", "2026年客户.xls"}) {
        QFile file(folder.filePath(QString::fromUtf8(name)));
        file.open(QIODevice::WriteOnly);
    }
    QDir::setCurrent(folder.path());
    grabWhenShown(QStringLiteral("export-file-dialog"), modal);
    lianbu::SaveFileRequest request;
    request.filter = QStringLiteral("Microsoft Excel xls文件 (*.xls)");
    request.defaultSuffix = QStringLiteral("xls");
    lianbu::dialogs().saveFileName(nullptr, request);

    // The export's overwrite question: Yes and No are the toolkit's.
    grabWhenShown(QStringLiteral("message-box-yes-no"), modal);
    lianbu::askYesNo(QStringLiteral("提示"), QStringLiteral("文件“客户.xls”已经存在，要覆盖它吗？"));

    // The general error display: its OK is the toolkit's.
    grabWhenShown(QStringLiteral("message-box-error"), modal);
    lianbu::showError(QStringLiteral("Cannot open the database file \"/home/li/data.db\": the file does not exist"));

    // The print dialog.
    grabWhenShown(QStringLiteral("print-dialog"), modal);
    QPrinter printer;
    lianbu::dialogs().printDialog(nullptr, &printer);

    // The context menu of a text field.
    QLineEdit edit(QStringLiteral("张三 13800138000"));
    edit.show();
    edit.selectAll();
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    grabWhenShown(QStringLiteral("text-field-menu"), [&menu] { return static_cast<QWidget *>(menu.get()); });
    menu->exec(edit.mapToGlobal(QPoint(10, 10)));

    std::printf("%d pictures in %s\n", saved, qPrintable(QDir(outputFolder).absolutePath()));
    return saved == 5 ? 0 : 1;
}
