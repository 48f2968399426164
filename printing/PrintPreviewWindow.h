#pragma once

// PrintPreviewWindow: the print preview window. Holds the page store and the page view; pages,
// zooms, stops a running generation, opens the print settings and prints a page range.
// Owned by whoever prints; hidden (not destroyed) on close.

#include "printing/PageStore.h"

#include <QTimer>
#include <QWidget>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QToolButton;

namespace Ui {
class PrintPreviewWindow;
}

// The three looks of the toolbar that dragging the splitter under it switches between.
enum class ToolbarLook { IconsAndCaptions, IconsOnly, CaptionsOnly };
// The look after the toolbar was dragged to `height` pixels.
ToolbarLook nextToolbarLook(ToolbarLook current, int height);
// The toolbar's height in each look.
int toolbarHeight(ToolbarLook look);

class PrintPreviewWindow : public QWidget
{
    Q_OBJECT

public:
    explicit PrintPreviewWindow(QWidget *parent = nullptr);
    ~PrintPreviewWindow() override;

    Ui::PrintPreviewWindow *ui;
    PageStore *store() const { return m_store; }
    PageView *previewBox() const;
    QMenu *scaleMenu() const { return m_scaleMenu; }
    // The scale menu's entry for `mode`.
    QAction *zoomAction(ZoomMode mode) const;

    // view state
    int pageCount() const { return m_pageCount; }
    int currentPage() const;
    ToolbarLook toolbarLook() const { return m_look; }
    void setToolbarLook(ToolbarLook look);
    QString statusText() const;
    // Whether the setup command is offered: its owner answers setupRequested.
    void setSetupOffered(bool offered);

signals:
    // The setup command: the owner edits the print settings and generates again.
    void setupRequested();

public slots:
    void print();
    void tbtPrinterSetupDialogClick();
    void chooseZoom();
    void tbtPrevPageClick();
    void tbtNextPageClick();
    void stopGeneration();
    void tbCloseClick();
    void onToolbarSplitterMoved(int pos, int index);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void bringToFront();
    void updateControls();
    void onDocumentBegun();
    void onPageStarted(int pageNumber);
    void onDocumentEnded();
    void setupRepeat(QToolButton *button, int step);

    PageStore *m_store = nullptr;
    QMenu *m_scaleMenu = nullptr;
    QActionGroup *m_zoomGroup = nullptr;
    QLabel *m_status = nullptr;
    int m_pageCount = 0;
    bool m_closeAfterStop = false;
    bool m_shownOnce = false;
    bool m_setupOffered = false;
    ToolbarLook m_look = ToolbarLook::IconsAndCaptions;
    // auto-repeat of the page buttons
    QTimer m_repeatTimer;
    int m_repeatStep = 0;
    bool m_repeated = false;
};
