#include "app/ServerConnectionDialog.h"

#include "app/Register.h"
#include "data/ServerRegister.h"
#include "platform/Dialogs.h"
#include "platform/PasswordFile.h"

#include "ui_ServerConnectionDialog.h"

#include <QThread>

#include <memory>

using lianbu::db::RegisterAddress;

namespace lianbu {

QString knownServerPassword(const RegisterAddress &typed, const RegisterAddress &known, const QString &passwordFile)
{
    const auto host = [](const QString &name) { return name.isEmpty() ? QStringLiteral("localhost") : name; };
    if (known.isServer() && !known.password.isEmpty() && host(known.host) == host(typed.host)
        && known.port == typed.port && known.database == typed.database && known.user == typed.user)
        return known.password;
    return findServerPassword(passwordFile, {typed.host, typed.port, typed.database, typed.user});
}

} // namespace lianbu

ServerConnectionDialog::ServerConnectionDialog(const RegisterAddress &current, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ServerConnectionDialog)
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("serverConnectionDialog"));
    if (current.isServer()) {
        ui->hostEdit->setText(current.host);
        ui->portSpin->setValue(current.port);
        ui->databaseEdit->setText(current.database);
        ui->userEdit->setText(current.user);
        // Not shown: a password typed into the fields of another server must be the operator's
        // own, never the one known for this server.
        m_known = current;
        if (!current.password.isEmpty())
            ui->passwordEdit->setPlaceholderText(QStringLiteral("（已保存，空着即可）"));
    }
    connect(ui->testButton, &QPushButton::clicked, this, &ServerConnectionDialog::testConnection);
    connect(ui->saveButton, &QPushButton::clicked, this, &ServerConnectionDialog::saveAddress);
    connect(ui->useFileButton, &QPushButton::clicked, this, &ServerConnectionDialog::useLocalFile);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

ServerConnectionDialog::~ServerConnectionDialog()
{
    delete ui;
}

RegisterAddress ServerConnectionDialog::address() const
{
    RegisterAddress address;
    address.kind = RegisterAddress::Kind::Server;
    address.host = ui->hostEdit->text().trimmed();
    address.port = ui->portSpin->value();
    address.database = ui->databaseEdit->text().trimmed();
    address.user = ui->userEdit->text().trimmed();
    address.password = ui->passwordEdit->text();
    if (address.password.isEmpty())
        address.password = lianbu::knownServerPassword(address, m_known, lianbu::serverPasswordFilePath());
    return address;
}

bool ServerConnectionDialog::fieldsComplete()
{
    if (ui->databaseEdit->text().trimmed().isEmpty()) {
        lianbu::showWarning(QStringLiteral("请填写数据库名！"), this);
        ui->databaseEdit->setFocus();
        return false;
    }
    if (ui->userEdit->text().trimmed().isEmpty()) {
        lianbu::showWarning(QStringLiteral("请填写用户名！"), this);
        ui->userEdit->setFocus();
        return false;
    }
    return true;
}

void ServerConnectionDialog::testConnection()
{
    if (!fieldsComplete())
        return;
    const RegisterAddress target = address();
    m_testing = true;
    ui->resultLabel->setText(QStringLiteral("正在连接 %1 …").arg(lianbu::db::formatRegisterAddress(target)));
    ui->testButton->setEnabled(false);
    // The worker writes its answer here; the window reads it once the thread has finished.
    auto answer = std::make_shared<lianbu::ServerCheck>();
    QThread *worker = QThread::create([target, answer] { *answer = lianbu::checkServerRegister(target); });
    // Queued to this window's thread; dropped when the window is gone.
    connect(worker, &QThread::finished, this, [this, answer] {
        m_testing = false;
        ui->testButton->setEnabled(true);
        ui->resultLabel->setText(answer->text);
        emit testFinished(answer->connected, answer->text);
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

void ServerConnectionDialog::saveAddress()
{
    if (!fieldsComplete())
        return;
    const RegisterAddress target = address();
    const lianbu::ServerLogin login{target.host, target.port, target.database, target.user};
    if (!lianbu::saveServerPassword(lianbu::serverPasswordFilePath(), login, target.password)) {
        lianbu::showWarning(
            QStringLiteral("无法保存密码文件“%1”，设置没有保存。").arg(lianbu::serverPasswordFilePath()), this);
        return;
    }
    lianbu::saveRegister(lianbu::db::formatRegisterAddress(target));
    lianbu::showInformation(m_appliesAtOnce ? QStringLiteral("数据库连接已保存。")
                                            : QStringLiteral("数据库连接已保存，下次启动联簿宝时生效。"),
                            this);
    accept();
}

void ServerConnectionDialog::useLocalFile()
{
    lianbu::saveRegister({});
    lianbu::showInformation(m_appliesAtOnce ? QStringLiteral("已改回本机的 data.db。")
                                            : QStringLiteral("已改回本机的 data.db，下次启动联簿宝时生效。"),
                            this);
    accept();
}
