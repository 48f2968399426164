// The upgrade check of the program installed by the package: a new version is announced once,
// with where to get it, and nothing is downloaded or replaced.
#include "TestHttpServer.h"
#include "UpgradeTestSupport.h"

#include "platform/Gbk.h"
#include "platform/Installation.h"
#include "tests/support/TestSupport.h"
#include "upgrade/Upgrader.h"

#include <QTest>

using namespace lianbu;
using namespace lianbu::test;
using namespace lianbu::upgrade;

namespace {

bool settled(Upgrader &up, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while ((up.busy() || up.inProgress()) && t.elapsed() < ms)
        QTest::qWait(5);
    QTest::qWait(20);
    return !up.busy() && !up.inProgress();
}

} // namespace

class TestPackagedUpgrade : public QObject
{
    Q_OBJECT

    std::unique_ptr<ModalWatchdog> m_watchdog;

private slots:
    void initTestCase() { enterTestMode(); }
    void init() { m_watchdog = std::make_unique<ModalWatchdog>(); }
    void cleanup()
    {
        overridePackagedProgram(std::nullopt);
        QCOMPARE(m_watchdog->closed(), 0);
        m_watchdog.reset();
    }

    void newVersionIsAnnouncedAndNothingFetched()
    {
        Environment env;
        overridePackagedProgram(true);
        const QByteArray file = gbk::encode(
            QStringLiteral("[升级]\r\n#Date=08/16/2010\r\n#url1=/prog\r\n#url2=/data.db\r\n#message={修正了打印}\r\n"));
        TestHttpServer server([file](const HttpRequest &) { return textResponse(file); });
        Upgrader up;
        up.setVersionDate(QStringLiteral("08/15/2010"));
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        bool began = false;
        up.onBeginUpgrade = [&](QObject *, const QString &, UpgradeMethod, QStringList &, bool &) { began = true; };
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(env.dialogs().boxes().size(), 1);
        const QString text = env.dialogs().lastBox().request.text;
        QVERIFY2(text.contains(QStringLiteral("修正了打印")) && text.contains(QStringLiteral("软件包管理器")),
                 qPrintable(text));
        QCOMPARE(server.requestCount(), 1); // the information file only
        QVERIFY(!began);
        QVERIFY(!up.downloadWindow());
        // Activations skip the check for the rest of the session, as after "Later".
        QVERIFY(up.userDeclined());
        QVERIFY(env.shell().opened.isEmpty());
    }

    void redirectAddressIsNamedNotOpened()
    {
        Environment env;
        overridePackagedProgram(true);
        TestHttpServer server([](const HttpRequest &) {
            return textResponse("#date=01/01/2030\n#url=www.example.com/download\n#method=2\n");
        });
        Upgrader up;
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        up.checkUpdate();
        QVERIFY(settled(up));
        QCOMPARE(env.dialogs().boxes().size(), 1);
        QVERIFY2(env.dialogs().lastBox().request.text.contains(QStringLiteral("www.example.com/download")),
                 qPrintable(env.dialogs().lastBox().request.text));
        QVERIFY(env.shell().opened.isEmpty());
    }

    void sourceBuiltProgramStillAsks()
    {
        Environment env;
        overridePackagedProgram(false);
        TestHttpServer server([](const HttpRequest &) {
            return textResponse("#date=01/01/2030\n#url=www.example.com/download\n#method=2\n");
        });
        Upgrader up;
        up.setShowMessages({}); // redirect at once, without the ask window
        up.setInfoFileUrl(server.url(QStringLiteral("/info.txt")));
        up.checkUpdate();
        QVERIFY(settled(up));
        QVERIFY2(env.dialogs().boxes().isEmpty(), env.dialogs().boxesText().constData());
        QCOMPARE(env.shell().opened, QList<QUrl>{QUrl(QStringLiteral("http://www.example.com/download"))});
        QVERIFY(!up.userDeclined());
    }
};

QTEST_MAIN(TestPackagedUpgrade)
#include "test_packaged_upgrade.moc"
