// The customer grid's column layout across runs: "保存当前列状态" writes the settings file, the
// next start restores it before anything else.

#include "tests/support/FormWidgets.h"
#include "tests/support/MainWindowHarness.h"

#include "appearance/SkinRegistry.h"
#include "customers/CustomerGrid.h"
#include "grid/DataGrid.h"
#include "platform/Dialogs.h"
#include "platform/Gbk.h"
#include "platform/Paths.h"
#include "platform/Profile.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

using namespace lianbu;
using namespace lianbu::test;

namespace {

const QString kSection = QStringLiteral("lianbugrid");

DataGrid *gridOf(MainWindowHarness &h)
{
    return widgets(h.form)->customerGrid;
}

GridColumn *columnOf(MainWindowHarness &h, const char *field)
{
    return gridOf(h)->columns()->findByFieldName(QString::fromLatin1(field));
}

QStringList order(MainWindowHarness &h)
{
    QStringList names;
    GridColumns *columns = gridOf(h)->columns();
    for (int i = 0; i < columns->count(); ++i)
        names << columns->items(i)->fieldName();
    return names;
}

QList<int> widths(MainWindowHarness &h)
{
    QList<int> list;
    GridColumns *columns = gridOf(h)->columns();
    for (int i = 0; i < columns->count(); ++i)
        list << columns->items(i)->width();
    return list;
}

QString layoutSnapshot(MainWindowHarness &h)
{
    QStringList parts;
    GridColumns *columns = gridOf(h)->columns();
    for (int i = 0; i < columns->count(); ++i) {
        const GridColumn *c = columns->items(i);
        parts << QStringLiteral("%1:%2/%3/%4/%5")
                     .arg(c->fieldName())
                     .arg(c->width())
                     .arg(int(c->title()->sortMarker()))
                     .arg(int(c->visible()))
                     .arg(c->title()->sortIndex());
    }
    return parts.join(QLatin1Char(' '));
}

int visibleWidthSum(MainWindowHarness &h)
{
    int sum = 0;
    for (const GridColumn *c : gridOf(h)->visibleColumns())
        sum += c->width();
    return sum;
}

// Closes the program's windows and starts them again in the same surroundings (same HOME,
// same data.db), the way the next run of the program would.
void restart(MainWindowHarness &h)
{
    h.form.reset();
    h.data.reset();
    h.data = std::make_unique<Database>();
    h.form = std::make_unique<MainWindow>(*h.data);
    h.show();
}

QStringList initialOrder()
{
    QStringList names;
    for (const customers::CustomerColumn &c : customers::kCustomerColumns)
        names << QString::fromLatin1(c.field);
    // and the follow-up dates, hidden
    return names << QStringLiteral("last_followup") << QStringLiteral("next_contact");
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
#ifdef _WIN32
        // Windows names the per-user folders itself: the test mode's folder, emptied per test.
        QVERIFY2(paths::settingsFilePath().contains(QStringLiteral("/qttest/")), qPrintable(paths::settingsFilePath()));
#else
        QVERIFY(paths::settingsFilePath().startsWith(env.homePath()));
#endif
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
            GridColumn *c = columnOf(h, initial.field);
            QVERIFY(c->visible());
            QCOMPARE(c->title()->sortMarker(), SortMarker::None);
            // Only the columns with a width of their own have one assigned.
            QCOMPARE(c->widthAssigned(), initial.width > 0);
            if (initial.width > 0)
                QCOMPARE(c->baseWidth(), initial.width);
        }
        QCOMPARE(gridOf(h)->rowHeight(), 0);
        QCOMPARE(gridOf(h)->rowLines(), 0);
        QVERIFY(gridOf(h)->autoFitColWidths());
        QCOMPARE(visibleWidthSum(h), gridOf(h)->view()->viewport()->width());
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
    }

    void aSavedLayoutComesBackAtTheNextStart()
    {
        MainWindowHarness h;
        h.insertCustomers({customer(QStringLiteral("VIP"), QStringLiteral("乙"), QString()),
                           customer(QString(), QStringLiteral("甲"), QStringLiteral("0571-1")),
                           customer(QStringLiteral("普通"), QStringLiteral("丙"), QStringLiteral("0571-2"))});
        h.form->showAllRecords();
        GridColumns *columns = gridOf(h)->columns();
        // "电  话" to the front, "传  真" hidden through its menu item, "客户简称" sorted once
        columns->move(columnOf(h, "g")->index(), 0);
        h.form->customerList()->hideColumnActions().at(4)->trigger(); // 隐藏传真, position 7
        QVERIFY(!columnOf(h, "h")->visible());
        gridOf(h)->clickTitle(columnOf(h, "b")->index());
        QCOMPARE(columnOf(h, "b")->title()->sortMarker(), SortMarker::Down);
        QCOMPARE(h.data->customerList->sortText(), QStringLiteral("b DESC"));
        columnOf(h, "i")->setWidth(150);
        const QStringList savedOrder = order(h);
        const QList<int> savedWidths = widths(h);

        // The per-user settings folder does not exist yet: the command creates it.
        QVERIFY(!QFileInfo::exists(QFileInfo(paths::settingsFilePath()).absolutePath()));
        h.form->customerList()->saveColumnLayoutAction()->trigger();
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
        const QStringList keys = profileKeys(paths::settingsFilePath(), kSection);
        QCOMPARE(keys.size(), 17); // 16 columns and the grid
        QCOMPARE(keys.first(), QStringLiteral("DBGridEh1.g"));
        QCOMPARE(keys.last(), QStringLiteral("(Default)"));
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("DBGridEh1.g")),
                 QStringLiteral("0,%1,0,1,0,7,0").arg(columnOf(h, "g")->width()));
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("DBGridEh1.h")),
                 QStringLiteral("7,%1,0,0,0,7,0").arg(columnOf(h, "h")->width()));
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("DBGridEh1.b")),
                 QStringLiteral("2,%1,1,1,1,7,0").arg(columnOf(h, "b")->width()));
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("(Default)")),
                 QStringLiteral("0,0"));

        restart(h);
        QCOMPARE(order(h), savedOrder);
        QCOMPARE(widths(h), savedWidths);
        QCOMPARE(visibleWidthSum(h), gridOf(h)->view()->viewport()->width());
        QVERIFY(!columnOf(h, "h")->visible());
        QCOMPARE(columnOf(h, "b")->title()->sortMarker(), SortMarker::Down);
        QCOMPARE(columnOf(h, "b")->title()->sortIndex(), 1);
        // the hide items' check marks show what the restored layout hid
        const QList<QAction *> hideItems = h.form->customerList()->hideColumnActions();
        for (int i = 0; i < hideItems.size(); ++i)
            QCOMPARE(hideItems.at(i)->isChecked(), i == 4 || i >= 11); // 传真, and the hidden follow-up dates
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());

        // The rows come in the table's order: the marker sorted nothing.
        h.form->showAllRecords();
        QCOMPARE(h.listColumn(QStringLiteral("b")),
                 (QStringList{QStringLiteral("乙"), QStringLiteral("甲"), QStringLiteral("丙")}));
        QVERIFY(h.data->customerList->sortText().isEmpty());

        // The double click opens a row whatever the restored first column (the telephone) holds.
        QSignalSpy load(h.form->customerList(), &lianbu::customers::CustomerList::recordLoadRequested);
        gridOf(h)->setCurrentRow(0); // category set, telephone empty
        h.form->customerList()->onRowDoubleClicked();
        QCOMPARE(load.count(), 1);
        gridOf(h)->setCurrentRow(1); // category empty, telephone set
        h.form->customerList()->onRowDoubleClicked();
        QCOMPARE(load.count(), 2);

        // "隐藏客户类别" hides the category, not whatever stands at position 0 (the telephone).
        hideItems.at(0)->trigger();
        QVERIFY(!columnOf(h, "a")->visible());
        QVERIFY(columnOf(h, "g")->visible());
        QVERIFY(hideItems.at(0)->isChecked());
        // "隐藏传真" starts checked after the restore: its first click shows the column again.
        hideItems.at(4)->trigger();
        QVERIFY(columnOf(h, "h")->visible());
        QVERIFY(!hideItems.at(4)->isChecked());
        hideItems.at(4)->trigger();
        QVERIFY(!columnOf(h, "h")->visible());

        // The restored down marker makes the first click on the title sort ascending.
        gridOf(h)->clickTitle(columnOf(h, "b")->index());
        QCOMPARE(h.data->customerList->sortText(), QStringLiteral("b"));
        QCOMPARE(columnOf(h, "b")->title()->sortMarker(), SortMarker::Up);
    }

    void savingTwiceReplacesTheLinesInPlace()
    {
        MainWindowHarness h;
        h.form->customerList()->saveColumnLayoutAction()->trigger();
        const QByteArray first = readSettings();
        gridOf(h)->columns()->move(0, 13);
        h.form->customerList()->saveColumnLayoutAction()->trigger();
        const QByteArray second = readSettings();
        QCOMPARE(second.count("\r\n"), first.count("\r\n"));
        QCOMPARE(second.count("DBGridEh1.a="), 1);
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("DBGridEh1.a"))
                     .section(QLatin1Char(','), 0, 0),
                 QStringLiteral("13"));
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
    }

    // Files written by the program before its names were changed: their section, entry names
    // and skin value are what users have on disk, so they must read back and save unchanged.
    void filesOfThePreviousVersionReadBackUnchanged()
    {
        QFile layout(QStringLiteral(LIANBU_FIXTURES "/previous-version-lianbu.ini"));
        QVERIFY(layout.open(QIODevice::ReadOnly));
        const QByteArray stored = layout.readAll();
        MainWindowHarness h(false);
        writeSettings(stored);
        h.show();
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
        QCOMPARE(order(h).first(), QStringLiteral("day1"));
        QCOMPARE(order(h).mid(1, 2), (QStringList{"a", "b"}));
        QVERIFY(!columnOf(h, "e")->visible());
        QCOMPARE(columnOf(h, "b")->title()->sortMarker(), SortMarker::Up);
        QCOMPARE(gridOf(h)->rowHeight(), 23);
        // Saving again writes the same entries under the same names.
        h.form->customerList()->saveColumnLayoutAction()->trigger();
        QFile saved(paths::settingsFilePath());
        QVERIFY(saved.open(QIODevice::ReadOnly));
        // (and, for the columns that version did not have, two entries more)
        auto names = [](const QByteArray &bytes) {
            QList<QByteArray> lines;
            for (const QByteArray &line : bytes.split('\n'))
                if (!line.startsWith("DBGridEh1.last_followup=") && !line.startsWith("DBGridEh1.next_contact="))
                    lines << line.left(line.indexOf('='));
            return lines;
        };
        const QByteArray written = saved.readAll();
        for (const char *added : {"DBGridEh1.last_followup", "DBGridEh1.next_contact"}) {
            QCOMPARE(written.count(QByteArray(added) + '='), 1);
            QCOMPARE(profileString(paths::settingsFilePath(), kSection, QLatin1String(added)).section(',', 3, 3),
                     QStringLiteral("0")); // hidden
        }
        QCOMPARE(names(written), names(stored));
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("DBGridEh1.e")).section(',', 3, 3),
                 QStringLiteral("0"));

#ifndef _WIN32 // the skin of a Windows build is a registry value, never a file of this form
        QSettings skin(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("qiaomu"),
                       QStringLiteral("lianbu"));
        QFile skinFixture(QStringLiteral(LIANBU_FIXTURES "/previous-version-lianbu.conf"));
        QVERIFY(QDir().mkpath(QFileInfo(skin.fileName()).absolutePath()));
        QFile::remove(skin.fileName());
        QVERIFY(skinFixture.copy(skin.fileName()));
        QCOMPARE(skins::readRememberedSkin(), std::optional<int>(3));
#endif
    }

    void aHandWrittenFileIsReadAsFarAsItGoes()
    {
        MainWindowHarness h(false);
        // another program's section, an entry of a column the grid does not have, Chinese text
        // around the separators, missing words, negative values and a position claimed twice
        writeSettings(
            gbk::encode(QStringLiteral("[其他]\r\nDBGridEh1.a=5\r\n"
                                       "[lianbugrid]\r\n"
                                       "DBGridEh1.m=0,99,1,0,1,7,0\r\n"
                                       "DBGridEh1.c=1,  80,,0,,0\r\n" // 1, 80, 0, 0: hidden
                                       "DBGridEh1.a=1,电话,0,1\r\n"   // claims position 1 before c does; width kept
                                       "DBGridEh1.b=0\r\n"
                                       "DBGridEh1.k=-3,-40,2,1,-7\r\n" // never moved, width kept, up marker
                                       "DBGridEh1.day1=13,60,宋,1\r\n")));
        h.show();
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
        QCOMPARE(order(h).mid(0, 3), (QStringList{"b", "a", "c"}));
        QVERIFY(!columnOf(h, "c")->visible());
        QCOMPARE(columnOf(h, "c")->baseWidth(), 80);
        QVERIFY(!columnOf(h, "a")->widthAssigned());
        QCOMPARE(columnOf(h, "k")->baseWidth(), 50);
        QCOMPARE(columnOf(h, "k")->title()->sortMarker(), SortMarker::Up);
        QCOMPARE(columnOf(h, "k")->title()->sortIndex(), 1);
        QCOMPARE(columnOf(h, "day1")->baseWidth(), 60);
        QCOMPARE(columnOf(h, "day1")->index(), 13);
        QCOMPARE(gridOf(h)->rowHeight(), 0);
        // fitted to the grid's width with the stored widths as base widths
        QCOMPARE(visibleWidthSum(h), gridOf(h)->view()->viewport()->width());

        // Saving keeps what it does not own.
        h.form->customerList()->saveColumnLayoutAction()->trigger();
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("DBGridEh1.m")),
                 QStringLiteral("0,99,1,0,1,7,0"));
        QCOMPARE(profileString(paths::settingsFilePath(), QStringLiteral("其他"), QStringLiteral("DBGridEh1.a")),
                 QStringLiteral("5"));
        QCOMPARE(profileString(paths::settingsFilePath(), kSection, QStringLiteral("DBGridEh1.b")),
                 QStringLiteral("0,%1,0,1,0,7,0").arg(columnOf(h, "b")->width()));
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
        gridOf(h)->columns()->move(6, 0);
        const QString before = layoutSnapshot(h);
        h.form->customerList()->saveColumnLayoutAction()->trigger();
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
        h.form->customerList()->saveColumnLayoutAction()->trigger(); // the layout as it starts
        const QString file = paths::settingsFilePath();
        const QString oldF = profileString(file, kSection, QStringLiteral("DBGridEh1.f"));
        // move "电  话" to the front and give the column at position 5 a name that cannot be a
        // key: the save stops there.
        gridOf(h)->columns()->move(6, 0);
        gridOf(h)->columns()->items(5)->setFieldName(QStringLiteral("e=x"));
        const QString before = layoutSnapshot(h);
        h.form->customerList()->saveColumnLayoutAction()->trigger();
        QCOMPARE(h.env.dialogs().boxes().size(), 1);
        QCOMPARE(h.env.dialogs().lastBox().request.text, QStringLiteral("Unable to write to %1.").arg(file));
        QCOMPARE(layoutSnapshot(h), before);
        // positions 0..4 hold the new layout, the later columns their old entries
        QCOMPARE(profileString(file, kSection, QStringLiteral("DBGridEh1.g")).section(',', 0, 0), QStringLiteral("0"));
        QCOMPARE(profileString(file, kSection, QStringLiteral("DBGridEh1.d")).section(',', 0, 0), QStringLiteral("4"));
        QCOMPARE(profileString(file, kSection, QStringLiteral("DBGridEh1.f")), oldF);
        QCOMPARE(profileKeys(file, kSection).size(), 17);
    }
};

QTEST_MAIN(TestLayout)
#include "test_layout.moc"
