#pragma once

#include "data/OperatorRights.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace lianbu::db {
class Connection;
}

namespace lianbu::operators {

// "用户权限": the role and the single grants of one operator, opened from 用户管理 once the super
// administrator's password has been given. 保存 stores them through the operator store.
class OperatorRightsWindow : public QDialog
{
    Q_OBJECT

public:
    OperatorRightsWindow(db::Connection &connection, const QString &name, const QString &changedBy, QWidget *parent);

    // The rights as the controls show them.
    data::Rights chosenRights() const;
    void showRights(const data::Rights &rights);

    QComboBox *roleBox() const { return m_role; }
    QCheckBox *grantBox(data::Right right) const;
    QPushButton *saveButton() const { return m_save; }

public slots:
    void save();

private:
    void describeRole();

    db::Connection &m_connection;
    QString m_name;
    QString m_changedBy;
    QComboBox *m_role;
    QLabel *m_roleHint;
    QList<QCheckBox *> m_grants; // in the order of kGrantableRights
    QPushButton *m_save;
};

// What a role lets an operator do, in one line for the window.
QString roleDescription(data::Role role);

} // namespace lianbu::operators
