#include "app/AppInfo.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("lianbu"));
    QApplication::setOrganizationName(QStringLiteral("qiaomu"));
    QApplication::setApplicationDisplayName(lianbu::applicationTitle());
    return 0;
}
