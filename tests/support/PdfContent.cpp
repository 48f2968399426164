#include "tests/support/PdfContent.h"

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace lianbu::test {

namespace {

QByteArray run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
        return {};
    }
    return process.readAllStandardOutput();
}

QString unescaped(QString text)
{
    text.replace(QLatin1String("&lt;"), QLatin1String("<"));
    text.replace(QLatin1String("&gt;"), QLatin1String(">"));
    text.replace(QLatin1String("&quot;"), QLatin1String("\""));
    text.replace(QLatin1String("&apos;"), QLatin1String("'"));
    text.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text;
}

} // namespace

QStringList PdfPage::texts() const
{
    QStringList out;
    for (const PdfWord &word : words)
        out << word.text;
    return out;
}

const PdfWord *PdfPage::find(const QString &text) const
{
    for (const PdfWord &word : words)
        if (word.text == text)
            return &word;
    return nullptr;
}

QList<PdfPage> readPdf(const QString &path)
{
    const QString html =
        QString::fromUtf8(run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), path, QStringLiteral("-")}));
    static const QRegularExpression pageTag(
        QStringLiteral("<page width=\"([0-9.]+)\" height=\"([0-9.]+)\">(.*?)</page>"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression wordTag(QStringLiteral(
        "<word xMin=\"([0-9.-]+)\" yMin=\"([0-9.-]+)\" xMax=\"([0-9.-]+)\" yMax=\"([0-9.-]+)\">(.*?)</word>"));
    QList<PdfPage> pages;
    for (auto p = pageTag.globalMatch(html); p.hasNext();) {
        const QRegularExpressionMatch page = p.next();
        PdfPage out;
        out.size = QSizeF(page.captured(1).toDouble(), page.captured(2).toDouble());
        for (auto w = wordTag.globalMatch(page.captured(3)); w.hasNext();) {
            const QRegularExpressionMatch word = w.next();
            const QPointF topLeft(word.captured(1).toDouble(), word.captured(2).toDouble());
            const QPointF bottomRight(word.captured(3).toDouble(), word.captured(4).toDouble());
            out.words.append({unescaped(word.captured(5)), QRectF(topLeft, bottomRight)});
        }
        pages.append(out);
    }
    return pages;
}

QRectF inkBox(const QString &path, int page, int dpi)
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("page"));
    const QString number = QString::number(page);
    run(QStringLiteral("pdftoppm"),
        {QStringLiteral("-gray"), QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-f"), number,
         QStringLiteral("-l"), number, QStringLiteral("-singlefile"), path, root});
    const QImage image(root + QStringLiteral(".pgm"));
    if (image.isNull())
        return {};
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 200) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0)
        return {};
    const double k = 72.0 / dpi;
    return QRectF(QPointF(left * k, top * k), QPointF((right + 1) * k, (bottom + 1) * k));
}

} // namespace lianbu::test
