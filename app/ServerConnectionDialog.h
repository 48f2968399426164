#pragma once

#include "db/RegisterAddress.h"

#include <QDialog>

namespace lianbu {

// The password to use for `typed` when none was typed: `known`'s when it names the same host,
// port, database and user; otherwise the one saved in `passwordFile` for `typed`.
QString knownServerPassword(const db::RegisterAddress &typed, const db::RegisterAddress &known,
                            const QString &passwordFile);

} // namespace lianbu

namespace Ui {
class ServerConnectionDialog;
}

// "数据库连接…": the PostgreSQL server this PC's program uses as its register. The address is
// saved in the per-user settings, the password in the per-user password file (mode 0600); both
// take effect at the next start. "测试连接" connects on a thread of its own, so a server that
// does not answer never holds up the window.
class ServerConnectionDialog : public QDialog
{
    Q_OBJECT

public:
    // `current`: the address the fields start with (the saved one, or the open register).
    explicit ServerConnectionDialog(const lianbu::db::RegisterAddress &current, QWidget *parent = nullptr);
    ~ServerConnectionDialog() override;

    // The address the fields describe, with the password typed; when none is typed, the password
    // known for exactly that server, database and user (the one the window was opened with, or
    // the saved one), never one known for another server.
    lianbu::db::RegisterAddress address() const;
    // At start-up, before the register is open, what is saved is used at once.
    void setAppliesAtOnce(bool atOnce) { m_appliesAtOnce = atOnce; }
    // True while a connection test runs.
    bool testing() const { return m_testing; }

signals:
    // A connection test ended; `text` is what the window shows.
    void testFinished(bool ok, const QString &text);

private slots:
    void testConnection();
    void saveAddress();
    void useLocalFile();

private:
    bool fieldsComplete();

    Ui::ServerConnectionDialog *ui;
    // The address the window was opened with and its password, which is never shown.
    lianbu::db::RegisterAddress m_known;
    bool m_testing = false;
    bool m_appliesAtOnce = false;
};
