#pragma once

// TPreviewFormEh: the print preview window. Holds the page store and the page view; pages,
// zooms, stops a running generation, opens the print settings and prints a page range.
// One window for the whole program, created on first use and hidden (not destroyed) on close.

#include "printing/PrViewEh.h"

#include <QTimer>
#include <QWidget>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QToolButton;

namespace Ui {
class TPreviewFormEh;
}

// The three looks of the toolbar that dragging the splitter under it switches between.
enum class TToolbarLookEh { IconsAndCaptions, IconsOnly, CaptionsOnly };
// The look after the toolbar was dragged to `height` pixels.
TToolbarLookEh nextToolbarLook(TToolbarLookEh current, int height);
// The toolbar's height in each look.
int toolbarHeight(TToolbarLookEh look);

class TPreviewFormEh : public QWidget
{
    Q_OBJECT

public:
    explicit TPreviewFormEh(QWidget *parent = nullptr);
    ~TPreviewFormEh() override;

    // The program's preview window, created on the first call.
    static TPreviewFormEh *instance();
    // The window if it was created, else nullptr.
    static TPreviewFormEh *existingInstance();

    Ui::TPreviewFormEh *ui;
    TPrinterPreview *Store() const { return m_store; }
    TPreviewBox *PreviewBox() const;
    QMenu *ScaleMenu() const { return m_scaleMenu; }
    QAction *mni500 = nullptr, *mni200 = nullptr, *mni150 = nullptr, *mni100 = nullptr, *mni75 = nullptr,
            *mni50 = nullptr, *mni25 = nullptr, *mni10 = nullptr, *mniWidth = nullptr, *mniFull = nullptr;
    QAction *ZoomAction(TZoomModeEh mode) const;

    // View state
    int PageCount() const { return m_pageCount; }
    int CurrentPage() const;
    TToolbarLookEh ToolbarLook() const { return m_look; }
    void setToolbarLook(TToolbarLookEh look);
    QString StatusText() const;

public slots:
    void tbtPrintClick();
    void tbtPrinterSetupDialogClick();
    void tbtScaleClick();
    void tbtPrevPageClick();
    void tbtNextPageClick();
    void tbStopClick();
    void tbCloseClick();
    void Splitter1Moved(int pos, int index);

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

    TPrinterPreview *m_store = nullptr;
    QMenu *m_scaleMenu = nullptr;
    QActionGroup *m_zoomGroup = nullptr;
    QLabel *m_status = nullptr;
    int m_pageCount = 0;
    bool m_closeAfterStop = false;
    bool m_shownOnce = false;
    TToolbarLookEh m_look = TToolbarLookEh::IconsAndCaptions;
    // auto-repeat of the page buttons
    QTimer m_repeatTimer;
    int m_repeatStep = 0;
    bool m_repeated = false;
};
