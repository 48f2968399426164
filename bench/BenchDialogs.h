#pragma once

// A dialog service for the benchmarks: windows that ask for a file get `saveAs`, every box
// gets its default button and is counted, nothing is shown, so the program's own paths can
// be timed without anyone at the screen.

#include "platform/Dialogs.h"

namespace lianbu::bench {

class BenchDialogs final : public DialogService
{
public:
    BenchDialogs() { setDialogService(this); }
    ~BenchDialogs() override { setDialogService(nullptr); }

    QString saveAs;
    int boxes = 0;
    QString lastBoxText;

    BoxButton messageBox(QWidget *, const BoxRequest &request) override
    {
        ++boxes;
        lastBoxText = request.text;
        return request.defaultButton;
    }
    QString saveFileName(QWidget *, const SaveFileRequest &) override { return saveAs; }
    bool printDialog(QWidget *, QPrinter *) override { return false; }
    bool pageSetupDialog(QWidget *, QPrinter *) override { return false; }
    bool fontDialog(QWidget *, QFont *) override { return false; }
};

} // namespace lianbu::bench
