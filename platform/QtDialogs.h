#pragma once

#include "platform/Dialogs.h"

#include <QMessageBox>

#include <memory>

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

QMessageBox::StandardButton toStandardButton(BoxButton button);
BoxButton fromStandardButton(QMessageBox::StandardButton button);
// The caption of a button on every platform: "OK", "Cancel", "&Yes", "&No", ...
QString boxButtonText(BoxButton button);

} // namespace lianbu
