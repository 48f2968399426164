#include "printing/PrvFrmEh.h"

#include "platform/Dialogs.h"
#include "printing/PrnDbgeh.h"
#include "ui_PrvFrmEh.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPrinter>
#include <QSplitter>
#include <QStatusBar>
#include <QToolButton>

// Q_INIT_RESOURCE must be used outside any namespace; a static library needs it called.
static void initPrintingResources() { Q_INIT_RESOURCE(printing); }

namespace {
QPointer<TPreviewFormEh> g_preview;
}

TToolbarLookEh nextToolbarLook(TToolbarLookEh current, int height)
{
    switch (current) {
    case TToolbarLookEh::IconsAndCaptions:
        return height <= 41 ? TToolbarLookEh::IconsOnly : current;
    case TToolbarLookEh::IconsOnly:
        if (height <= 24)
            return TToolbarLookEh::CaptionsOnly;
        if (height > 54)
            return TToolbarLookEh::IconsAndCaptions;
        return current;
    case TToolbarLookEh::CaptionsOnly:
        return height > 40 ? TToolbarLookEh::IconsOnly : current;
    }
    return current;
}

int toolbarHeight(TToolbarLookEh look)
{
    switch (look) {
    case TToolbarLookEh::IconsAndCaptions: return 48;
    case TToolbarLookEh::IconsOnly: return 34;
    case TToolbarLookEh::CaptionsOnly: return 26;
    }
    return 48;
}

TPreviewFormEh *TPreviewFormEh::instance()
{
    if (!g_preview)
        g_preview = new TPreviewFormEh();
    return g_preview;
}

TPreviewFormEh *TPreviewFormEh::existingInstance() { return g_preview; }

TPreviewFormEh::TPreviewFormEh(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(new Ui::TPreviewFormEh)
{
    initPrintingResources();
    ui->setupUi(this);
    setObjectName(QStringLiteral("PreviewFormEh"));
    setWindowIcon(QIcon(QStringLiteral(":/printing/print.png")));
    // an open preview does not keep the program running once the main window has closed
    setAttribute(Qt::WA_QuitOnClose, false);

    m_store = new TPrinterPreview(this);
    ui->PreviewBox1->setStore(m_store);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("StatusText"));
    ui->StatusBar1->addWidget(m_status, 1);

    // zoom menu: radio items, the current one marked
    m_scaleMenu = new QMenu(this);
    m_scaleMenu->setObjectName(QStringLiteral("pmScale"));
    m_zoomGroup = new QActionGroup(this);
    m_zoomGroup->setExclusive(true);
    struct Item
    {
        QAction **slot;
        const char *name;
        const char *caption;
        TZoomModeEh mode;
    };
    const Item items[] = {
        {&mni500, "mni500", "500%", TZoomModeEh::z500},     {&mni200, "mni200", "200%", TZoomModeEh::z200},
        {&mni150, "mni150", "150%", TZoomModeEh::z150},     {&mni100, "mni100", "100%", TZoomModeEh::z100},
        {&mni75, "mni75", "75%", TZoomModeEh::z75},         {&mni50, "mni50", "50%", TZoomModeEh::z50},
        {&mni25, "mni25", "25%", TZoomModeEh::z25},         {&mni10, "mni10", "10%", TZoomModeEh::z10},
        {&mniWidth, "mniWidth", "页宽度", TZoomModeEh::PageWidth},
        {&mniFull, "mniFull", "全部页面", TZoomModeEh::FullPage},
    };
    for (const Item &item : items) {
        QAction *action = m_scaleMenu->addAction(QString::fromUtf8(item.caption));
        action->setObjectName(QString::fromLatin1(item.name));
        action->setCheckable(true);
        action->setData(int(item.mode));
        m_zoomGroup->addAction(action);
        *item.slot = action;
        const TZoomModeEh mode = item.mode;
        connect(action, &QAction::triggered, this, [this, mode] { PreviewBox()->setZoomMode(mode); });
    }
    mniFull->setChecked(true);

    connect(ui->tbtPrint, &QToolButton::clicked, this, &TPreviewFormEh::tbtPrintClick);
    connect(ui->tbtPrinterSetupDialog, &QToolButton::clicked, this, &TPreviewFormEh::tbtPrinterSetupDialogClick);
    connect(ui->tbtScale, &QToolButton::clicked, this, &TPreviewFormEh::tbtScaleClick);
    connect(ui->tbStop, &QToolButton::clicked, this, &TPreviewFormEh::tbStopClick);
    connect(ui->tbClose, &QToolButton::clicked, this, &TPreviewFormEh::tbCloseClick);
    setupRepeat(ui->tbtPrevPage, -1);
    setupRepeat(ui->tbtNextPage, +1);
    m_repeatTimer.setSingleShot(true);
    connect(&m_repeatTimer, &QTimer::timeout, this, [this] {
        QToolButton *button = m_repeatStep < 0 ? ui->tbtPrevPage : ui->tbtNextPage;
        if (!button->isDown() || !button->isEnabled())
            return;
        m_repeated = true;
        m_repeatStep < 0 ? tbtPrevPageClick() : tbtNextPageClick();
        m_repeatTimer.start(100);
    });

    connect(ui->Splitter1, &QSplitter::splitterMoved, this, &TPreviewFormEh::Splitter1Moved);
    connect(ui->PreviewBox1, &TPreviewBox::pageChanged, this, &TPreviewFormEh::updateControls);
    connect(ui->PreviewBox1, &TPreviewBox::zoomChanged, this, &TPreviewFormEh::updateControls);
    connect(m_store, &TPrinterPreview::documentBegun, this, &TPreviewFormEh::onDocumentBegun);
    connect(m_store, &TPrinterPreview::pageStarted, this, &TPreviewFormEh::onPageStarted);
    connect(m_store, &TPrinterPreview::documentEnded, this, &TPreviewFormEh::onDocumentEnded);
    connect(m_store, &TPrinterPreview::titleChanged, this, &TPreviewFormEh::updateControls);

    ui->Splitter1->setStretchFactor(0, 0);
    ui->Splitter1->setStretchFactor(1, 1);
    setToolbarLook(TToolbarLookEh::IconsAndCaptions);
    updateControls();
}

TPreviewFormEh::~TPreviewFormEh() { delete ui; }

TPreviewBox *TPreviewFormEh::PreviewBox() const { return ui->PreviewBox1; }

QAction *TPreviewFormEh::ZoomAction(TZoomModeEh mode) const
{
    for (QAction *action : m_zoomGroup->actions())
        if (action->data().toInt() == int(mode))
            return action;
    return nullptr;
}

int TPreviewFormEh::CurrentPage() const { return ui->PreviewBox1->PageIndex(); }

void TPreviewFormEh::setupRepeat(QToolButton *button, int step)
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

QString TPreviewFormEh::StatusText() const
{
    return QStringLiteral("第 %1 页 共 %2 页").arg(CurrentPage()).arg(m_pageCount);
}

void TPreviewFormEh::updateControls()
{
    const bool generating = m_store->Printing();
    const int page = CurrentPage();
    ui->tbtPrint->setEnabled(!generating && m_store->PrinterInstalled());
    ui->tbtPrinterSetupDialog->setEnabled(!generating && m_store->PrintComponent() != nullptr);
    ui->tbtScale->setEnabled(true);
    ui->tbtPrevPage->setEnabled(page > 1);
    ui->tbtNextPage->setEnabled(page < m_pageCount);
    ui->tbStop->setEnabled(generating);
    ui->tbClose->setEnabled(!generating);
    if (QAction *zoom = ZoomAction(ui->PreviewBox1->ZoomMode()))
        zoom->setChecked(true);
    m_status->setText(StatusText());
    setWindowTitle(QStringLiteral("预览 - ") + m_store->Title());
}

void TPreviewFormEh::setToolbarLook(TToolbarLookEh look)
{
    m_look = look;
    const Qt::ToolButtonStyle style = look == TToolbarLookEh::IconsAndCaptions ? Qt::ToolButtonTextUnderIcon
        : look == TToolbarLookEh::IconsOnly                                   ? Qt::ToolButtonIconOnly
                                                                               : Qt::ToolButtonTextOnly;
    for (QToolButton *button : ui->ToolBar1->findChildren<QToolButton *>()) {
        button->setToolButtonStyle(style);
        button->setMinimumSize(look == TToolbarLookEh::IconsAndCaptions ? QSize(39, 38) : QSize(24, 22));
    }
    const int h = toolbarHeight(look);
    ui->ToolBar1->setMinimumHeight(20);
    QList<int> sizes = ui->Splitter1->sizes();
    if (sizes.size() == 2) {
        const int total = sizes[0] + sizes[1];
        ui->Splitter1->setSizes({h, std::max(total - h, 1)});
    }
}

void TPreviewFormEh::Splitter1Moved(int pos, int index)
{
    Q_UNUSED(index);
    const TToolbarLookEh next = nextToolbarLook(m_look, pos);
    if (next != m_look)
        setToolbarLook(next);
}

void TPreviewFormEh::bringToFront()
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

void TPreviewFormEh::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        setToolbarLook(m_look);
    }
}

void TPreviewFormEh::onDocumentBegun()
{
    m_closeAfterStop = false;
    m_pageCount = 1;
    ui->PreviewBox1->refresh();
    ui->PreviewBox1->setPageIndex(1);
    updateControls();
}

void TPreviewFormEh::onPageStarted(int pageNumber)
{
    m_pageCount = pageNumber - 1;
    ui->PreviewBox1->refresh();
    bringToFront();
    updateControls();
}

void TPreviewFormEh::onDocumentEnded()
{
    m_pageCount = m_store->PageCount();
    ui->PreviewBox1->refresh();
    if (CurrentPage() < 1 && m_pageCount > 0)
        ui->PreviewBox1->setPageIndex(1);
    updateControls();
    if (m_closeAfterStop) {
        m_closeAfterStop = false;
        hide();
        return;
    }
    bringToFront();
}

void TPreviewFormEh::tbtPrintClick()
{
    if (m_store->Printing() || !m_store->PrinterInstalled())
        return;
    QPrinter *printer = m_store->Printer();
    const int count = m_store->PageCount();
    printer->setPrintRange(QPrinter::AllPages);
    printer->setFromTo(count > 0 ? 1 : 0, count);
    printer->setDocName(m_store->Title());
    if (!lianbu::dialogs().printDialog(this, printer))
        return;
    if (count == 0)
        return;
    int from = 1, to = count;
    if (printer->printRange() == QPrinter::PageRange && printer->fromPage() > 0) {
        from = printer->fromPage();
        to = printer->toPage() > 0 ? printer->toPage() : count;
    } else if (printer->printRange() == QPrinter::CurrentPage) {
        from = to = std::max(1, CurrentPage());
    }
    if (m_store->PrintPages(printer, from, to) == 0)
        lianbu::showError(QStringLiteral("无法在打印机“%1”上开始打印").arg(printer->printerName()), this);
}

void TPreviewFormEh::tbtPrinterSetupDialogClick()
{
    TPrintDBGridEh *component = m_store->PrintComponent();
    if (m_store->Printing() || !component)
        return;
    if (component->EditPrintSettings())
        component->ShowPrintPreview();
}

void TPreviewFormEh::tbtScaleClick()
{
    m_scaleMenu->popup(ui->tbtScale->mapToGlobal(QPoint(0, ui->tbtScale->height())));
}

void TPreviewFormEh::tbtPrevPageClick()
{
    if (CurrentPage() > 1)
        ui->PreviewBox1->setPageIndex(CurrentPage() - 1);
}

void TPreviewFormEh::tbtNextPageClick()
{
    if (CurrentPage() < m_pageCount)
        ui->PreviewBox1->setPageIndex(CurrentPage() + 1);
}

void TPreviewFormEh::tbStopClick() { m_store->RequestStop(); }

void TPreviewFormEh::tbCloseClick() { close(); }

void TPreviewFormEh::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        if (m_store->Printing())
            m_store->RequestStop();
        else
            close();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TPreviewFormEh::closeEvent(QCloseEvent *event)
{
    if (m_store->Printing()) {
        // refused while generating: stop, and close once generation has ended
        m_closeAfterStop = true;
        m_store->RequestStop();
        event->ignore();
        return;
    }
    event->accept();
}
