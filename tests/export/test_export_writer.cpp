// XlsExporter over a real dataset and grid: the sheet layout record by record, title
// levels, field preparation, the record walk, footers, the overwrite question, failures, the
// remembered record, the opened file and long lists.

#include "db/Field.h"
#include "export/ExportProgressWindow.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "tests/export/ExportTestData.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

using namespace lianbu;
using exporttest::Register;
using test::XlsRecord;

namespace {

// Whether an export's progress window is on the screen.
bool progressWindowShown()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<lianbu::exchange::ExportProgressWindow *>(widget) && widget->isVisible())
            return true;
    return false;
}

const QString kMoment = QStringLiteral("2010-08-15 9:05:03");

// Three text fields x, y, w and two records.
QStringList twoRecords()
{
    return {QStringLiteral("insert into t (x, y, w) values ('甲一', '乙一', '丙一')"),
            QStringLiteral("insert into t (x, y, w) values ('甲二', '乙二', '丙二')")};
}

// The grid of the worked example: X, Y|Z, W (hidden); footer row 1 with "总计" under X.
void workedGrid(Register &r)
{
    r.addColumn(QStringLiteral("x"), QStringLiteral("X"));
    r.addColumn(QStringLiteral("y"), QStringLiteral("Y|Z"));
    r.addColumn(QStringLiteral("w"), QStringLiteral("W"), false);
    r.grid->setFooterRowCount(1);
    r.grid->columns()->items(0)->footer()->setValue(QStringLiteral("总计"));
}

// A device that accepts `limit` bytes and then refuses every write.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(qint64 limit)
        : m_limit(limit)
    {
        open(QIODevice::WriteOnly);
    }
    qint64 written = 0;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override
    {
        if (written + size > m_limit) {
            setErrorString(QStringLiteral("disk full"));
            return -1;
        }
        written += size;
        return size;
    }

private:
    qint64 m_limit;
};

} // namespace

class TestExportWriter : public QObject
{
    Q_OBJECT

private slots:
    void createdWriterDefaults()
    {
        XlsExporter writer;
        QVERIFY(writer.showProgress());
        QVERIFY(writer.columns() == nullptr);
        QVERIFY(writer.titleName().isEmpty() && writer.userName().isEmpty() && writer.fileName().isEmpty());
        QVERIFY(writer.beginDate().isEmpty() && writer.endDate().isEmpty());
    }

    void workedLayoutRecordByRecord()
    {
        Register r(QStringLiteral("create table t (x VARCHAR(10), y VARCHAR(10), w VARCHAR(10))"), twoRecords());
        workedGrid(r);
        bool ok = false;
        const QList<XlsRecord> records = test::readXlsRecords(r.stream(), &ok);
        QVERIFY(ok);
        const QStringList expected = {
            QStringLiteral("BOF"),
            QStringLiteral("CODEPAGE936"),
            QStringLiteral("LABEL(0,3)客户统计报表"),
            QStringLiteral("LABEL(1,0)制表人：联簿宝"),
            QStringLiteral("LABEL(1,5)制表时间：") + kMoment,
            QStringLiteral("LABEL(2,0)X"),
            QStringLiteral("LABEL(2,1)Y"),
            QStringLiteral("LABEL(3,0)"),
            QStringLiteral("LABEL(3,1)Z"),
            QStringLiteral("LABEL(4,0)甲一"),
            QStringLiteral("LABEL(4,1)乙一"),
            QStringLiteral("LABEL(5,0)甲二"),
            QStringLiteral("LABEL(5,1)乙二"),
            QStringLiteral("LABEL(6,0)总计"),
            QStringLiteral("LABEL(6,1)"),
            QStringLiteral("EOF"),
        };
        QCOMPARE(test::describeAll(records), expected);
        for (const XlsRecord &record : records)
            if (record.isCell())
                QCOMPARE(record.xf(), 0);
        // The empty title part is a LABEL of length 0, not a BLANK.
        QCOMPARE(records.at(7).type, quint16(0x0204));
        QCOMPARE(records.at(7).data.size(), 8);
        // Chinese text is code page 936 bytes.
        QCOMPARE(records.at(2).labelBytes(), QByteArray::fromHex("BFCDBBA7CDB3BCC6B1A8B1ED"));

        // The export writes exactly this stream into the file.
        r.writer.setFileName(r.env.filePath(QStringLiteral("worked.xls")));
        r.exportFile();
        QCOMPARE(Register::fileBytes(r.writer.fileName()), r.stream());
        QVERIFY2(r.env.dialogs().boxes().isEmpty(), r.env.dialogs().boxesText().constData());
    }

    void titleBlockWithDates()
    {
        Register r(QStringLiteral("create table t (x VARCHAR(10), y VARCHAR(10), w VARCHAR(10))"), twoRecords());
        workedGrid(r);
        // A blank (only spaces) date counts as empty.
        r.writer.setBeginDate(QStringLiteral("  "));
        r.writer.setEndDate(QString());
        QVERIFY(r.cellsFrom(0).contains(QStringLiteral("LABEL(2,0)X")));
        // Either date moves the author line to row 2 and the titles to row 3; dates go unchanged.
        r.writer.setBeginDate(QStringLiteral(" 2010-01-01"));
        QStringList cells = r.cellsFrom(0);
        QCOMPARE(cells.mid(0, 4),
                 QStringList({QStringLiteral("LABEL(0,3)客户统计报表"), QStringLiteral("LABEL(1,0) 2010-01-01"),
                              QStringLiteral("LABEL(2,0)制表人：联簿宝"),
                              QStringLiteral("LABEL(2,5)制表时间：") + kMoment}));
        QCOMPARE(cells.at(4), QStringLiteral("LABEL(3,0)X"));
        r.writer.setBeginDate(QString());
        r.writer.setEndDate(QStringLiteral("2010-12-31"));
        cells = r.cellsFrom(0);
        QCOMPARE(cells.at(1), QStringLiteral("LABEL(1,5)2010-12-31"));
        QCOMPARE(cells.at(2), QStringLiteral("LABEL(2,0)制表人：联簿宝"));
        // Empty title and author still give their LABELs; a midnight moment shows the date only.
        setFixedNow(QDateTime(QDate(2011, 2, 3), QTime(0, 0)));
        r.writer.setTitleName(QString());
        r.writer.setUserName(QString());
        r.writer.setEndDate(QString());
        cells = r.cellsFrom(0);
        QCOMPARE(cells.mid(0, 3), QStringList({QStringLiteral("LABEL(0,3)"), QStringLiteral("LABEL(1,0)制表人："),
                                               QStringLiteral("LABEL(1,5)制表时间：2011-02-03")}));
    }

    void titleSplitting()
    {
        Register r(QStringLiteral("create table t (x TEXT, y TEXT, w TEXT, v TEXT)"), twoRecords());
        r.addColumn(QStringLiteral("x"), QStringLiteral("A|B|C"));
        r.addColumn(QStringLiteral("y"), QStringLiteral("单层"));
        r.addColumn(QStringLiteral("w"), QStringLiteral("|中|"));
        TitleCells cells = titleCells(customers::shownColumns(*r.grid));
        QCOMPARE(cells.size(), size_t(3));
        QCOMPARE(cells[0], std::vector<QString>({"A", "B", "C"}));
        QCOMPARE(cells[1], std::vector<QString>({QStringLiteral("单层"), "", ""}));
        QCOMPARE(cells[2], std::vector<QString>({"", QStringLiteral("中"), ""})); // parts not trimmed, empty kept

        // A hidden column with a deeper title adds empty rows; it gets no cells itself.
        r.addColumn(QStringLiteral("v"), QStringLiteral("1|2|3|4"), false);
        cells = titleCells(customers::shownColumns(*r.grid));
        QCOMPARE(cells.size(), size_t(3));
        QCOMPARE(cells[0].size(), size_t(4));
        QCOMPARE(cells[0][3], QString());

        const QStringList sheet = r.cellsFrom(2);
        QCOMPARE(sheet.mid(0, 12), QStringList({"LABEL(2,0)A", "LABEL(2,1)单层", "LABEL(2,2)", "LABEL(3,0)B",
                                                "LABEL(3,1)", "LABEL(3,2)中", "LABEL(4,0)C", "LABEL(4,1)", "LABEL(4,2)",
                                                "LABEL(5,0)", "LABEL(5,1)", "LABEL(5,2)"}));
        QCOMPARE(sheet.at(12), QStringLiteral("LABEL(6,0)甲一")); // records follow the fourth title row

        // No columns: one (empty) title row, no title cells.
        r.grid->columns()->clear();
        const db::ListColumns none = customers::shownColumns(*r.grid);
        QCOMPARE(none.titleDepth, 1);
        QVERIFY(titleCells(none).empty());
    }

    void exportingLeavesTheListAsShown()
    {
        Register r(QStringLiteral("create table t (a TEXT, b TEXT, c TEXT, d TEXT, e TEXT)"),
                   {QStringLiteral("insert into t values ('1', '2', '3', '4', '5')"),
                    QStringLiteral("insert into t values ('6', '7', '8', '9', '0')"),
                    QStringLiteral("insert into t values ('1', '0', '0', '1', '0')")});
        // columns show d, b (withheld by its title), a (hidden) and e; c has no column.
        r.addColumn(QStringLiteral("d"), QStringLiteral("丁"));
        r.addColumn(QStringLiteral("B"), QStringLiteral("乙*****"));
        r.addColumn(QStringLiteral("a"), QStringLiteral("甲"), false);
        r.addColumn(QStringLiteral("e"), QString()); // no caption: the field's label
        r.query->fieldByName(QStringLiteral("e")).setDisplayLabel(QStringLiteral("戊"));
        r.query->setSort(QStringLiteral("d DESC"));
        r.query->moveToRow(1);
        r.grid->setCurrentRow(1);
        r.grid->show();
        db::DataSet &ds = *r.query;
        auto fieldsAsShown = [&] {
            QStringList fields;
            for (int k = 0; k < ds.fieldCount(); ++k)
                fields << QStringLiteral("%1:%2:%3:%4")
                              .arg(ds.field(k).fieldName(), ds.field(k).displayLabel())
                              .arg(ds.field(k).index())
                              .arg(ds.field(k).visible());
            return fields;
        };
        auto gridAsShown = [&] {
            QStringList shown;
            for (const GridColumn *column : r.grid->visibleColumns()) {
                shown << column->title()->caption();
                for (int row = 0; row < ds.recordCount(); ++row)
                    shown << r.grid->cellDisplayText(row, column);
            }
            return shown;
        };
        const QStringList fields = fieldsAsShown();
        const QStringList grid = gridAsShown();
        int currentChanges = 0, resets = 0;
        connect(&r.source, &db::DataSource::currentRowChanged, this, [&](int) { ++currentChanges; });
        connect(&r.source, &db::DataSource::dataSetChanged, this, [&] { ++resets; });

        // The withheld column keeps its title and gets BLANK cells; the hidden column a gets no
        // cell, so e stays under its title; c, which no column shows, has no title and stays out.
        // The rows come in the shown order (d descending).
        QCOMPARE(r.cellsFrom(2), QStringList({"LABEL(2,0)丁", "LABEL(2,1)乙*****", "LABEL(2,2)戊", "LABEL(3,0)9",
                                              "BLANK(3,1)", "LABEL(3,2)0", "LABEL(4,0)4", "BLANK(4,1)", "LABEL(4,2)5",
                                              "LABEL(5,0)1", "BLANK(5,1)", "LABEL(5,2)0"}));
        r.writer.setFileName(r.env.filePath(QStringLiteral("shown.xls")));
        r.exportFile();
        QCOMPARE(Register::fileBytes(r.writer.fileName()), r.stream());

        // Given a title, c goes out after the visible columns, under it; a hidden column's
        // field stays out even when named there.
        r.extraTitles = {{QStringLiteral("C"), QStringLiteral("丙")}, {QStringLiteral("a"), QStringLiteral("甲")}};
        QCOMPARE(r.cellsFrom(2),
                 QStringList({"LABEL(2,0)丁", "LABEL(2,1)乙*****", "LABEL(2,2)戊", "LABEL(2,3)丙", "LABEL(3,0)9",
                              "BLANK(3,1)", "LABEL(3,2)0", "LABEL(3,3)8", "LABEL(4,0)4", "BLANK(4,1)", "LABEL(4,2)5",
                              "LABEL(4,3)3", "LABEL(5,0)1", "BLANK(5,1)", "LABEL(5,2)0", "LABEL(5,3)0"}));
        r.exportFile();

        // Fields, their order, titles and visibility, the sort, the current row and what the
        // grid shows are as they were; the grid heard nothing.
        QCOMPARE(fieldsAsShown(), fields);
        QCOMPARE(gridAsShown(), grid);
        QCOMPARE(ds.sort(), QStringLiteral("d DESC"));
        QCOMPARE(ds.recNo(), 2);
        QCOMPARE(r.grid->currentRow(), 1);
        QCOMPARE(ds.fieldByName(QStringLiteral("d")).asString(), QStringLiteral("4"));
        QCOMPARE(currentChanges, 0);
        QCOMPARE(resets, 0);
        QVERIFY(!ds.controlsDisabled());
    }

    void preparedFieldsStillEditAndSort()
    {
        // Moving fields must not mix up which value belongs to which column when writing back.
        Register r(QStringLiteral("create table t (rid INTEGER PRIMARY KEY, a TEXT, b TEXT, n INTEGER)"),
                   {QStringLiteral("insert into t (a, b, n) values ('x1', 'y1', 3)"),
                    QStringLiteral("insert into t (a, b, n) values ('x2', 'y2', 1)")});
        db::DataSet &ds = *r.query;
        ds.fieldByName(QStringLiteral("n")).setIndex(0);
        ds.fieldByName(QStringLiteral("b")).setIndex(1);
        QCOMPARE(ds.field(0).fieldName(), QStringLiteral("n"));
        QCOMPARE(ds.field(1).fieldName(), QStringLiteral("b"));
        QCOMPARE(ds.field(2).fieldName(), QStringLiteral("a"));
        ds.first();
        ds.edit();
        ds.fieldByName(QStringLiteral("b")).setAsString(QStringLiteral("新"));
        QCOMPARE(ds.field(1).asString(), QStringLiteral("新"));
        QCOMPARE(ds.field(2).asString(), QStringLiteral("x1"));
        ds.post();
        QCOMPARE(ds.field(1).asString(), QStringLiteral("新"));
        QCOMPARE(ds.field(0).asString(), QStringLiteral("3"));
        ds.append();
        ds.fieldByName(QStringLiteral("a")).setAsString(QStringLiteral("x3"));
        ds.fieldByName(QStringLiteral("n")).setAsString(QStringLiteral("2"));
        ds.post();
        ds.setSort(QStringLiteral("n"));
        QCOMPARE(ds.cellText(0, 2), QStringLiteral("x2"));
        QCOMPARE(ds.cellText(1, 2), QStringLiteral("x3"));
        QCOMPARE(ds.cellText(2, 1), QStringLiteral("新"));
        // What reached the table.
        db::Query check(r.connection.get());
        check.setSql(QStringLiteral("select a, b, n from t order by rid"));
        check.open();
        QCOMPARE(check.cellText(0, 1), QStringLiteral("新"));
        QCOMPARE(check.cellText(0, 0), QStringLiteral("x1"));
        QCOMPARE(check.cellText(2, 0), QStringLiteral("x3"));
        QCOMPARE(check.cellText(2, 2), QStringLiteral("2"));
    }

    void missingFieldReachesTheCaller()
    {
        Register r(QStringLiteral("create table t (x TEXT, y TEXT, w TEXT)"), twoRecords());
        r.addColumn(QStringLiteral("x"), QStringLiteral("X"));
        r.addColumn(QStringLiteral("nope"), QStringLiteral("N"));
        const QString path = r.env.filePath(QStringLiteral("out.xls"));
        r.writer.setFileName(path);
        try {
            r.exportFile();
            QFAIL("no error");
        } catch (const Error &e) {
            QCOMPARE(e.message(), QStringLiteral("Field 'nope' not found"));
        }
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY2(r.env.dialogs().boxes().isEmpty(), r.env.dialogs().boxesText().constData());
        QVERIFY(QApplication::overrideCursor() == nullptr);
    }

    void valuesByType()
    {
        Register r(QStringLiteral("create table t (i INTEGER, f REAL, s VARCHAR(20), b BLOB, u)"),
                   {QStringLiteral("insert into t values (5, 1.5, '文本', x'0102', 'free')"),
                    QStringLiteral("insert into t values (-3, null, null, null, 7)"),
                    QStringLiteral("insert into t values (1000000000, -2, '', x'', null)"),
                    QStringLiteral("insert into t values ('abc', 'n/a', 'x', null, null)"),
                    QStringLiteral("insert into t values (2.5, 0, 'y', null, null)")});
        for (const char *name : {"i", "f", "s", "b", "u"})
            r.addColumn(QString::fromLatin1(name), QString::fromLatin1(name).toUpper());
        QCOMPARE(r.cellsFrom(3),
                 QStringList({// integers as RK, floats as NUMBER, blobs as empty LABELs
                              "RK(3,0)5", "NUMBER(3,1)1.5", "LABEL(3,2)文本", "LABEL(3,3)", "LABEL(3,4)free",
                              // a null takes its column as a BLANK
                              "RK(4,0)-3", "BLANK(4,1)", "BLANK(4,2)", "BLANK(4,3)", "LABEL(4,4)7",
                              // outside the RK range: NUMBER; empty text: empty LABEL
                              "NUMBER(5,0)1e+09", "NUMBER(5,1)-2", "LABEL(5,2)", "LABEL(5,3)", "BLANK(5,4)",
                              // a value that is no number in a numeric column keeps its text
                              "LABEL(6,0)abc", "LABEL(6,1)n/a", "LABEL(6,2)x", "BLANK(6,3)", "BLANK(6,4)",
                              "NUMBER(7,0)2.5", "NUMBER(7,1)0", "LABEL(7,2)y", "BLANK(7,3)", "BLANK(7,4)"}));
        const QList<XlsRecord> records = r.records();
        for (const XlsRecord &record : records)
            if (record.type == 0x0203 && record.row() == 5 && record.column() == 0)
                QCOMPARE(record.number(), 1000000000.0);
    }

    void footers()
    {
        Register r(QStringLiteral("create table t (x TEXT, y TEXT, w TEXT)"), twoRecords());
        r.addColumn(QStringLiteral("x"), QStringLiteral("X"));
        r.addColumn(QStringLiteral("w"), QStringLiteral("W"), false);
        r.addColumn(QStringLiteral("y"), QStringLiteral("Y"));
        GridColumn *x = r.grid->columns()->items(0);
        GridColumn *w = r.grid->columns()->items(1);
        GridColumn *y = r.grid->columns()->items(2);
        x->footer()->setValue(QStringLiteral("总计"));
        x->footer()->setValueType(FooterValue::StaticText);
        y->footer()->setValueType(FooterValue::Count); // shown as 2 in the grid, no assigned text
        w->footer()->setValue(QStringLiteral("隐藏"));

        // Rows 0-1 title block, 2 titles, 3-4 records.
        r.grid->setFooterRowCount(0);
        QStringList cells = r.cellsFrom(5);
        QVERIFY2(cells.isEmpty(), qPrintable(cells.join(' ')));
        QCOMPARE(r.records().last().describe(), QStringLiteral("EOF"));

        r.grid->setFooterRowCount(1);
        QCOMPARE(r.cellsFrom(5), QStringList({"LABEL(5,0)总计", "LABEL(5,1)"}));

        // Two or more rows: each column's footers one below the other from the row after the records.
        x->footers()->add()->setValue(QStringLiteral("合计"));
        x->footers()->add()->setValue(QStringLiteral("平均"));
        y->footers()->add()->setValue(QStringLiteral("人数"));
        r.grid->setFooterRowCount(2);
        QCOMPARE(r.cellsFrom(5), QStringList({"LABEL(5,0)合计", "LABEL(6,0)平均", "LABEL(5,1)人数"}));
        // The footers are the last cells, then EOF.
        QCOMPARE(r.records().last().describe(), QStringLiteral("EOF"));
    }

    void hiddenColumnsBeforeVisibleOnes()
    {
        // Without skipping, every value after the hidden column would stand under the wrong title.
        Register r(QStringLiteral("create table t (x TEXT, y TEXT, w TEXT)"), twoRecords());
        r.addColumn(QStringLiteral("w"), QStringLiteral("W"), false);
        r.addColumn(QStringLiteral("x"), QStringLiteral("X"));
        r.addColumn(QStringLiteral("y"), QStringLiteral("Y"));
        r.grid->setFooterRowCount(1);
        r.grid->columns()->items(1)->footer()->setValue(QStringLiteral("总计"));
        QCOMPARE(r.cellsFrom(2), QStringList({"LABEL(2,0)X", "LABEL(2,1)Y", "LABEL(3,0)甲一", "LABEL(3,1)乙一",
                                              "LABEL(4,0)甲二", "LABEL(4,1)乙二", "LABEL(5,0)总计", "LABEL(5,1)"}));
    }

    void overwriteQuestion()
    {
        Register r(QStringLiteral("create table t (x TEXT, y TEXT, w TEXT)"), twoRecords());
        workedGrid(r);
        const QString path = r.env.filePath(QStringLiteral("报表.xls"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents");
        old.close();
        r.writer.setFileName(path);

        // The question comes under the hourglass, before the progress window.
        bool busyWhileAsked = false;
        bool progressWhileAsked = true;
        r.env.dialogs().whileBoxOpen = [&](const BoxRequest &) {
            busyWhileAsked =
                QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            progressWhileAsked = progressWindowShown();
        };
        // No: the file stays, nothing is opened.
        r.env.dialogs().queueBoxAnswer(BoxButton::No);
        r.exportFile();
        QCOMPARE(r.env.dialogs().boxes().size(), 1);
        const BoxRequest box = r.env.dialogs().lastBox().request;
        QCOMPARE(box.caption, QStringLiteral("提示"));
        QCOMPARE(box.text, QStringLiteral("已存在文件（") + path + QStringLiteral("），是否覆盖？"));
        QCOMPARE(box.icon, BoxIcon::Question);
        QCOMPARE(box.buttons, QList<BoxButton>({BoxButton::Yes, BoxButton::No}));
        QCOMPARE(box.defaultButton, BoxButton::No);
        QCOMPARE(Register::fileBytes(path), QByteArray("old contents"));
        QVERIFY(busyWhileAsked);
        QVERIFY(!progressWhileAsked);
        QVERIFY(r.env.shell().opened.isEmpty());
        QVERIFY(!progressWindowShown());
        QVERIFY(QApplication::overrideCursor() == nullptr);

        // Yes: replaced by the new file, which is opened.
        r.env.dialogs().queueBoxAnswer(BoxButton::Yes);
        r.exportFile();
        QCOMPARE(r.env.dialogs().boxes().size(), 2);
        QCOMPARE(Register::fileBytes(path), r.stream());
        QCOMPARE(r.env.shell().opened, QList<QUrl>({QUrl::fromLocalFile(path)}));
        // No temporary file is left beside it.
        QCOMPARE(QDir(r.env.path()).entryList({QStringLiteral("*.xls*")}, QDir::Files),
                 QStringList({QStringLiteral("报表.xls")}));
    }

    void nothingForAnEmptyOrClosedListOrABlankName()
    {
        Register r(QStringLiteral("create table t (x TEXT, y TEXT, w TEXT)"), {});
        workedGrid(r);
        const QString path = r.env.filePath(QStringLiteral("empty.xls"));
        r.writer.setFileName(path);
        r.exportFile(); // empty
        QVERIFY(!QFileInfo::exists(path));
        r.connection->execute(QStringLiteral("insert into t values ('a', 'b', 'c')"));
        r.query->close();
        r.exportFile(); // closed
        QVERIFY(!QFileInfo::exists(path));
        r.query->open();
        r.writer.setFileName(QStringLiteral("   "));
        r.exportFile(); // blank name
        QVERIFY(QDir(r.env.path()).entryList({QStringLiteral("*.xls")}, QDir::Files).isEmpty());
        r.writer.setList(nullptr, nullptr);
        r.writer.setFileName(path);
        r.writer.exportFile(); // no list
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY2(r.env.dialogs().boxes().isEmpty(), r.env.dialogs().boxesText().constData());
        QVERIFY(r.env.shell().opened.isEmpty());
        // The fields were not touched either.
        QCOMPARE(r.query->field(2).displayLabel(), QStringLiteral("w"));
    }

    void failedWritesReplaceNothingAndOpenNothing()
    {
        Register r(QStringLiteral("create table t (x TEXT, y TEXT, w TEXT)"), twoRecords());
        workedGrid(r);
        r.query->moveToRow(1);

        // A folder that does not exist: the operator is told which file was not written.
        r.writer.setFileName(r.env.filePath(QStringLiteral("missing/out.xls")));
        r.exportFile();
        QVERIFY(!QFileInfo::exists(r.writer.fileName()));
        QCOMPARE(r.env.dialogs().boxes().size(), 1);
        const BoxRequest missing = r.env.dialogs().boxes().at(0).request;
        QCOMPARE(missing.icon, BoxIcon::Stop);
        QVERIFY2(missing.text.contains(QStringLiteral("导出失败")) && missing.text.contains(r.writer.fileName()),
                 qPrintable(missing.text));

        // A folder standing where the file should go: asked, agreed, and still not writable.
        QVERIFY(QDir(r.env.path()).mkdir(QStringLiteral("dir.xls")));
        r.writer.setFileName(r.env.filePath(QStringLiteral("dir.xls")));
        r.env.dialogs().queueBoxAnswer(BoxButton::Yes);
        r.exportFile();
        QVERIFY(QFileInfo(r.writer.fileName()).isDir());
        QCOMPARE(r.env.dialogs().boxes().size(), 3); // the question, then the failure
        QCOMPARE(r.env.dialogs().boxes().at(2).request.icon, BoxIcon::Stop);
        QVERIFY(r.env.dialogs().boxes().at(2).request.text.contains(r.writer.fileName()));

        QVERIFY(r.env.shell().opened.isEmpty());
        QVERIFY(!progressWindowShown());
        QVERIFY(QApplication::overrideCursor() == nullptr);
        QCOMPARE(r.query->recNo(), 2);
        QVERIFY(!r.query->controlsDisabled());
    }

    void charactersOutsideGbkAreCounted()
    {
        Register r(QStringLiteral("create table t (x TEXT, y TEXT, w TEXT)"),
                   {QStringLiteral("insert into t values ('甲一', '表情😀', '丙一')"),
                    QStringLiteral("insert into t values ('𠀀生僻', '乙二', '€ 在 GBK 里')"),
                    QStringLiteral("insert into t values ('甲三', '乙三', '丙三')")});
        workedGrid(r);
        // Two visible cells hold characters the format cannot store; "€" is one it can.
        r.writer.setFileName(r.env.filePath(QStringLiteral("gbk.xls")));
        r.exportFile();
        QVERIFY(QFileInfo::exists(r.writer.fileName())); // still written
        QCOMPARE(r.env.dialogs().boxes().size(), 1);
        const QString said = r.env.dialogs().boxes().at(0).request.text;
        QVERIFY2(said.contains(QStringLiteral(" 2 个单元格")) && said.contains(r.writer.fileName()), qPrintable(said));
    }

    void failureInTheMiddleOfTheRecords()
    {
        Register r(QStringLiteral("create table t (x TEXT, y TEXT, w TEXT)"), twoRecords());
        workedGrid(r);
        r.query->moveToRow(1);
        const int full = int(r.stream().size());
        // Enough for the title block, the titles and part of the first record.
        FailingDevice device(full - 60);
        QVERIFY_THROWS_EXCEPTION(Error, r.writer.saveStream(&device));
        QVERIFY(device.written > 0);
        QCOMPARE(r.query->recNo(), 2);
        QVERIFY(!r.query->controlsDisabled());
        // A failure in the title rows stops the export too (nothing after them is written).
        FailingDevice early(40);
        QVERIFY_THROWS_EXCEPTION(Error, r.writer.saveStream(&early));
        QVERIFY(early.written <= 40);
    }

    void backOnTheRememberedRecordAndOpened()
    {
        Register r(QStringLiteral("create table t (x TEXT, y TEXT, w TEXT)"),
                   {QStringLiteral("with recursive c(n) as (select 1 union all select n + 1 from c where n < 50) "
                                   "insert into t select n, n, n from c")});
        workedGrid(r);
        r.grid->show();
        r.query->moveToRow(1);
        r.grid->setCurrentRow(1);
        QCOMPARE(r.grid->currentRow(), 1);
        int currentChanges = 0;
        connect(&r.source, &db::DataSource::currentRowChanged, this, [&](int) { ++currentChanges; });
        const QString path = r.env.filePath(QStringLiteral("out.xls"));
        r.writer.setFileName(path);
        r.exportFile();
        QCOMPARE(r.query->recNo(), 2);
        QCOMPARE(r.grid->currentRow(), 1);
        // The grid did not follow the walk record by record.
        QVERIFY2(currentChanges < 5, qPrintable(QString::number(currentChanges)));
        QCOMPARE(r.env.shell().opened, QList<QUrl>({QUrl::fromLocalFile(path)}));
        QVERIFY2(r.env.dialogs().boxes().isEmpty(), r.env.dialogs().boxesText().constData());

        // A relative name is written in the working folder and opened by its full path.
        r.writer.setFileName(QStringLiteral("relative.xls"));
        r.exportFile();
        QVERIFY(QFileInfo::exists(r.env.filePath(QStringLiteral("relative.xls"))));
        QCOMPARE(r.env.shell().opened.last(), QUrl::fromLocalFile(r.env.filePath(QStringLiteral("relative.xls"))));
    }

    void progressWindow()
    {
        Register r(QStringLiteral("create table t (x TEXT, y TEXT, w TEXT)"), twoRecords());
        workedGrid(r);
        r.writer.showProgressWindow(nullptr);
        QWidget *window = r.writer.progressWindow();
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(window->size(), QSize(300, 100));
        auto *label = window->findChild<QLabel *>(QStringLiteral("Label"));
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("正在导出数据，请稍候......"));
        QVERIFY(label->font().bold());
        QCOMPARE(label->mapTo(window, QPoint(0, 0)), QPoint(25, 25));
        QProgressBar *gauge = r.writer.progressGauge();
        QVERIFY(gauge);
        QCOMPARE(QRect(gauge->mapTo(window, QPoint(0, 0)), gauge->size()), QRect(20, 50, 260, 13));
        QCOMPARE(gauge->minimum(), 0);
        QCOMPARE(gauge->maximum(), 2);
        // The frame: the window's corner pixel is black.
        const QImage image = window->grab().toImage();
        QCOMPARE(QColor(image.pixel(0, 0)), QColor(Qt::black));
        QCOMPARE(QColor(image.pixel(150, 99)), QColor(Qt::black));
        if (!qEnvironmentVariableIsEmpty("LIANBU_SCREENSHOTS"))
            image.save(qEnvironmentVariable("LIANBU_SCREENSHOTS") + QStringLiteral("/export-progress.png"));
        // Asking again builds nothing new.
        r.writer.showProgressWindow(nullptr);
        QCOMPARE(r.writer.progressWindow(), window);

        // During the walk the gauge follows the record number.
        r.stream();
        QCOMPARE(gauge->value(), 2);
        // A full gauge is filled blue.
        const QImage full = window->grab().toImage();
        QCOMPARE(QColor(full.pixel(150, 56)), QColor(Qt::blue));
        if (!qEnvironmentVariableIsEmpty("LIANBU_SCREENSHOTS"))
            full.save(qEnvironmentVariable("LIANBU_SCREENSHOTS") + QStringLiteral("/export-progress-full.png"));
        r.writer.destroyProgressWindow();
        QVERIFY(r.writer.progressWindow() == nullptr);
    }

    void longListsStream()
    {
        // The file grows by the same number of bytes for every further record.
        auto fill = [](int count) {
            return QStringList({QStringLiteral("with recursive c(n) as (select 1 union all select n + 1 from c "
                                               "where n < %1) insert into t select '客户' || n, n, n * 0.5 from c")
                                    .arg(count)});
        };
        qint64 sizes[2] = {};
        const int counts[2] = {1000, 3000};
        for (int i = 0; i < 2; ++i) {
            Register r(QStringLiteral("create table t (a TEXT, n INTEGER, f REAL)"), fill(counts[i]));
            r.addColumn(QStringLiteral("a"), QStringLiteral("名称"));
            r.addColumn(QStringLiteral("n"), QStringLiteral("编号"));
            r.addColumn(QStringLiteral("f"), QStringLiteral("金额"));
            r.writer.setShowProgress(false);
            r.writer.setFileName(r.env.filePath(QStringLiteral("long.xls")));
            r.exportFile();
            const QByteArray bytes = Register::fileBytes(r.writer.fileName());
            sizes[i] = bytes.size();
            bool ok = false;
            const QList<XlsRecord> records = test::readXlsRecords(bytes, &ok);
            QVERIFY(ok);
            // BOF and CODEPAGE, title block, titles, records, EOF.
            QCOMPARE(records.size(), 2 + 3 + 3 + 3 * counts[i] + 1);
            const XlsRecord last = records.at(records.size() - 2);
            QCOMPARE(last.describe(), QStringLiteral("NUMBER(%1,2)%2").arg(3 + counts[i] - 1).arg(counts[i] * 0.5));
        }
        // Records 1001..3000 are a LABEL of '客户' + 4 digits (12 + 8 bytes), an RK (14), a NUMBER (18).
        const qint64 perRecord = (12 + 8) + 14 + 18;
        QCOMPARE(sizes[1] - sizes[0], 2000 * perRecord);
    }

    void tooManyRowsForTheFormat()
    {
        // 2 title block rows + 1 title row + records: 65,533 records end on row 65,535.
        Register r(QStringLiteral("create table t (n INTEGER)"),
                   {QStringLiteral("with recursive c(n) as (select 1 union all select n + 1 from c where n < 65534) "
                                   "insert into t select n from c")});
        r.addColumn(QStringLiteral("n"), QStringLiteral("编号"));
        r.writer.setShowProgress(false);
        const QString path = r.env.filePath(QStringLiteral("big.xls"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("keep");
        old.close();
        r.writer.setFileName(path);
        r.exportFile();
        QCOMPARE(r.env.dialogs().boxes().size(), 1);
        const BoxRequest box = r.env.dialogs().lastBox().request;
        QCOMPARE(box.icon, BoxIcon::None); // the information box, not the overwrite question
        QVERIFY2(box.text.contains(QStringLiteral("65534 条记录")), qPrintable(box.text));
        QVERIFY(box.text.contains(QStringLiteral("65536")));
        QCOMPARE(Register::fileBytes(path), QByteArray("keep"));
        QVERIFY(r.env.shell().opened.isEmpty());

        // One record fewer fits exactly.
        r.connection->execute(QStringLiteral("delete from t where n = 65534"));
        r.query->open();
        QVERIFY(QFile::remove(path));
        r.exportFile();
        QCOMPARE(r.env.dialogs().boxes().size(), 1);
        bool ok = false;
        const QList<XlsRecord> records = test::readXlsRecords(Register::fileBytes(path), &ok);
        QVERIFY(ok);
        QCOMPARE(records.at(records.size() - 2).describe(), QStringLiteral("RK(65535,0)65533"));
    }
};

QTEST_MAIN(TestExportWriter)
#include "test_export_writer.moc"
