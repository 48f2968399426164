#include "platform/Dialogs.h"

#include "platform/AppInfo.h"
#include "platform/QtDialogs.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLineEdit>
#include <QStandardPaths>
#include <QStyle>
#include <QFontDialog>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPushButton>

namespace lianbu {

DialogService::~DialogService() = default;

QString DialogService::openFileName(QWidget *, const OpenFileRequest &)
{
    return {};
}

QString DialogService::passwordInput(QWidget *, const QString &, const QString &)
{
    return {};
}

namespace {

DialogService *installedDialogs = nullptr;

QWidget *ownerOf(QWidget *parent)
{
    return parent ? parent : QApplication::activeWindow();
}

QMessageBox::Icon toQtIcon(BoxIcon icon)
{
    switch (icon) {
    case BoxIcon::None:
        return QMessageBox::NoIcon;
    case BoxIcon::Information:
        return QMessageBox::Information;
    case BoxIcon::Warning:
        return QMessageBox::Warning;
    case BoxIcon::Question:
        return QMessageBox::Question;
    case BoxIcon::Stop:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

BoxButton ask(QWidget *parent, BoxIcon icon, const QString &caption, const QString &text, QList<BoxButton> buttons,
              BoxButton defaultButton, bool toolkitButtonTexts = false)
{
    BoxRequest request;
    request.toolkitButtonTexts = toolkitButtonTexts;
    request.icon = icon;
    request.caption = caption;
    request.text = text;
    request.buttons = std::move(buttons);
    request.defaultButton = defaultButton;
    return dialogs().messageBox(parent, request);
}

} // namespace

QMessageBox::StandardButton toStandardButton(BoxButton button)
{
    switch (button) {
    case BoxButton::None:
        return QMessageBox::NoButton;
    case BoxButton::Ok:
        return QMessageBox::Ok;
    case BoxButton::Cancel:
        return QMessageBox::Cancel;
    case BoxButton::Yes:
        return QMessageBox::Yes;
    case BoxButton::No:
        return QMessageBox::No;
    case BoxButton::Abort:
        return QMessageBox::Abort;
    case BoxButton::Retry:
        return QMessageBox::Retry;
    case BoxButton::Ignore:
        return QMessageBox::Ignore;
    }
    return QMessageBox::NoButton;
}

BoxButton fromStandardButton(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Ok:
        return BoxButton::Ok;
    case QMessageBox::Cancel:
        return BoxButton::Cancel;
    case QMessageBox::Yes:
        return BoxButton::Yes;
    case QMessageBox::No:
        return BoxButton::No;
    case QMessageBox::Abort:
        return BoxButton::Abort;
    case QMessageBox::Retry:
        return BoxButton::Retry;
    case QMessageBox::Ignore:
        return BoxButton::Ignore;
    default:
        return BoxButton::None;
    }
}

QString boxButtonText(BoxButton button)
{
    // Fixed texts, so the boxes read the same whatever platform theme is in force.
    switch (button) {
    case BoxButton::None:
        return {};
    case BoxButton::Ok:
        return QStringLiteral("OK");
    case BoxButton::Cancel:
        return QStringLiteral("Cancel");
    case BoxButton::Yes:
        return QStringLiteral("&Yes");
    case BoxButton::No:
        return QStringLiteral("&No");
    case BoxButton::Abort:
        return QStringLiteral("&Abort");
    case BoxButton::Retry:
        return QStringLiteral("&Retry");
    case BoxButton::Ignore:
        return QStringLiteral("&Ignore");
    }
    return {};
}

std::unique_ptr<QMessageBox> createMessageBox(QWidget *parent, const BoxRequest &request)
{
    auto box = std::make_unique<QMessageBox>(ownerOf(parent));
    box->setIcon(toQtIcon(request.icon));
    box->setWindowTitle(request.caption);
    // Texts written for Windows boxes break lines with CR or CR LF.
    QString text = request.text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box->setText(text);
    box->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::ApplicationModal);
    QList<BoxButton> buttons = request.buttons;
    if (buttons.isEmpty())
        buttons = {BoxButton::Ok};
    for (BoxButton b : buttons) {
        const QMessageBox::StandardButton standard = toStandardButton(b);
        if (standard == QMessageBox::NoButton || box->button(standard))
            continue;
        QPushButton *button = box->addButton(standard);
        if (!request.toolkitButtonTexts)
            button->setText(boxButtonText(b));
    }
    if (QAbstractButton *def = box->button(toStandardButton(request.defaultButton)))
        box->setDefaultButton(qobject_cast<QPushButton *>(def));
    else
        box->setDefaultButton(qobject_cast<QPushButton *>(box->buttons().value(0)));
    // Esc and the close box answer Cancel, else No, else the only button: never a consent.
    for (BoxButton b : {BoxButton::Cancel, BoxButton::No}) {
        if (QAbstractButton *escape = box->button(toStandardButton(b))) {
            box->setEscapeButton(escape);
            return box;
        }
    }
    if (box->buttons().size() == 1)
        box->setEscapeButton(box->buttons().front());
    return box;
}

BoxButton QtDialogService::messageBox(QWidget *parent, const BoxRequest &request)
{
    std::unique_ptr<QMessageBox> box = createMessageBox(parent, request);
    box->exec();
    QAbstractButton *clicked = box->clickedButton();
    if (!clicked)
        return BoxButton::None;
    return fromStandardButton(box->standardButton(clicked));
}

namespace {

// Icons and type names for the file dialogs decided from the name alone. Qt's own provider asks
// the MIME database, which opens and reads files whose names it does not know, among them
// data.db and its -wal and -shm files. Under POSIX, closing any descriptor of a file drops every
// fcntl lock this process holds on it, so SQLite's locks on the register would silently vanish
// and another instance could checkpoint and delete the journal this one still writes into.
class NameOnlyIconProvider final : public QAbstractFileIconProvider
{
public:
    QIcon icon(IconType type) const override
    {
        return QApplication::style()->standardIcon(type == Folder || type == Drive || type == Network
                                                       ? QStyle::SP_DirIcon
                                                   : type == Computer ? QStyle::SP_ComputerIcon
                                                                      : QStyle::SP_FileIcon);
    }
    QIcon icon(const QFileInfo &info) const override { return icon(info.isDir() ? Folder : File); }
    QString type(const QFileInfo &info) const override
    {
        if (info.isDir())
            return QStringLiteral("文件夹");
        const QString suffix = info.suffix();
        return suffix.isEmpty() ? QStringLiteral("文件") : suffix.toUpper() + QStringLiteral(" 文件");
    }
};

} // namespace

QString fileDialogStartFolder(const QString &requested)
{
    if (!requested.isEmpty())
        return requested;
    // Never the working folder: that is where the register lies.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
}

void makeContentBlind(QFileDialog &dialog)
{
    // A native dialog would choose its own icons; Qt's own dialog takes ours.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::DontUseCustomDirectoryIcons, true);
    static NameOnlyIconProvider provider;
    dialog.setIconProvider(&provider);
}

QString runFileDialog(QWidget *parent, const SaveFileRequest &request)
{
    QFileDialog dialog(ownerOf(parent), request.caption, fileDialogStartFolder(request.directory), request.filter);
    makeContentBlind(dialog);
    if (request.openExisting) {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // The program asks its own overwrite question.
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    }
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (!request.selectedFilter.isEmpty())
        dialog.selectNameFilter(request.selectedFilter);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    if (request.chosenFilter)
        *request.chosenFilter = dialog.selectedNameFilter();
    return dialog.selectedFiles().value(0);
}

QString QtDialogService::saveFileName(QWidget *parent, const SaveFileRequest &request)
{
    return runFileDialog(parent, request);
}

QString QtDialogService::openFileName(QWidget *parent, const OpenFileRequest &request)
{
    SaveFileRequest open;
    open.caption = request.caption;
    open.directory = request.directory;
    open.filter = request.filter;
    open.openExisting = true;
    return runFileDialog(parent, open);
}

QString QtDialogService::passwordInput(QWidget *parent, const QString &caption, const QString &label)
{
    QInputDialog dialog(ownerOf(parent));
    dialog.setWindowTitle(caption);
    dialog.setLabelText(label);
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setOkButtonText(QStringLiteral("确定"));
    dialog.setCancelButtonText(QStringLiteral("取消"));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    // Accepted empty is an empty password, not a cancel.
    const QString typed = dialog.textValue();
    return typed.isNull() ? QString(QLatin1String("")) : typed;
}

bool QtDialogService::printDialog(QWidget *parent, QPrinter *printer)
{
    QPrintDialog dialog(printer, ownerOf(parent));
    return dialog.exec() == QDialog::Accepted;
}

bool QtDialogService::pageSetupDialog(QWidget *parent, QPrinter *printer)
{
    QPageSetupDialog dialog(printer, ownerOf(parent));
    return dialog.exec() == QDialog::Accepted;
}

bool QtDialogService::fontDialog(QWidget *parent, QFont *font)
{
    if (!font)
        return false;
    bool accepted = false;
    const QFont chosen = QFontDialog::getFont(&accepted, *font, ownerOf(parent));
    if (accepted)
        *font = chosen;
    return accepted;
}

DialogService &dialogs()
{
    static QtDialogService real;
    return installedDialogs ? *installedDialogs : real;
}

void setDialogService(DialogService *service)
{
    installedDialogs = service;
}

void showInformation(const QString &text, QWidget *parent)
{
    ask(parent, BoxIcon::None, applicationTitle(), text, {BoxButton::Ok}, BoxButton::Ok);
}

void showWarning(const QString &text, QWidget *parent)
{
    ask(parent, BoxIcon::Warning, QStringLiteral("Warning"), text, {BoxButton::Ok}, BoxButton::Ok);
}

bool confirmListChange(const QString &text, QWidget *parent)
{
    return ask(parent, BoxIcon::Warning, QStringLiteral("警告！"), text, {BoxButton::Ok, BoxButton::Cancel},
               BoxButton::Cancel, true)
           == BoxButton::Ok;
}

bool confirmOperatorDeletion(const QString &text, QWidget *parent)
{
    return ask(parent, BoxIcon::Question, QStringLiteral("Confirm"), text, {BoxButton::Yes, BoxButton::No},
               BoxButton::Yes)
           == BoxButton::Yes;
}

bool askYesNo(const QString &caption, const QString &text, QWidget *parent)
{
    return ask(parent, BoxIcon::Question, caption, text, {BoxButton::Yes, BoxButton::No}, BoxButton::No, true)
           == BoxButton::Yes;
}

bool mayOverwrite(const QString &path, QWidget *parent)
{
    return !QFileInfo::exists(path)
           || askYesNo(QStringLiteral("提示"), QStringLiteral("已存在文件（") + path + QStringLiteral("），是否覆盖？"),
                       parent);
}

void showError(const QString &text, QWidget *parent)
{
    ask(parent, BoxIcon::Stop, applicationTitle(), errorDisplayText(text), {BoxButton::Ok}, BoxButton::Ok, true);
}

QString errorDisplayText(const QString &message)
{
    // An empty text stays empty: there is no sentence to end.
    if (message.isEmpty())
        return message;
    if (message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

} // namespace lianbu
