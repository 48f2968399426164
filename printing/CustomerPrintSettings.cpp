#include "printing/PrnDbgeh.h"

#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace lianbu::printing {

namespace {

QTextCharFormat charFormat(const QString &face, qreal points, bool bold)
{
    QTextCharFormat format;
    format.setFontFamilies({face});
    format.setFontPointSize(points);
    format.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    return format;
}

void addParagraph(QTextCursor &cursor, bool first, Qt::Alignment align, const QTextCharFormat &format,
                  const QString &text)
{
    QTextBlockFormat block;
    block.setAlignment(align);
    if (first) {
        cursor.setBlockFormat(block);
        cursor.setBlockCharFormat(format);
    } else {
        cursor.insertBlock(block, format);
    }
    cursor.setCharFormat(format);
    if (!text.isEmpty())
        cursor.insertText(text, format);
}

} // namespace

void configureCustomerPrint(TPrintDBGridEh *p, const QString &vendorAddress)
{
    p->Options = TPrintGridOptionsEh(pghFitGridToPageWidth) | pghColored | pghRowAutoStretch;
    p->Units = TPrintUnitsEh::MM;
    p->Page = PageMargins{2.0, 2.0, 2.0, 2.0};

    QFont sansSerif(QStringLiteral("MS Sans Serif"));
    sansSerif.setPointSize(8);
    p->PageHeader = TPageColontitleEh{};
    p->PageHeader.CenterText = QStringLiteral("Page. &[Page]");
    p->PageHeader.Font = sansSerif;
    p->PageHeader.LineType = pcltDoubleLine;
    p->PageFooter = TPageColontitleEh{};
    p->PageFooter.Font = sansSerif;
    p->PageFooter.LineType = pcltNon;

    p->PrintFontName = QStringLiteral("Arial");
    p->Title = QStringList{QStringLiteral("联簿宝") + vendorAddress};

    QTextDocument *before = p->BeforeGridText();
    before->clear();
    QTextCursor b(before);
    addParagraph(b, true, Qt::AlignHCenter, charFormat(QStringLiteral("Courier New"), 14, true),
                 QStringLiteral("客 户 报 表"));
    addParagraph(b, false, Qt::AlignLeft, charFormat(QStringLiteral("Arial"), 8, false), QString());

    QTextDocument *after = p->AfterGridText();
    after->clear();
    QTextCursor a(after);
    addParagraph(a, true, Qt::AlignLeft, charFormat(QStringLiteral("Arial"), 10, true), QString());
    addParagraph(a, false, Qt::AlignLeft, charFormat(QStringLiteral("Arial"), 8, true), QStringLiteral("%[Today]"));
}

} // namespace lianbu::printing
