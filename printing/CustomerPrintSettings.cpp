#include "printing/GridReport.h"

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

void configureCustomerPrint(GridReport *p, const QString &vendorAddress)
{
    p->options = PrintOptions(PrintOption::FitToPageWidth) | PrintOption::Coloured | PrintOption::RowAutoStretch;
    p->units = PrintUnits::MM;
    p->page = PageMargins{2.0, 2.0, 2.0, 2.0};

    QFont sansSerif(QStringLiteral("MS Sans Serif"));
    sansSerif.setPointSize(8);
    p->pageHeader = PageHeaderFooter{};
    p->pageHeader.centerText = QStringLiteral("Page. &[Page]");
    p->pageHeader.font = sansSerif;
    p->pageHeader.lineType = RuleLine::Double;
    p->pageFooter = PageHeaderFooter{};
    p->pageFooter.font = sansSerif;
    p->pageFooter.lineType = RuleLine::None;

    p->printFontName = QStringLiteral("Arial");
    p->title = QStringList{QStringLiteral("联簿宝") + vendorAddress};

    QTextDocument *before = p->beforeGridText();
    before->clear();
    QTextCursor b(before);
    addParagraph(b, true, Qt::AlignHCenter, charFormat(QStringLiteral("Courier New"), 14, true),
                 QStringLiteral("客 户 报 表"));
    addParagraph(b, false, Qt::AlignLeft, charFormat(QStringLiteral("Arial"), 8, false), QString());

    QTextDocument *after = p->afterGridText();
    after->clear();
    QTextCursor a(after);
    addParagraph(a, true, Qt::AlignLeft, charFormat(QStringLiteral("Arial"), 10, true), QString());
    addParagraph(a, false, Qt::AlignLeft, charFormat(QStringLiteral("Arial"), 8, true), QStringLiteral("%[Today]"));
}

} // namespace lianbu::printing
