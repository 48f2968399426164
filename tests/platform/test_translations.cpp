// The toolkit's stock texts in Chinese: where the catalogue comes from, and that the stock
// dialogs and menus the program uses really pick it up.
#include "platform/Dialogs.h"
#include "platform/QtDialogs.h"
#include "platform/Translations.h"
#include "tests/support/TestSupport.h"

#include <QtTest>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

using namespace lianbu;

namespace {

QString cancelText()
{
    return QCoreApplication::translate("QPlatformTheme", "Cancel");
}

bool copyBuiltIn(const QString &to)
{
    QFile::remove(to);
    return QFile::copy(QLatin1String(kBuiltInToolkitCatalogue), to);
}

QStringList texts(const QList<QAction *> &actions)
{
    QStringList out;
    for (QAction *a : actions)
        if (!a->isSeparator())
            out << a->text();
    return out;
}

} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void systemCatalogueIsPreferred();
    void builtInCopyStandsInForAMissingOrBrokenOne();
    void installingAgainLeavesOneTranslator();
    void stockDialogsAndMenusAreChinese();
    void namedButtonsKeepTheirWordingOthersAreChinese();
    void cleanup();
};

void TestTranslations::cleanup()
{
    // Each case starts from the built-in copy so cases do not depend on their order.
    installToolkitTranslations(*QCoreApplication::instance(), {});
}

void TestTranslations::systemCatalogueIsPreferred()
{
    QTemporaryDir system;
    QVERIFY(copyBuiltIn(system.filePath(QLatin1String(kToolkitCatalogue))));
    const QString used =
        installToolkitTranslations(*QCoreApplication::instance(), {QString(), system.path() + "/none", system.path()});
    QCOMPARE(used, system.filePath(QLatin1String(kToolkitCatalogue)));
    QCOMPARE(cancelText(), QStringLiteral("取消"));
}

void TestTranslations::builtInCopyStandsInForAMissingOrBrokenOne()
{
    QTemporaryDir system;
    QCOMPARE(installToolkitTranslations(*QCoreApplication::instance(), {system.path()}),
             QLatin1String(kBuiltInToolkitCatalogue));
    QCOMPARE(cancelText(), QStringLiteral("取消"));

    QFile broken(system.filePath(QLatin1String(kToolkitCatalogue)));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("not a catalogue");
    broken.close();
    QCOMPARE(installToolkitTranslations(*QCoreApplication::instance(), {system.path()}),
             QLatin1String(kBuiltInToolkitCatalogue));
    QCOMPARE(cancelText(), QStringLiteral("取消"));
}

void TestTranslations::installingAgainLeavesOneTranslator()
{
    // The start-up may install the catalogue more than once (tests prepare the application
    // repeatedly); translators must not pile up, and the texts stay Chinese.
    QTemporaryDir system;
    QVERIFY(copyBuiltIn(system.filePath(QLatin1String(kToolkitCatalogue))));
    QVERIFY(!installToolkitTranslations(*QCoreApplication::instance(), {system.path()}).isEmpty());
    const int before = QCoreApplication::instance()->findChildren<QTranslator *>().size();
    QVERIFY(!installToolkitTranslations(*QCoreApplication::instance(), {}).isEmpty());
    QVERIFY(!installToolkitTranslations(*QCoreApplication::instance(), {system.path()}).isEmpty());
    QCOMPARE(QCoreApplication::instance()->findChildren<QTranslator *>().size(), before);
    QCOMPARE(cancelText(), QStringLiteral("取消"));
}

void TestTranslations::stockDialogsAndMenusAreChinese()
{
    QVERIFY(!installToolkitTranslations(*QCoreApplication::instance()).isEmpty());

    // The export's save dialog (the toolkit's own widget, as on a desktop without a native one).
    QFileDialog dialog(nullptr, QStringLiteral("导出"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("Excel (*.xls)"));
    const auto *box = dialog.findChild<QDialogButtonBox *>();
    QVERIFY(box);
    QStringList buttons;
    for (QAbstractButton *b : box->buttons())
        buttons << b->text();
    QVERIFY2(buttons.contains(QStringLiteral("保存(&S)")) || buttons.contains(QStringLiteral("保存")),
             qPrintable(buttons.join('|')));
    QVERIFY2(buttons.contains(QStringLiteral("取消")), qPrintable(buttons.join('|')));
    QStringList labels;
    for (const QLabel *label : dialog.findChildren<QLabel *>())
        labels << label->text();
    QVERIFY2(labels.filter(QStringLiteral("文件名")).size() == 1, qPrintable(labels.join('|')));
    QVERIFY2(labels.filter(QStringLiteral("Files of type")).isEmpty(), qPrintable(labels.join('|')));

    // A box whose buttons the program leaves to the toolkit.
    QMessageBox message(QMessageBox::Question, QStringLiteral("提示"), QStringLiteral("?"),
                        QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(message.button(QMessageBox::Yes)->text().left(1), QStringLiteral("是"));
    QCOMPARE(message.button(QMessageBox::No)->text().left(1), QStringLiteral("否"));

    // The context menu of every text field.
    QLineEdit edit(QStringLiteral("张三"));
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    const QStringList entries = texts(menu->actions());
    QVERIFY2(entries.filter(QStringLiteral("复制")).size() == 1, qPrintable(entries.join('|')));
    QVERIFY2(entries.filter(QStringLiteral("粘贴")).size() == 1, qPrintable(entries.join('|')));
    QVERIFY2(entries.filter(QStringLiteral("Copy")).isEmpty(), qPrintable(entries.join('|')));
}

void TestTranslations::namedButtonsKeepTheirWordingOthersAreChinese()
{
    QVERIFY(!installToolkitTranslations(*QCoreApplication::instance()).isEmpty());
    test::Environment env;
    showInformation(QStringLiteral("i"));
    showWarning(QStringLiteral("w"));
    confirmOperatorDeletion(QStringLiteral("d"));
    confirmListChange(QStringLiteral("c"));
    askYesNo(QStringLiteral("提示"), QStringLiteral("q"));
    showError(QStringLiteral("e"));
    const auto &boxes = env.dialogs().boxes();
    QCOMPARE(boxes.size(), 6);

    // Build each recorded box as the real service would and read its buttons.
    QList<QStringList> texts;
    for (const auto &box : boxes) {
        std::unique_ptr<QMessageBox> real = createMessageBox(nullptr, box.request);
        QStringList buttons;
        for (BoxButton b : box.request.buttons)
            buttons << real->button(toStandardButton(b))->text();
        texts << buttons;
    }
    QCOMPARE(texts.at(0), QStringList({"OK"}));           // information: "OK"
    QCOMPARE(texts.at(1), QStringList({"OK"}));           // required field warning: "OK"
    QCOMPARE(texts.at(2), QStringList({"&Yes", "&No"}));  // operator deletion
    QCOMPARE(texts.at(3), QStringList({"确定", "取消"})); // list change: OK and Cancel
    QCOMPARE(texts.at(4).size(), 2);                      // overwrite question: Yes and No
    QVERIFY2(texts.at(4).at(0).startsWith(QStringLiteral("是")) && texts.at(4).at(1).startsWith(QStringLiteral("否")),
             qPrintable(texts.at(4).join('|')));
    QCOMPARE(texts.at(5), QStringList({"确定"})); // the error display
}

QTEST_MAIN(TestTranslations)
#include "test_translations.moc"
