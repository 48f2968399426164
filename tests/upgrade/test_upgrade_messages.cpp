// The upgrader's message table: languages, blocks, formatted texts and error boxes.

#include "upgrade/UpgradeMessages.h"

#include "tests/support/TestSupport.h"

#include <QTest>

using namespace lianbu;
using namespace lianbu::upgrade;

class TestUpgradeMessages : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { setWizardLanguage(WizardLanguage::English); }

    void languageFromIdentifier_data()
    {
        QTest::addColumn<int>("langId");
        QTest::addColumn<int>("language");
        QTest::newRow("zh-CN") << 0x0804 << int(WizardLanguage::ChineseSimplified);
        QTest::newRow("zh-TW") << 0x0404 << int(WizardLanguage::ChineseTraditional);
        QTest::newRow("zh-HK") << 0x0C04 << int(WizardLanguage::ChineseTraditional);
        QTest::newRow("zh-SG") << 0x1004 << int(WizardLanguage::ChineseTraditional);
        QTest::newRow("ja") << 0x0411 << int(WizardLanguage::English);
        QTest::newRow("en-US") << 0x0409 << int(WizardLanguage::English);
        QTest::newRow("de-DE") << 0x0407 << int(WizardLanguage::German);
        QTest::newRow("pt-BR") << 0x0416 << int(WizardLanguage::PortugueseBrazilian);
        QTest::newRow("pt-PT") << 0x0816 << int(WizardLanguage::Portuguese);
        QTest::newRow("ms-MY") << 0x043E << int(WizardLanguage::Malay);
        QTest::newRow("neutral") << 0x0000 << int(WizardLanguage::English);
    }

    void languageFromIdentifier()
    {
        QFETCH(int, langId);
        QFETCH(int, language);
        QCOMPARE(int(languageForLangId(quint16(langId))), language);
    }

    void identifierFromLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<int>("langId");
        QTest::newRow("zh_CN") << "zh_CN" << 0x0804;
        QTest::newRow("zh_TW") << "zh_TW" << 0x0404;
        QTest::newRow("zh_HK") << "zh_HK" << 0x0C04;
        QTest::newRow("ja_JP") << "ja_JP" << 0x0411;
        QTest::newRow("en_US") << "en_US" << 0x0409;
        QTest::newRow("pt_BR") << "pt_BR" << 0x0416;
        QTest::newRow("pt_PT") << "pt_PT" << 0x0816;
        QTest::newRow("ru_RU") << "ru_RU" << 0x0419;
    }

    void identifierFromLocale()
    {
        QFETCH(QString, locale);
        QFETCH(int, langId);
        QCOMPARE(int(windowsLangIdForLocale(QLocale(locale))), langId);
    }

    void localeToBlock()
    {
        // The whole chain a user's locale takes.
        setWizardLanguage(WizardLanguage::Auto, windowsLangIdForLocale(QLocale(QStringLiteral("zh_CN"))));
        QCOMPARE(messageBlockStart(), 42050);
        setWizardLanguage(WizardLanguage::Auto, windowsLangIdForLocale(QLocale(QStringLiteral("zh_TW"))));
        QCOMPARE(messageBlockStart(), 42000);
        setWizardLanguage(WizardLanguage::Auto, windowsLangIdForLocale(QLocale(QStringLiteral("zh_HK"))));
        QCOMPARE(messageBlockStart(), 42000);
        setWizardLanguage(WizardLanguage::Auto, windowsLangIdForLocale(QLocale(QStringLiteral("ja_JP"))));
        QCOMPARE(messageBlockStart(), 41000);
        QCOMPARE(wizardLanguage(), WizardLanguage::Auto);
    }

    void blocks()
    {
        QCOMPARE(blockStartFor(WizardLanguage::English), 41000);
        QCOMPARE(blockStartFor(WizardLanguage::ChineseTraditional), 42000);
        QCOMPARE(blockStartFor(WizardLanguage::ChineseSimplified), 42050);
        QCOMPARE(blockStartFor(WizardLanguage::German), 41000); // no texts of its own
        QCOMPARE(languagePrimaryId(WizardLanguage::Icelandic), 0x0F);
        QCOMPARE(languagePrimaryId(WizardLanguage::Auto), 0);

        QCOMPARE(stringResource(41000), QStringLiteral("Application update wizard"));
        QCOMPARE(stringResource(41030).left(35), QStringLiteral("Connection with remote server lost."));
        QCOMPARE(stringResource(42000), QStringLiteral("軟體升級精靈"));
        QCOMPARE(stringResource(42080), QStringLiteral("与远端服务器的连接中断，\r\r请重新连接后再进行升级操作。"));
        QVERIFY(stringResource(41031).isEmpty());
        QVERIFY(stringResource(42049).isEmpty());
        // Every slot of the three blocks has a text.
        for (int start : {41000, 42000, 42050}) {
            for (int slot = 0; slot < kMessageSlotCount; ++slot)
                QVERIFY2(!stringResource(start + slot).isEmpty(), qPrintable(QString::number(start + slot)));
        }
        // The product label is the same whatever the language.
        setWizardLanguage(WizardLanguage::ChineseSimplified);
        const QString label = stringResource(kProductLabelId);
        QVERIFY(!label.isEmpty());
        setWizardLanguage(WizardLanguage::English);
        QCOMPARE(stringResource(kProductLabelId), label);
    }

    void simplifiedChineseSystem()
    {
        test::Environment env;
        setWizardLanguage(WizardLanguage::Auto, 0x0804);
        QCOMPARE(messageText(MessageSlot::WizardCaption), QStringLiteral("软件升级精灵"));
        errorBox(MessageSlot::ConnectionLost);
        QCOMPARE(env.dialogs().boxes().size(), 1);
        const BoxRequest box = env.dialogs().lastBox().request;
        QCOMPARE(box.caption, QStringLiteral("软件升级精灵"));
        QCOMPARE(box.text, QStringLiteral("与远端服务器的连接中断，\r\r请重新连接后再进行升级操作。"));
        QCOMPARE(box.icon, BoxIcon::Stop);
        QCOMPARE(box.buttons, QList<BoxButton>{BoxButton::Ok});

        errorBox(MessageSlot::HostUnreachable, {QStringLiteral("'http://example.com'")});
        QCOMPARE(
            env.dialogs().lastBox().request.text,
            QStringLiteral("无法与服务器'http://example.com'连接。\r\r请检查您的internet设定之后再进行升级操作。"));
    }

    void traditionalChineseSystem()
    {
        setWizardLanguage(WizardLanguage::Auto, 0x0404);
        QCOMPARE(messageText(MessageSlot::WizardCaption), QStringLiteral("軟體升級精靈"));
        QCOMPARE(formatMessage(MessageSlot::FileCounter, {2, 3}), QStringLiteral("目前正在下載 2 of 3"));
    }

    void explicitLanguageWins()
    {
        test::Environment env;
        setWizardLanguage(WizardLanguage::Auto, 0x0804);
        setWizardLanguage(WizardLanguage::English);
        QCOMPARE(wizardLanguage(), WizardLanguage::English);
        errorBox(MessageSlot::NoUpdate);
        const BoxRequest box = env.dialogs().lastBox().request;
        QCOMPARE(box.caption, QStringLiteral("Application update wizard"));
        QCOMPARE(
            box.text,
            QStringLiteral("Newer version not found. You actually are\rusing most recent version of this program."));
    }

    void formattedSlots()
    {
        setWizardLanguage(WizardLanguage::English);
        QCOMPARE(formatMessage(MessageSlot::TimeLeft, {1, 2, 5}), QStringLiteral("Estimated time left: 1:02:05"));
        QCOMPARE(formatMessage(MessageSlot::FileSize, {1536 / 1024.0}), QStringLiteral("File size: 1.5 Kb"));
        QCOMPARE(
            formatMessage(MessageSlot::AskUpgrade, {QStringLiteral("联簿宝"), QString()}),
            QStringLiteral(
                "A newer version of 联簿宝 was released.\n\nDo you want to update your version with the latest one?"));
        QCOMPARE(passwordPromptText(QStringLiteral("a.exe")),
                 QStringLiteral("Access to remote file \"a.exe\" is password protected.\n\nPlease enter your "
                                "username and password (received after registration) to continue software upgrade."));
        setWizardLanguage(WizardLanguage::ChineseSimplified);
        QCOMPARE(
            passwordPromptText(QStringLiteral("a.exe")),
            QStringLiteral("远端的文档\"a.exe\"被密码保护，\n\n请输入您的帐号及密码[注册用户]来继续进行升级操作。"));
        QCOMPARE(formatMessage(MessageSlot::LostFile, {QStringLiteral("b.dll")}),
                 QStringLiteral("文档b.dll找不到或者发生错误，\r\r您要忽略这个文档并且继续升级操作吗？"));
        QCOMPARE(formatMessage(MessageSlot::TransferRate, {12.34}), QStringLiteral("传输速率:12.3 Kb/s"));
    }
};

QTEST_MAIN(TestUpgradeMessages)
#include "test_upgrade_messages.moc"
