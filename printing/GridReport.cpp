#include "printing/GridReport.h"

#include "platform/BusyCursor.h"
#include "platform/Clock.h"
#include "printing/PageStore.h"

#include <QTextDocument>

using namespace lianbu::printing;

GridReport::GridReport(QObject *parent)
    : QObject(parent)
    , m_before(std::make_unique<QTextDocument>())
    , m_after(std::make_unique<QTextDocument>())
{
    pageHeader.font = QFont(QStringLiteral("MS Sans Serif"));
    pageHeader.font.setPointSize(8);
    pageFooter.font = pageHeader.font;
}

GridReport::~GridReport() = default;

void GridReport::setList(lianbu::db::ListColumns columns, ReportLook look, const lianbu::db::RowReader *rows)
{
    m_columns = std::move(columns);
    m_look = std::move(look);
    m_rows = rows;
}

void GridReport::setTextReplacements(const QList<QPair<QString, QString>> &replacements)
{
    m_replacements = replacements;
}

int GridReport::generate(PageStore *store)
{
    if (!m_rows || !store)
        return 0;
    // A print command arriving while pages are being made (events are processed between
    // cells) is ignored rather than nested.
    if (m_running || store->printing())
        return 0;
    m_running = true;
    m_layout = LayoutInfo{};

    ReportGenerator gen(*this, m_columns, m_look, *m_rows, store);
    gen.macros.date = lianbu::today();
    gen.macros.time = lianbu::now().time();
    gen.macros.pages = 1;

    store->beginDoc();
    std::unique_ptr<QTextDocument> keptBefore, keptAfter;
    if (!m_replacements.isEmpty()) {
        keptBefore.reset(m_before->clone());
        keptAfter.reset(m_after->clone());
        replaceInDocument(m_before.get(), m_replacements);
        replaceInDocument(m_after.get(), m_replacements);
    }
    {
        // Puts the texts back however generation ends.
        struct Finish
        {
            GridReport *self;
            PageStore *store;
            std::unique_ptr<QTextDocument> &keptBefore, &keptAfter;
            ~Finish()
            {
                if (keptBefore)
                    self->m_before.swap(keptBefore);
                if (keptAfter)
                    self->m_after.swap(keptAfter);
                store->endDoc();
                self->m_running = false;
            }
        } finish{this, store, keptBefore, keptAfter};

        store->setTitle(QStringLiteral("列表信息"));

        auto prepareTexts = [&] {
            const int dpi = store->metrics().dpiY;
            std::unique_ptr<QTextDocument> b(m_before->clone()), a(m_after->clone());
            toDevicePixels(b.get(), dpi);
            toDevicePixels(a.get(), dpi);
            return std::make_pair(std::move(b), std::move(a));
        };
        try {
            gen.layout(&m_layout);
            {
                auto docs = prepareTexts();
                gen.setDocuments(std::move(docs.first), std::move(docs.second));
            }
            const bool countPages = asksForPageCount(pageHeader.leftText) || asksForPageCount(pageHeader.centerText)
                                    || asksForPageCount(pageHeader.rightText) || asksForPageCount(pageFooter.leftText)
                                    || asksForPageCount(pageFooter.centerText)
                                    || asksForPageCount(pageFooter.rightText);
            if (countPages) {
                {
                    const lianbu::BusyCursor busy;
                    gen.run(true);
                }
                m_layout.pagesCounted = gen.countedPages();
                gen.macros.pages = gen.countedPages();
                gen.macros.date = lianbu::today();
                gen.macros.time = lianbu::now().time();
            }
            gen.run(false);
        } catch (const StopGeneration &) {
        }
        m_layout.dataRowsPrinted = gen.rowsPrinted();
    }
    return store->pageCount();
}
