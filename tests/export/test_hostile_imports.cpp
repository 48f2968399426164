// Small hostile files against every importer: each is refused with a message that names the
// limit it passed, in a child process whose memory may grow by 200 MB at most (and is measured),
// and a cancel stops every reader. How long each refusal takes is measured by the benchmark.

#include "export/CsvFormat.h"
#include "export/ReadLimits.h"
#include "export/VCardFormat.h"
#include "export/XlsReader.h"
#include "export/XlsxFormat.h"
#include "platform/Error.h"
#include "tests/export/HostileFiles.h"
#include "tests/support/BoundedRun.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace lianbu;
using namespace lianbu::exchange;

namespace {

constexpr int kMemoryMb = 200;

// Runs the read in a child bounded to kMemoryMb more memory and checks it was refused with
// the expected words and stayed under the bound.
void expectRefused(const std::function<void(ReadBudget &)> &read, const QString &words)
{
    const test::BoundedOutcome outcome = test::runBounded(
        [&] {
            ReadBudget budget;
            read(budget);
        },
        kMemoryMb);
    QVERIFY2(outcome.ran, qPrintable(outcome.message));
    QVERIFY2(outcome.threw, qPrintable(QStringLiteral("not refused: ") + outcome.message));
    QVERIFY2(outcome.message.contains(QStringLiteral("文件超出导入的限制")) && outcome.message.contains(words),
             qPrintable(outcome.message));
    if (!test::underSanitizer()) {
        QVERIFY(outcome.peakGrowthKb >= 0);
        QVERIFY2(outcome.peakGrowthKb < kMemoryMb * 1024, qPrintable(QString::number(outcome.peakGrowthKb)));
    }
    qInfo("refused (peak memory grew by %lld kB): %s", outcome.peakGrowthKb, qPrintable(outcome.message));
}

} // namespace

class TestHostileImports : public QObject
{
    Q_OBJECT

private slots:
    void csvLineOfCommas()
    {
        const QByteArray line = test::hostileCsvLine();
        expectRefused([&](ReadBudget &budget) { parseCsv(line, TextEncoding::Utf8, &budget); },
                      QStringLiteral("每行最多 256 列"));
    }

    void vCardWithALongQuotedPrintableValue()
    {
        const QByteArray cards = test::hostileVCard();
        QVERIFY(cards.size() > 3'500'000);
        expectRefused([&](ReadBudget &budget) { parseVCards(cards, &budget); }, QStringLiteral("每行最多"));
        // Below the limit the same kind of value is read, and read whole.
        const VCardData data = parseVCards(test::quotedPrintableCard(100'000), nullptr);
        QCOMPARE(data.cards.at(0).record[CustomerField::Notes].size(), qsizetype(100'000));
    }

    void xlsxThatClaimsFarColumns()
    {
        const QByteArray workbook = test::paddedXlsx();
        QVERIFY(workbook.size() < 400'000);
        expectRefused([&](ReadBudget &budget) { readXlsx(workbook, &budget); }, QStringLiteral("每行最多 256 列"));
    }

    void xlsxWithMillionsOfCells()
    {
        const QByteArray workbook = test::manyCellsXlsx();
        QVERIFY(workbook.size() < 2'000'000);
        expectRefused([&](ReadBudget &budget) { readXlsx(workbook, &budget); }, QStringLiteral("个单元格"));
    }

    // What the sheet claims is refused before a row is read; a sheet that claims nothing is
    // counted as its cells arrive.
    void xlsxThatClaimsMillionsOfCells()
    {
        const QByteArray workbook = test::claimingXlsx();
        expectRefused([&](ReadBudget &budget) { readXlsx(workbook, &budget); },
                      QStringLiteral("文件的工作表有 200000 行 10 列"));
        QCOMPARE(readXlsx(workbook).rows.size(), std::size_t(1)); // without limits it is read
    }

    void zipBombs()
    {
        const QByteArray bomb = test::zipBombXlsx(false);
        QVERIFY(bomb.size() < 1'500'000);
        expectRefused([&](ReadBudget &budget) { readXlsx(bomb, &budget); }, QStringLiteral("解压后最大 64 MB"));
        // One that hides its size is unpacked as it is read, never past what it said, and is
        // refused as no readable file (its zeros are no XML) or as damaged.
        const QByteArray liar = test::zipBombXlsx(true);
        const test::BoundedOutcome outcome = test::runBounded(
            [&] {
                ReadBudget budget;
                readXlsx(liar, &budget);
            },
            kMemoryMb);
        QVERIFY2(outcome.threw && outcome.message.contains(QStringLiteral(".xlsx")), qPrintable(outcome.message));
        QVERIFY2(outcome.peakGrowthKb < kMemoryMb * 1024 || test::underSanitizer(),
                 qPrintable(QString::number(outcome.peakGrowthKb)));
    }

    void xlsThatClaimsAHugeSheet()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("大.xls"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(test::hugeDimensionXls());
        file.close();
        expectRefused([&](ReadBudget &budget) { readXls(path, &budget); }, QStringLiteral("65536 行 256 列"));

        // The same workbook as it was is read, through the same check.
        ReadBudget budget;
        const SheetData sheet = readXls(QStringLiteral(LIANBU_FIXTURES "/biff8-customers.xls"), &budget);
        QCOMPARE(sheet.rows.size(), std::size_t(3));
        QVERIFY(!compoundWorkbookStream(test::fixture("biff8-customers.xls")).isEmpty());
    }

    void aCancelStopsEveryReader()
    {
        std::atomic<bool> cancel{true};
        auto cancelled = [&](const std::function<void(ReadBudget &)> &read) {
            ReadBudget budget({}, &cancel);
            try {
                read(budget);
            } catch (const ReadCancelled &) {
                return true;
            }
            return false;
        };
        QByteArray csv;
        for (int row = 0; row < 1000; ++row)
            csv += "a,b,c,d,e,f,g,h\r\n";
        QVERIFY(cancelled([&](ReadBudget &b) { parseCsv(csv, TextEncoding::Utf8, &b); }));
        QByteArray cards;
        for (int card = 0; card < 2000; ++card)
            cards += "BEGIN:VCARD\r\nFN:x\r\nEND:VCARD\r\n";
        QVERIFY(cancelled([&](ReadBudget &b) { parseVCards(cards, &b); }));
        QVERIFY(cancelled([&](ReadBudget &b) { readXlsx(test::manyCellsXlsx(), &b); }));
        QVERIFY(cancelled([&](ReadBudget &b) { readXls(QStringLiteral(LIANBU_FIXTURES "/biff8-customers.xls"), &b); }));
    }
};

QTEST_GUILESS_MAIN(TestHostileImports)
#include "test_hostile_imports.moc"
