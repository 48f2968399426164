#include "printing/ReportText.h"

#include "printing/PrintLayout.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QRawFont>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <memory>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace lianbu::printing {

namespace {

// What drawing text in one print font needs, worked out once per font: the print face and the
// Chinese face as separate fonts, which characters the print face has, the line's height and
// ascent with Chinese included.
struct FaceSet
{
    QFont primary, secondary;
    QRawFont raw;
    bool split = false;
    double height = 0, ascent = 0;
};

const FaceSet &faceSet(const QFont &font)
{
    // Node-based, so the returned references stay valid while other fonts are added. Cells ask
    // for the same font many times in a row; comparing fonts is cheaper than building the key.
    static std::unordered_map<QString, FaceSet> cache;
    static QFont lastFont;
    static const FaceSet *last = nullptr;
    if (last && font == lastFont && font.families() == lastFont.families())
        return *last;
    const QString key = font.key() + QLatin1Char('/') + font.families().join(QLatin1Char(','));
    if (auto it = cache.find(key); it != cache.end()) {
        lastFont = font;
        last = &it->second;
        return *last;
    }
    FaceSet set;
    const QStringList families = font.families();
    // fresh fonts: a copied font keeps traces of the face it was made from, which the recorded
    // page would replay with
    auto single = [&font](const QString &family) {
        QFont f(family);
        f.setPixelSize(font.pixelSize());
        f.setWeight(font.weight());
        f.setItalic(font.italic());
        f.setUnderline(font.underline());
        f.setStrikeOut(font.strikeOut());
        return f;
    };
    set.split = families.size() >= 2;
    set.primary = set.split ? single(families.at(0)) : font;
    set.secondary = set.split ? single(families.at(1)) : font;
    // the print face's own characters (font metrics would count the fallback faces too)
    set.raw = QRawFont::fromFont(set.primary, QFontDatabase::Latin);
    if (!set.raw.isValid())
        set.split = false;
    QTextLayout layout(QStringLiteral("Wg\u56fd"), font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(1e6);
    layout.endLayout();
    const QFontMetricsF fm(font);
    set.height = std::max(fm.height(), line.height());
    set.ascent = std::max(fm.ascent(), line.ascent());
    lastFont = font;
    last = &cache.emplace(key, set).first->second;
    return *last;
}

// A recorded page stores every font change in full; most cells keep the font of the one before.
void useFont(QPainter *p, const QFont &font)
{
    if (p->font() != font)
        p->setFont(font);
}

// Draws one line of text from its baseline (or, without a painter, only measures it), each run
// of characters in the face that has them. Recorded pages replay every text item from the top of
// its own font's ascent, so an item that borrows glyphs from a fallback face would land lower
// than its neighbours; one face per item keeps all of them on the baseline. Returns the advance.
double drawTextRuns(QPainter *p, const QFont &font, const QString &text, const QPointF &baseline)
{
    const FaceSet &set = faceSet(font);
    if (!set.split) {
        if (p) {
            useFont(p, font);
            p->drawText(baseline, text);
        }
        return QFontMetricsF(font).horizontalAdvance(text);
    }
    const QFontMetricsF primaryFm(set.primary);
    const QFontMetricsF secondaryFm(set.secondary);
    double x = baseline.x();
    int start = 0;
    auto covered = [&](int i, int *len) {
        char32_t ucs = text.at(i).unicode();
        *len = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size()) {
            ucs = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            *len = 2;
        }
        return ucs <= 0x20 || set.raw.supportsCharacter(ucs);
    };
    while (start < text.size()) {
        int len = 0;
        const bool first = covered(start, &len);
        int end = start + len;
        while (end < text.size()) {
            int l = 0;
            if (covered(end, &l) != first)
                break;
            end += l;
        }
        const QString run = text.mid(start, end - start);
        if (p) {
            useFont(p, first ? set.primary : set.secondary);
            p->drawText(QPointF(x, baseline.y()), run);
            // drawing needs no advance after the last run
            if (end >= text.size())
                break;
        }
        x += (first ? primaryFm : secondaryFm).horizontalAdvance(run);
        start = end;
    }
    return x - baseline.x();
}

} // namespace

// The height of one text line in `font`, Chinese included: the print faces are Latin faces and
// the Chinese characters come from a fallback face with taller lines, so "Wg" alone is too short.
double lineHeight(const QFont &font)
{
    return faceSet(font).height;
}

// Lays out (and, with a painter, draws) a text in a rectangle: lines split at '\n', wrapped at the
// width when `wrap`, breaking inside long words when a word alone is too wide.
double layoutText(QPainter *p, const QFont &font, const QString &text, const QRectF &rect, Qt::Alignment align,
                  bool wrap, double advance, double *measured)
{
    const QFontMetricsF fm(font);
    auto oneLineWidth = [&] {
        if (advance < 0) {
            advance = fm.horizontalAdvance(text);
            if (measured)
                *measured = advance;
        }
        return advance;
    };
    // One line that fits (the common case for grid cells) needs no layout.
    if (!text.contains(QLatin1Char('\n')) && (!wrap || oneLineWidth() <= rect.width())) {
        const FaceSet &set = faceSet(font);
        if (p) {
            double top = rect.top();
            if (align & Qt::AlignVCenter)
                top += (rect.height() - set.height) / 2;
            else if (align & Qt::AlignBottom)
                top += rect.height() - set.height;
            double x = rect.left();
            if (align & (Qt::AlignHCenter | Qt::AlignRight)) {
                const double width = drawTextRuns(nullptr, font, text, QPointF());
                x += (align & Qt::AlignHCenter) ? (rect.width() - width) / 2 : rect.width() - width;
            }
            drawTextRuns(p, font, text, QPointF(x, top + set.ascent));
        }
        return set.height;
    }
    QTextOption option;
    option.setWrapMode(wrap ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    option.setAlignment(Qt::Alignment(int(align) & Qt::AlignHorizontal_Mask));
    std::vector<std::unique_ptr<QTextLayout>> layouts;
    double height = 0;
    const QStringList paragraphs = text.split(QLatin1Char('\n'));
    for (const QString &para : paragraphs) {
        auto layout = std::make_unique<QTextLayout>(para, font);
        layout->setTextOption(option);
        layout->beginLayout();
        for (;;) {
            QTextLine line = layout->createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(std::max(1.0, rect.width()));
            line.setPosition(QPointF(0, height));
            height += line.height();
        }
        layout->endLayout();
        layouts.push_back(std::move(layout));
    }
    if (p) {
        double top = rect.top();
        if (align & Qt::AlignVCenter)
            top += (rect.height() - height) / 2;
        else if (align & Qt::AlignBottom)
            top += rect.height() - height;
        for (size_t i = 0; i < layouts.size(); ++i) {
            const QTextLayout &layout = *layouts[i];
            for (int n = 0; n < layout.lineCount(); ++n) {
                const QTextLine line = layout.lineAt(n);
                const QString part = layout.text().mid(line.textStart(), line.textLength());
                double x = rect.left();
                const double natural = line.naturalTextWidth();
                if (align & Qt::AlignHCenter)
                    x += (rect.width() - natural) / 2;
                else if (align & Qt::AlignRight)
                    x += rect.width() - natural;
                drawTextRuns(p, font, part, QPointF(x, top + line.y() + line.ascent()));
            }
        }
    }
    return height;
}

// Converts every size of a document to pixels of a device with `dpi` dots per inch, so the
// document lays out the same on the page store's pictures as on the printer.
void toDevicePixels(QTextDocument *doc, int dpi)
{
    auto px = [dpi](const QFont &f) {
        QFont out = f;
        if (f.pixelSize() <= 0)
            out.setPixelSize(std::max(1, int(std::lround(f.pointSizeF() * dpi / 72.0))));
        return out;
    };
    doc->setDefaultFont(px(doc->defaultFont()));
    QTextCursor cursor(doc);
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        // formats are collected first and set afterwards: setting them while walking the
        // fragments would change the fragments under the walk
        QList<std::tuple<int, int, QTextCharFormat>> sized;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            QTextCharFormat format = fragment.charFormat();
            format.setProperty(QTextFormat::FontPixelSize, px(format.font()).pixelSize());
            format.clearProperty(QTextFormat::FontPointSize);
            sized.append({fragment.position(), fragment.length(), format});
        }
        for (const auto &[position, length, format] : sized) {
            cursor.setPosition(position);
            cursor.setPosition(position + length, QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
        // Characters the fragment's face lacks get the Chinese face explicitly (see drawTextRuns).
        const QString chinese = chineseFallbackFamily();
        if (!chinese.isEmpty()) {
            struct Range
            {
                int start, length;
            };
            QList<Range> ranges;
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                if (!fragment.isValid())
                    continue;
                QFont face(fragment.charFormat().font().family());
                const QRawFont raw = QRawFont::fromFont(face, QFontDatabase::Latin);
                if (!raw.isValid())
                    continue;
                const QString text = fragment.text();
                int runStart = -1;
                for (int i = 0; i <= text.size(); ++i) {
                    const bool missing = i < text.size() && text.at(i).unicode() > 0x20 && !text.at(i).isSurrogate()
                                         && !raw.supportsCharacter(text.at(i));
                    if (missing && runStart < 0)
                        runStart = i;
                    if (!missing && runStart >= 0) {
                        ranges.append({fragment.position() + runStart, i - runStart});
                        runStart = -1;
                    }
                }
            }
            QTextCharFormat chineseFormat;
            chineseFormat.setFontFamilies({chinese});
            for (const Range &r : ranges) {
                cursor.setPosition(r.start);
                cursor.setPosition(r.start + r.length, QTextCursor::KeepAnchor);
                cursor.mergeCharFormat(chineseFormat);
            }
        }
        // The block's own character format sizes its empty line.
        QTextCharFormat blockFormat = block.charFormat();
        if (blockFormat.hasProperty(QTextFormat::FontPointSize)) {
            blockFormat.setProperty(QTextFormat::FontPixelSize,
                                    std::max(1, int(std::lround(blockFormat.fontPointSize() * dpi / 72.0))));
            blockFormat.clearProperty(QTextFormat::FontPointSize);
            cursor.setPosition(block.position());
            cursor.setBlockCharFormat(blockFormat);
        }
    }
}

// ---- replacements -------------------------------------------------------------------------

int replaceInDocument(QTextDocument *document, const QList<QPair<QString, QString>> &replacements)
{
    int count = 0;
    for (const auto &[placeholder, value] : replacements) {
        if (placeholder.isEmpty())
            continue;
        QTextCursor cursor(document);
        for (;;) {
            cursor = document->find(placeholder, cursor); // case-insensitive by default
            if (cursor.isNull())
                break;
            // The replacement takes the format of the placeholder's first character.
            QTextCursor first(document);
            first.setPosition(cursor.selectionStart() + 1);
            const QTextCharFormat format = first.charFormat();
            cursor.insertText(value, format);
            ++count;
        }
    }
    return count;
}

} // namespace lianbu::printing
