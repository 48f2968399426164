#include "appearance/AboutDialog.h"

#include "platform/AppInfo.h"
#include "platform/VendorAddresses.h"
#include "platform/Shell.h"
#include "ui_AboutDialog.h"

#include <QMouseEvent>

AboutDialog::AboutDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    ui->programIcon->setPixmap(QIcon(QStringLiteral(":/icons/lianbu.png")).pixmap(64, 64));
    ui->productName->setText(lianbu::applicationTitle());
    ui->versionLabel->setText(QStringLiteral("版本 %1").arg(lianbu::applicationVersion()));
    ui->emailLink->setText(lianbu::vendorMailAddress());
    ui->websiteLink->setText(lianbu::homePageAddress());
    for (QLabel *link : {ui->emailLink, ui->websiteLink}) {
        // Skins restyle the colour through the "link" property; this is the unskinned look.
        link->setProperty("link", true);
        link->setCursor(Qt::PointingHandCursor);
        QPalette pal = link->palette();
        pal.setColor(QPalette::WindowText, Qt::blue);
        link->setPalette(pal);
        link->installEventFilter(this);
    }
    connect(ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
}

AboutDialog::~AboutDialog()
{
    delete ui;
}

bool AboutDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (watched == ui->emailLink)
            openEmailLink();
        else if (watched == ui->websiteLink)
            openWebsiteLink();
    }
    return QDialog::eventFilter(watched, event);
}

void AboutDialog::openEmailLink()
{
    lianbu::shell().open(QUrl(QStringLiteral("mailto:") + lianbu::vendorMailAddress()));
}

void AboutDialog::openWebsiteLink()
{
    lianbu::openWebAddress(lianbu::homePageAddress());
}
