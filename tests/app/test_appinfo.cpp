#include "platform/AppInfo.h"

#include <QtTest>

class TestAppInfo : public QObject
{
    Q_OBJECT
private slots:
    void titleIsTheChineseName() { QCOMPARE(lianbu::applicationTitle(), QString::fromUtf8("联簿宝")); }
    void versionHasThreeNumbers()
    {
        const QStringList parts = lianbu::applicationVersion().split(QLatin1Char('.'));
        QCOMPARE(parts.size(), 3);
        for (const QString &p : parts) {
            bool ok = false;
            p.toInt(&ok);
            QVERIFY(ok);
        }
    }
};

QTEST_GUILESS_MAIN(TestAppInfo)
#include "test_appinfo.moc"
