// The customer grid's column layout across runs: "保存当前列状态" writes the settings file, the
// next start restores it before anything else.

#include "tests/support/MainWindowHarness.h"

#include "customers/CustomerGrid.h"
#include "grid/DBGridEh.h"
#include "platform/Dialogs.h"
#include "platform/Gbk.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "ui_MAIN.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

using namespace lianbu;
using namespace lianbu::test;

namespace {

const QString kSection = QStringLiteral("lianbugrid");

TDBGridEh *gridOf(MainWindowHarness &h) { return h.form->ui->DBGridEh1; }

TColumnEh *columnOf(MainWindowHarness &h, const char *field)
{
    return gridOf(h)->Columns()->FindByFieldName(QString::fromLatin1(field));
}

QStringList order(MainWindowHarness &h)
{
    QStringList names;
    TDBGridColumnsEh *columns = gridOf(h)->Columns();
    for (int i = 0; i < columns->Count(); ++i)
        names << columns->Items(i)->FieldName();
    return names;
}

QList<int> widths(MainWindowHarness &h)
{
    QList<int> list;
    TDBGridColumnsEh *columns = gridOf(h)->Columns();
    for (int i = 0; i < columns->Count(); ++i)
        list << columns->Items(i)->Width();
    return list;
}

QString layoutSnapshot(MainWindowHarness &h)
{
    QStringList parts;
    TDBGridColumnsEh *columns = gridOf(h)->Columns();
    for (int i = 0; i < columns->Count(); ++i) {
        const TColumnEh *c = columns->Items(i);
        parts << QStringLiteral("%1:%2/%3/%4/%5").arg(c->FieldName()).arg(c->Width())
                     .arg(int(c->Title()->SortMarker())).arg(int(c->Visible()))
                     .arg(c->Title()->SortIndex());
    }
    return parts.join(QLatin1Char(' '));
}

int visibleWidthSum(MainWindowHarness &h)
{
    int sum = 0;
    for (const TColumnEh *c : gridOf(h)->VisibleColumns())
        sum += c->Width();
    return sum;
}

// Closes the program's windows and starts them again in the same surroundings (same HOME,
// same data.db), the way the next run of the program would.
void restart(MainWindowHarness &h)
{
    h.form.reset();
    h.data.reset();
    h.form = std::make_unique<TMainForm>();
    h.data = std::make_unique<Tdmfm>();
    h.show();
}

QStringList initialOrder()
{
    QStringList names;
    for (const customers::CustomerColumn &c : customers::kCustomerColumns)
        names << QString::fromLatin1(c.field);
    return names;
}

void writeSettings(const QByteArray &bytes)
{
    const QString file = paths::settingsFilePath();
    QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readSettings()
{
    QFile f(paths::settingsFilePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestLayout : public QObject
{
    Q_OBJECT

private slots:
    void theSettingsFileIsPrivateToTheTest()
    {
        Environment env;
        QVERIFY(paths::settingsFilePath().startsWith(env.homePath()));
        QVERIFY(paths::settingsFilePath().endsWith(QStringLiteral("/lianbu.ini")));
    }

    void firstStartWithoutAFileShowsTheInitialLayout()
    {
        MainWindowHarness h(false);
        gridOf(h)->setRowHeight(30); // the missing grid entry puts it back to 0
        gridOf(h)->setRowLines(2);
        h.show();
        QVERIFY(!QFile::exists(paths::settingsFilePath()));
        QCOMPARE(order(h), initialOrder());
        for (const customers::CustomerColumn &initial : customers::kCustomerColumns) {
            TColumnEh *c = columnOf(h, initial.field);
            QVERIFY(c->Visible());
            QCOMPARE(c->Title()->SortMarker(), smNoneEh);
            // Only the columns with a width of their own have one assigned.
            QCOMPARE(c->WidthAssigned(), initial.width > 0);
            if (initial.width > 0)
                QCOMPARE(c->BaseWidth(), initial.width);
        }
        QCOMPARE(gridOf(h)->RowHeight(), 0);
        QCOMPARE(gridOf(h)->RowLines(), 0);
        QVERIFY(gridOf(h)->AutoFitColWidths());
        QCOMPARE(visibleWidthSum(h), gridOf(h)->View()->viewport()->width());
        QVERIFY(h.env.dialogs().boxes().isEmpty());
    }

    void aSavedLayoutComesBackAtTheNextStart()
    {
        MainWindowHarness h;
        h.insertCustomers({customer(QStringLiteral("VIP"), QStringLiteral("乙"), QString()),
                           customer(QString(), QStringLiteral("甲"), QStringLiteral("0571-1")),
                           customer(QStringLiteral("普通"), QStringLiteral("丙"), QStringLiteral("0571-2"))});
        h.form->Button12Click();
        TDBGridColumnsEh *columns = gridOf(h)->Columns();
        // "电  话" to the front, "传  真" hidden through its menu item, "客户简称" sorted once
        columns->Move(columnOf(h, "g")->Index(), 0);
        h.form->HideItems.at(4)->trigger(); // 隐藏传真, position 7
        QVERIFY(!columnOf(h, "h")->Visible());
        gridOf(h)->ClickTitle(columnOf(h, "b")->Index());
        QCOMPARE(columnOf(h, "b")->Title()->SortMarker(), smDownEh);
        QCOMPARE(h.data->ADOQuery15->sort(), QStringLiteral("b DESC"));
        columnOf(h, "i")->setWidth(150);
        const QStringList savedOrder = order(h);
        const QList<int> savedWidths = widths(h);

        // The per-user settings folder does not exist yet: the command creates it.
        QVERIFY(!QFileInfo::exists(QFileInfo(paths::settingsFilePath()).absolutePath()));
        h.form->N20->trigger();
        QVERIFY(h.env.dialogs().boxes().isEmpty());
        const QStringList keys = profileKeys(paths::settingsFilePath(), kSection);
        QCOMPARE(keys.size(), 15);
        QCOMPARE(keys.first(), QStringLiteral("DBGridEh1.g"));
        QCOMPARE(keys.last(), QStringLiteral("(Default)"));
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("DBGridEh1.g")),
                 QStringLiteral("0,%1,0,1,0,7,0").arg(columnOf(h, "g")->Width()));
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("DBGridEh1.h")),
                 QStringLiteral("7,%1,0,0,0,7,0").arg(columnOf(h, "h")->Width()));
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("DBGridEh1.b")),
                 QStringLiteral("2,%1,1,1,1,7,0").arg(columnOf(h, "b")->Width()));
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("(Default)")),
                 QStringLiteral("0,0"));

        restart(h);
        QCOMPARE(order(h), savedOrder);
        QCOMPARE(widths(h), savedWidths);
        QCOMPARE(visibleWidthSum(h), gridOf(h)->View()->viewport()->width());
        QVERIFY(!columnOf(h, "h")->Visible());
        QCOMPARE(columnOf(h, "b")->Title()->SortMarker(), smDownEh);
        QCOMPARE(columnOf(h, "b")->Title()->SortIndex(), 1);
        // the hide items' check marks are not restored
        for (QAction *item : h.form->HideItems)
            QVERIFY(!item->isChecked());
        QVERIFY(h.env.dialogs().boxes().isEmpty());

        // The rows come in the table's order: the marker sorted nothing.
        h.form->Button12Click();
        QCOMPARE(h.listColumn(QStringLiteral("b")),
                 (QStringList{QStringLiteral("乙"), QStringLiteral("甲"), QStringLiteral("丙")}));
        QVERIFY(h.data->ADOQuery15->sort().isEmpty());

        // The double click now tests the telephone, the first column.
        QSignalSpy load(h.form.get(), &TMainForm::recordLoadRequested);
        h.data->ADOQuery15->first(); // category set, telephone empty
        h.form->DBGridEh1DblClick();
        QCOMPARE(load.count(), 0);
        h.data->ADOQuery15->next(); // category empty, telephone set
        h.form->DBGridEh1DblClick();
        QCOMPARE(load.count(), 1);

        // "隐藏客户类别" hides whatever stands at position 0: the telephone.
        h.form->HideItems.at(0)->trigger();
        QVERIFY(!columnOf(h, "g")->Visible());
        QVERIFY(columnOf(h, "a")->Visible());
        // "隐藏传真" starts unchecked: its first click leaves the column hidden.
        h.form->HideItems.at(4)->trigger();
        QVERIFY(!columnOf(h, "h")->Visible());
        h.form->HideItems.at(4)->trigger();
        QVERIFY(columnOf(h, "h")->Visible());

        // The restored down marker makes the first click on the title sort ascending.
        gridOf(h)->ClickTitle(columnOf(h, "b")->Index());
        QCOMPARE(h.data->ADOQuery15->sort(), QStringLiteral("b"));
        QCOMPARE(columnOf(h, "b")->Title()->SortMarker(), smUpEh);
    }

    void savingTwiceReplacesTheLinesInPlace()
    {
        MainWindowHarness h;
        h.form->N20->trigger();
        const QByteArray first = readSettings();
        gridOf(h)->Columns()->Move(0, 13);
        h.form->N20->trigger();
        const QByteArray second = readSettings();
        QCOMPARE(second.count("\r\n"), first.count("\r\n"));
        QCOMPARE(second.count("DBGridEh1.a="), 1);
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("DBGridEh1.a"))
                     .section(QLatin1Char(','), 0, 0),
                 QStringLiteral("13"));
        QVERIFY(h.env.dialogs().boxes().isEmpty());
    }

    void aHandWrittenFileIsReadAsFarAsItGoes()
    {
        MainWindowHarness h(false);
        // another program's section, an entry of a column the grid does not have, Chinese text
        // around the separators, missing words, negative values and a position claimed twice
        writeSettings(gbk::encode(QStringLiteral(
            "[其他]\r\nDBGridEh1.a=5\r\n"
            "[lianbugrid]\r\n"
            "DBGridEh1.m=0,99,1,0,1,7,0\r\n"
            "DBGridEh1.c=1,  80,,0,,0\r\n"        // 1, 80, 0, 0: hidden
            "DBGridEh1.a=1,电话,0,1\r\n"           // claims position 1 before c does; width kept
            "DBGridEh1.b=0\r\n"
            "DBGridEh1.k=-3,-40,2,1,-7\r\n"        // never moved, width kept, up marker
            "DBGridEh1.day1=13,60,宋,1\r\n")));
        h.show();
        QVERIFY(h.env.dialogs().boxes().isEmpty());
        QCOMPARE(order(h).mid(0, 3), (QStringList{"b", "a", "c"}));
        QVERIFY(!columnOf(h, "c")->Visible());
        QCOMPARE(columnOf(h, "c")->BaseWidth(), 80);
        QVERIFY(!columnOf(h, "a")->WidthAssigned());
        QCOMPARE(columnOf(h, "k")->BaseWidth(), 50);
        QCOMPARE(columnOf(h, "k")->Title()->SortMarker(), smUpEh);
        QCOMPARE(columnOf(h, "k")->Title()->SortIndex(), 1);
        QCOMPARE(columnOf(h, "day1")->BaseWidth(), 60);
        QCOMPARE(columnOf(h, "day1")->Index(), 13);
        QCOMPARE(gridOf(h)->RowHeight(), 0);
        // fitted to the grid's width with the stored widths as base widths
        QCOMPARE(visibleWidthSum(h), gridOf(h)->View()->viewport()->width());

        // Saving keeps what it does not own.
        h.form->N20->trigger();
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("DBGridEh1.m")),
                 QStringLiteral("0,99,1,0,1,7,0"));
        QCOMPARE(profileString(paths::settingsFilePath(), QStringLiteral("其他"),
                               QStringLiteral("DBGridEh1.a")),
                 QStringLiteral("5"));
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("DBGridEh1.b")),
                 QStringLiteral("0,%1,0,1,0,7,0").arg(columnOf(h, "b")->Width()));
    }

    void aSaveThatCannotWriteShowsTheErrorAndChangesNothing()
    {
        MainWindowHarness h;
        // Something that is not a folder stands where the settings folder belongs.
        const QString folder = QFileInfo(paths::settingsFilePath()).absolutePath();
        QVERIFY(QDir().mkpath(QFileInfo(folder).absolutePath()));
        {
            QFile blocker(folder);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.write("not a folder");
        }
        gridOf(h)->Columns()->Move(6, 0);
        const QString before = layoutSnapshot(h);
        h.form->N20->trigger();
        QCOMPARE(h.env.dialogs().boxes().size(), 1);
        const BoxRequest box = h.env.dialogs().lastBox().request;
        QCOMPARE(box.icon, BoxIcon::Stop);
        QCOMPARE(box.caption, QStringLiteral("联簿宝"));
        QCOMPARE(box.text, QStringLiteral("Unable to write to %1.").arg(paths::settingsFilePath()));
        QCOMPARE(box.buttons, QList<BoxButton>{BoxButton::Ok});
        QCOMPARE(layoutSnapshot(h), before);
        QVERIFY(QFileInfo(folder).isFile());
    }

    void aSaveStoppedHalfWayKeepsTheEntriesWrittenBeforeIt()
    {
        MainWindowHarness h;
        h.form->N20->trigger(); // the layout as it starts
        const QString file = paths::settingsFilePath();
        const QString oldF = profileString(file, kSection, QStringLiteral("DBGridEh1.f"));
        // Move "电  话" to the front and give the column at position 5 a name that cannot be a
        // key: the save stops there.
        gridOf(h)->Columns()->Move(6, 0);
        gridOf(h)->Columns()->Items(5)->setFieldName(QStringLiteral("e=x"));
        const QString before = layoutSnapshot(h);
        h.form->N20->trigger();
        QCOMPARE(h.env.dialogs().boxes().size(), 1);
        QCOMPARE(h.env.dialogs().lastBox().request.text,
                 QStringLiteral("Unable to write to %1.").arg(file));
        QCOMPARE(layoutSnapshot(h), before);
        // positions 0..4 hold the new layout, the later columns their old entries
        QCOMPARE(profileString(file, kSection, QStringLiteral("DBGridEh1.g")).section(',', 0, 0),
                 QStringLiteral("0"));
        QCOMPARE(profileString(file, kSection, QStringLiteral("DBGridEh1.d")).section(',', 0, 0),
                 QStringLiteral("4"));
        QCOMPARE(profileString(file, kSection, QStringLiteral("DBGridEh1.f")), oldF);
        QCOMPARE(profileKeys(file, kSection).size(), 15);
    }
};

QTEST_MAIN(TestLayout)
#include "test_layout.moc"
