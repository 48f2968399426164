#include "printing/PrintPreviewWindow.h"

#include "platform/Dialogs.h"
#include "printing/PdfOutput.h"
#include "ui_PrintPreviewWindow.h"

#include <QActionGroup>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPrinter>
#include <QSplitter>
#include <QStyle>
#include <QStatusBar>
#include <QToolButton>

// Q_INIT_RESOURCE must be used outside any namespace; a static library needs it called.
static void initPrintingResources()
{
    Q_INIT_RESOURCE(printing);
}

ToolbarLook nextToolbarLook(ToolbarLook current, int height)
{
    switch (current) {
    case ToolbarLook::IconsAndCaptions:
        return height <= 41 ? ToolbarLook::IconsOnly : current;
    case ToolbarLook::IconsOnly:
        if (height <= 24)
            return ToolbarLook::CaptionsOnly;
        if (height > 54)
            return ToolbarLook::IconsAndCaptions;
        return current;
    case ToolbarLook::CaptionsOnly:
        return height > 40 ? ToolbarLook::IconsOnly : current;
    }
    return current;
}

int toolbarHeight(ToolbarLook look)
{
    switch (look) {
    case ToolbarLook::IconsAndCaptions:
        return 48;
    case ToolbarLook::IconsOnly:
        return 34;
    case ToolbarLook::CaptionsOnly:
        return 26;
    }
    return 48;
}

PrintPreviewWindow::PrintPreviewWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(new Ui::PrintPreviewWindow)
{
    initPrintingResources();
    ui->setupUi(this);
    setObjectName(QStringLiteral("PreviewFormEh"));
    setWindowIcon(QIcon(QStringLiteral(":/printing/print.png")));
    // an open preview does not keep the program running once the main window has closed
    setAttribute(Qt::WA_QuitOnClose, false);

    m_store = new PageStore(this);
    ui->pageView->setStore(m_store);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("StatusText"));
    ui->statusBar->addWidget(m_status, 1);

    // zoom menu: radio items, the current one marked
    m_scaleMenu = new QMenu(this);
    m_scaleMenu->setObjectName(QStringLiteral("pmScale"));
    m_zoomGroup = new QActionGroup(this);
    m_zoomGroup->setExclusive(true);
    struct Item
    {
        const char *name;
        const char *caption;
        ZoomMode mode;
    };
    const Item items[] = {
        {"zoom500", "500%", ZoomMode::z500},
        {"zoom200", "200%", ZoomMode::z200},
        {"zoom150", "150%", ZoomMode::z150},
        {"zoom100", "100%", ZoomMode::z100},
        {"zoom75", "75%", ZoomMode::z75},
        {"zoom50", "50%", ZoomMode::z50},
        {"zoom25", "25%", ZoomMode::z25},
        {"zoom10", "10%", ZoomMode::z10},
        {"zoomPageWidth", "页宽度", ZoomMode::PageWidth},
        {"zoomFullPage", "全部页面", ZoomMode::FullPage},
    };
    for (const Item &item : items) {
        QAction *action = m_scaleMenu->addAction(QString::fromUtf8(item.caption));
        action->setObjectName(QString::fromLatin1(item.name));
        action->setCheckable(true);
        action->setData(int(item.mode));
        m_zoomGroup->addAction(action);
        const ZoomMode mode = item.mode;
        connect(action, &QAction::triggered, this, [this, mode] { previewBox()->setZoomMode(mode); });
    }
    zoomAction(ZoomMode::FullPage)->setChecked(true);

    connect(ui->printButton, &QToolButton::clicked, this, &PrintPreviewWindow::print);
    // The pages as a file, for a user without a printer or who wants to keep them.
    auto *pdfButton = new QToolButton(ui->toolBar);
    pdfButton->setObjectName(QStringLiteral("savePdfButton"));
    pdfButton->setText(QStringLiteral("保存为PDF…"));
    pdfButton->setToolTip(QStringLiteral("Save as PDF"));
    pdfButton->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    pdfButton->setIconSize(ui->printButton->iconSize());
    pdfButton->setMinimumSize(ui->printButton->minimumSize());
    pdfButton->setToolButtonStyle(ui->printButton->toolButtonStyle());
    pdfButton->setAutoRaise(true);
    if (auto *bar = qobject_cast<QBoxLayout *>(ui->toolBar->layout()))
        bar->insertWidget(bar->indexOf(ui->printButton) + 1, pdfButton);
    connect(pdfButton, &QToolButton::clicked, this, [this] { lianbu::printing::savePagesAsPdf(*m_store, this); });
    connect(ui->printerSetupButton, &QToolButton::clicked, this, &PrintPreviewWindow::tbtPrinterSetupDialogClick);
    connect(ui->zoomButton, &QToolButton::clicked, this, &PrintPreviewWindow::chooseZoom);
    connect(ui->stopButton, &QToolButton::clicked, this, &PrintPreviewWindow::stopGeneration);
    connect(ui->closeButton, &QToolButton::clicked, this, &PrintPreviewWindow::tbCloseClick);
    setupRepeat(ui->previousPageButton, -1);
    setupRepeat(ui->nextPageButton, +1);
    m_repeatTimer.setSingleShot(true);
    connect(&m_repeatTimer, &QTimer::timeout, this, [this] {
        QToolButton *button = m_repeatStep < 0 ? ui->previousPageButton : ui->nextPageButton;
        if (!button->isDown() || !button->isEnabled())
            return;
        m_repeated = true;
        m_repeatStep < 0 ? tbtPrevPageClick() : tbtNextPageClick();
        m_repeatTimer.start(100);
    });

    connect(ui->toolbarSplitter, &QSplitter::splitterMoved, this, &PrintPreviewWindow::onToolbarSplitterMoved);
    connect(ui->pageView, &PageView::pageChanged, this, &PrintPreviewWindow::updateControls);
    connect(ui->pageView, &PageView::zoomChanged, this, &PrintPreviewWindow::updateControls);
    connect(m_store, &PageStore::documentBegun, this, &PrintPreviewWindow::onDocumentBegun);
    connect(m_store, &PageStore::pageStarted, this, &PrintPreviewWindow::onPageStarted);
    connect(m_store, &PageStore::documentEnded, this, &PrintPreviewWindow::onDocumentEnded);
    connect(m_store, &PageStore::titleChanged, this, &PrintPreviewWindow::updateControls);

    ui->toolbarSplitter->setStretchFactor(0, 0);
    ui->toolbarSplitter->setStretchFactor(1, 1);
    setToolbarLook(ToolbarLook::IconsAndCaptions);
    updateControls();
}

PrintPreviewWindow::~PrintPreviewWindow()
{
    delete ui;
}

PageView *PrintPreviewWindow::previewBox() const
{
    return ui->pageView;
}

QAction *PrintPreviewWindow::zoomAction(ZoomMode mode) const
{
    for (QAction *action : m_zoomGroup->actions())
        if (action->data().toInt() == int(mode))
            return action;
    return nullptr;
}

int PrintPreviewWindow::currentPage() const
{
    return ui->pageView->pageIndex();
}

void PrintPreviewWindow::setupRepeat(QToolButton *button, int step)
{
    connect(button, &QToolButton::pressed, this, [this, step] {
        m_repeatStep = step;
        m_repeated = false;
        m_repeatTimer.start(400);
    });
    connect(button, &QToolButton::released, this, [this] { m_repeatTimer.stop(); });
    connect(button, &QToolButton::clicked, this, [this, step] {
        // a press that has already repeated does not step again on release
        if (m_repeated) {
            m_repeated = false;
            return;
        }
        step < 0 ? tbtPrevPageClick() : tbtNextPageClick();
    });
}

QString PrintPreviewWindow::statusText() const
{
    return QStringLiteral("第 %1 页 共 %2 页").arg(currentPage()).arg(m_pageCount);
}

void PrintPreviewWindow::updateControls()
{
    const bool generating = m_store->printing();
    const int page = currentPage();
    // Without a printer 打印 still answers: it says so and offers the PDF.
    ui->printButton->setEnabled(!generating);
    if (auto *pdfButton = ui->toolBar->findChild<QToolButton *>(QStringLiteral("savePdfButton")))
        pdfButton->setEnabled(!generating && m_store->pageCount() > 0);
    ui->printerSetupButton->setEnabled(!generating && m_setupOffered);
    ui->zoomButton->setEnabled(true);
    ui->previousPageButton->setEnabled(page > 1);
    ui->nextPageButton->setEnabled(page < m_pageCount);
    ui->stopButton->setEnabled(generating);
    ui->closeButton->setEnabled(!generating);
    if (QAction *zoom = zoomAction(ui->pageView->zoomMode()))
        zoom->setChecked(true);
    m_status->setText(statusText());
    setWindowTitle(QStringLiteral("预览 - ") + m_store->title());
}

void PrintPreviewWindow::setToolbarLook(ToolbarLook look)
{
    m_look = look;
    const Qt::ToolButtonStyle style = look == ToolbarLook::IconsAndCaptions ? Qt::ToolButtonTextUnderIcon
                                      : look == ToolbarLook::IconsOnly      ? Qt::ToolButtonIconOnly
                                                                            : Qt::ToolButtonTextOnly;
    for (QToolButton *button : ui->toolBar->findChildren<QToolButton *>()) {
        button->setToolButtonStyle(style);
        button->setMinimumSize(look == ToolbarLook::IconsAndCaptions ? QSize(39, 38) : QSize(24, 22));
    }
    const int h = toolbarHeight(look);
    ui->toolBar->setMinimumHeight(20);
    QList<int> sizes = ui->toolbarSplitter->sizes();
    if (sizes.size() == 2) {
        const int total = sizes[0] + sizes[1];
        ui->toolbarSplitter->setSizes({h, std::max(total - h, 1)});
    }
}

void PrintPreviewWindow::onToolbarSplitterMoved(int pos, int index)
{
    Q_UNUSED(index);
    const ToolbarLook next = nextToolbarLook(m_look, pos);
    if (next != m_look)
        setToolbarLook(next);
}

void PrintPreviewWindow::bringToFront()
{
    if (isMinimized())
        showNormal();
    if (!isVisible()) {
        if (!m_shownOnce)
            showMaximized();
        else
            show();
    }
    raise();
    activateWindow();
}

void PrintPreviewWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        setToolbarLook(m_look);
    }
}

void PrintPreviewWindow::onDocumentBegun()
{
    m_closeAfterStop = false;
    m_pageCount = 1;
    ui->pageView->refresh();
    ui->pageView->setPageIndex(1);
    updateControls();
}

void PrintPreviewWindow::onPageStarted(int pageNumber)
{
    m_pageCount = pageNumber - 1;
    ui->pageView->refresh();
    bringToFront();
    updateControls();
}

void PrintPreviewWindow::onDocumentEnded()
{
    m_pageCount = m_store->pageCount();
    ui->pageView->refresh();
    if (currentPage() < 1 && m_pageCount > 0)
        ui->pageView->setPageIndex(1);
    updateControls();
    if (m_closeAfterStop) {
        m_closeAfterStop = false;
        hide();
        return;
    }
    bringToFront();
}

void PrintPreviewWindow::print()
{
    if (m_store->printing())
        return;
    if (!m_store->printerInstalled()) {
        if (m_store->pageCount() > 0
            && lianbu::askYesNo(QStringLiteral("提示"), lianbu::printing::noPrinterQuestion(), this))
            lianbu::printing::savePagesAsPdf(*m_store, this);
        return;
    }
    QPrinter *printer = m_store->printer();
    const int count = m_store->pageCount();
    printer->setPrintRange(QPrinter::AllPages);
    printer->setFromTo(count > 0 ? 1 : 0, count);
    printer->setDocName(m_store->title());
    if (!lianbu::dialogs().printDialog(this, printer))
        return;
    if (count == 0)
        return;
    int from = 1, to = count;
    if (printer->printRange() == QPrinter::PageRange && printer->fromPage() > 0) {
        from = printer->fromPage();
        to = printer->toPage() > 0 ? printer->toPage() : count;
    } else if (printer->printRange() == QPrinter::CurrentPage) {
        from = to = std::max(1, currentPage());
    }
    if (m_store->printPages(printer, from, to) == 0)
        lianbu::showError(QStringLiteral("无法在打印机“%1”上开始打印").arg(printer->printerName()), this);
}

void PrintPreviewWindow::setSetupOffered(bool offered)
{
    m_setupOffered = offered;
    updateControls();
}

void PrintPreviewWindow::tbtPrinterSetupDialogClick()
{
    if (m_store->printing() || !m_setupOffered)
        return;
    emit setupRequested();
}

void PrintPreviewWindow::chooseZoom()
{
    m_scaleMenu->popup(ui->zoomButton->mapToGlobal(QPoint(0, ui->zoomButton->height())));
}

void PrintPreviewWindow::tbtPrevPageClick()
{
    if (currentPage() > 1)
        ui->pageView->setPageIndex(currentPage() - 1);
}

void PrintPreviewWindow::tbtNextPageClick()
{
    if (currentPage() < m_pageCount)
        ui->pageView->setPageIndex(currentPage() + 1);
}

void PrintPreviewWindow::stopGeneration()
{
    m_store->requestStop();
}

void PrintPreviewWindow::tbCloseClick()
{
    close();
}

void PrintPreviewWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        if (m_store->printing())
            m_store->requestStop();
        else
            close();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PrintPreviewWindow::closeEvent(QCloseEvent *event)
{
    if (m_store->printing()) {
        // refused while generating: stop, and close once generation has ended
        m_closeAfterStop = true;
        m_store->requestStop();
        event->ignore();
        return;
    }
    event->accept();
}
