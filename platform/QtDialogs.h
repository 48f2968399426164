#pragma once

#include "platform/Dialogs.h"

#include <QMessageBox>

#include <memory>

class QFileDialog;

namespace lianbu {

// The dialog service of a running program: real Qt message boxes and common dialogs.
class QtDialogService final : public DialogService
{
public:
    BoxButton messageBox(QWidget *parent, const BoxRequest &request) override;
    QString saveFileName(QWidget *parent, const SaveFileRequest &request) override;
    QString openFileName(QWidget *parent, const OpenFileRequest &request) override;
    bool printDialog(QWidget *parent, QPrinter *printer) override;
    bool pageSetupDialog(QWidget *parent, QPrinter *printer) override;
    bool fontDialog(QWidget *parent, QFont *font) override;
};

// Builds the message box for a request without showing it, so its caption, icon, buttons and
// default button can be checked. A null parent means the active window.
std::unique_ptr<QMessageBox> createMessageBox(QWidget *parent, const BoxRequest &request);

// The folder a file dialog starts in: the requested one, else the user's documents folder (the
// home folder when there is none) -- never the working folder, where the register lies.
QString fileDialogStartFolder(const QString &requested);
// Every file dialog of the program browses without opening files: Qt's own dialog, icons and
// types from the names alone. Opening a file of the register would drop SQLite's locks on it.
void makeContentBlind(QFileDialog &dialog);
// The one door of every file dialog, open and save: started by fileDialogStartFolder, made
// content-blind, answered with the chosen path (empty when cancelled).
QString runFileDialog(QWidget *parent, const SaveFileRequest &request);

QMessageBox::StandardButton toStandardButton(BoxButton button);
BoxButton fromStandardButton(QMessageBox::StandardButton button);
// The caption of a button on every platform: "OK", "Cancel", "&Yes", "&No", ...
QString boxButtonText(BoxButton button);

} // namespace lianbu
