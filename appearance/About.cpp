#include "appearance/About.h"

#include "app/AppInfo.h"
#include "app/VendorAddresses.h"
#include "platform/Shell.h"
#include "ui_About.h"

#include <QMouseEvent>

TAboutBox::TAboutBox(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::TAboutBox)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("AboutBox"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    ui->ProgramIcon->setPixmap(QIcon(QStringLiteral(":/icons/lianbu.png")).pixmap(64, 64));
    ui->ProductName->setText(lianbu::applicationTitle());
    ui->Version->setText(QStringLiteral("版本 %1").arg(lianbu::applicationVersion()));
    ui->Label2->setText(lianbu::vendorMailAddress());
    ui->Label4->setText(lianbu::homePageAddress());
    for (QLabel *link : {ui->Label2, ui->Label4}) {
        // Skins restyle the colour through the "link" property; this is the unskinned look.
        link->setProperty("link", true);
        link->setCursor(Qt::PointingHandCursor);
        QPalette pal = link->palette();
        pal.setColor(QPalette::WindowText, Qt::blue);
        link->setPalette(pal);
        link->installEventFilter(this);
    }
    connect(ui->OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);
}

TAboutBox::~TAboutBox() { delete ui; }

bool TAboutBox::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (watched == ui->Label2)
            Label2Click();
        else if (watched == ui->Label4)
            Label4Click();
    }
    return QDialog::eventFilter(watched, event);
}

void TAboutBox::Label2Click()
{
    lianbu::shell().open(QUrl(QStringLiteral("mailto:") + lianbu::vendorMailAddress()));
}

void TAboutBox::Label4Click() { lianbu::openWebAddress(lianbu::homePageAddress()); }

void TAboutBox::OKButtonClick() { accept(); }
