#pragma once

#include <QList>
#include <QString>

class QWidget;
class QPrinter;
class QFont;

namespace lianbu {

enum class BoxIcon { None, Information, Warning, Question, Stop };
enum class BoxButton { None, Ok, Cancel, Yes, No, Abort, Retry, Ignore };

// One modal message box as the program asks for it. Button captions are the fixed texts
// "OK", "Cancel", "&Yes", "&No" where the program names them; with toolkitButtonTexts the box
// shows the toolkit's own captions in the interface language (确定, 取消, 是, 否).
struct BoxRequest
{
    BoxIcon icon = BoxIcon::None;
    QString caption;
    QString text;
    QList<BoxButton> buttons{BoxButton::Ok};
    BoxButton defaultButton = BoxButton::Ok;
    bool toolkitButtonTexts = false;
};

// File dialog parameters; the answer is the chosen path or an empty string when cancelled. An
// empty directory means the user's documents folder, never the working folder.
struct SaveFileRequest
{
    QString caption;
    QString directory;
    QString fileName;
    QString filter; // Qt filter text, e.g. "Excel 文件 (*.xls)"
    QString defaultSuffix;
    // Choose an existing file to read (a backup to restore) instead of a name to write.
    bool openExisting = false;
    QString selectedFilter;          // the filter chosen when the dialog opens; empty: the first
    QString *chosenFilter = nullptr; // receives the filter the operator chose, when set
};

// File-open dialog parameters; the answer is the chosen path or an empty string when cancelled.
struct OpenFileRequest
{
    QString caption;
    QString directory;
    QString filter;
};

// Every modal box and common dialog of the program goes through this service, so tests can
// install a scripted double that records the request and answers from a queue.
class DialogService
{
public:
    virtual ~DialogService();
    virtual BoxButton messageBox(QWidget *parent, const BoxRequest &request) = 0;
    virtual QString saveFileName(QWidget *parent, const SaveFileRequest &request) = 0;
    // Cancelled unless a service answers it.
    virtual QString openFileName(QWidget *parent, const OpenFileRequest &request);
    // A password typed into a masked field; a null string when cancelled (and unless a service
    // answers it).
    virtual QString passwordInput(QWidget *parent, const QString &caption, const QString &label);
    virtual bool printDialog(QWidget *parent, QPrinter *printer) = 0;
    virtual bool pageSetupDialog(QWidget *parent, QPrinter *printer) = 0;
    virtual bool fontDialog(QWidget *parent, QFont *font) = 0; // true and *font changed when accepted
};

// The service in force: the real Qt dialogs unless a test installed another one.
DialogService &dialogs();
// Installs a service (not owned); nullptr restores the real dialogs.
void setDialogService(DialogService *service);

// The boxes of the program's conventions, one function per kind.

// Information box: caption = application title, no icon, one "OK".
void showInformation(const QString &text, QWidget *parent = nullptr);
// Warning box for required fields: caption "Warning", warning icon, one "OK".
void showWarning(const QString &text, QWidget *parent = nullptr);
// Confirmation of a change to the customer list: caption "警告！", warning icon, OK and Cancel
// in the toolkit's words (确定, 取消), Cancel the default. True only for OK.
bool confirmListChange(const QString &text, QWidget *parent = nullptr);
// Confirmation of deleting an operator: caption "Confirm", question icon, "&Yes" and "&No".
// True only for "&Yes".
bool confirmOperatorDeletion(const QString &text, QWidget *parent = nullptr);
// A Yes/No question with the given caption and question icon, Yes and No in the toolkit's words
// (是, 否), No the default (so Enter never overwrites anything by accident); true only for Yes.
bool askYesNo(const QString &caption, const QString &text, QWidget *parent = nullptr);
// Before a save writes over a file: true when `path` does not exist; otherwise asks
// "已存在文件（<path>），是否覆盖？" as askYesNo with caption "提示" and is true only for Yes.
bool mayOverwrite(const QString &path, QWidget *parent = nullptr);
// The general error display: caption = application title, stop icon, one OK button in the
// toolkit's words (确定); the text is passed through errorDisplayText first.
void showError(const QString &text, QWidget *parent = nullptr);

// The text the general error display shows: a full stop is appended when the last character
// sorts after "." (so "abc" gets one, "abc." and "abc!" do not).
QString errorDisplayText(const QString &message);

} // namespace lianbu
