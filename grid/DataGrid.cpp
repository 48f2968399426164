#include "grid/DataGrid.h"

#include "grid/DataGridModel.h"
#include "grid/GridParts.h"

#include "db/ListRoles.h"
#include "db/ListRows.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

#include <cmath>

namespace {

// The rows of a list model that reads no batches: its display texts, cell by cell.
class ModelRows final : public lianbu::db::RowReader
{
public:
    ModelRows(const QAbstractItemModel *model, int currentRow)
        : m_model(model)
        , m_currentRow(currentRow)
        , m_rowsAtStart(rowCount())
    {}
    int rowCount() const override { return m_model ? m_model->rowCount() : 0; }
    void readRows(int from, int to, const Visit &visit) const override
    {
        to = qMin(to, rowCount());
        for (int row = qMax(0, from); row < to; ++row) {
            Cells cells(m_model, row);
            visit(row, cells);
        }
    }
    int currentRow() const override { return m_currentRow < rowCount() ? m_currentRow : -1; }
    bool stale() const override { return !m_model || rowCount() != m_rowsAtStart; }

private:
    class Cells final : public lianbu::db::RowCells
    {
    public:
        Cells(const QAbstractItemModel *model, int row)
            : m_model(model)
            , m_row(row)
        {}
        QStringView text(int valueIndex) const override
        {
            m_text = m_model->index(m_row, valueIndex).data(Qt::DisplayRole).toString();
            return m_text;
        }
        bool isNull(int valueIndex) const override
        {
            return !m_model->index(m_row, valueIndex).data(Qt::EditRole).isValid();
        }

    private:
        const QAbstractItemModel *m_model;
        int m_row;
        mutable QString m_text;
    };

    QPointer<const QAbstractItemModel> m_model;
    int m_currentRow;
    int m_rowsAtStart;
};

} // namespace

DataGrid::DataGrid(QWidget *parent)
    : QWidget(parent)
{
    m_model = new DataGridModel(this, this);
    m_view = new GridView(this, this);
    m_title = new GridHeader(this, this);
    m_indicator = new GridIndicator(this, this);
    m_view->setHorizontalHeader(m_title);
    m_view->setVerticalHeader(m_indicator);
    m_view->setModel(m_model);
    m_view->setItemDelegate(new GridDelegate(this, this));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setShowGrid(false);
    m_view->setWordWrap(false);
    m_view->setTabKeyNavigation(false);
    m_view->setCornerButtonEnabled(false);
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_view->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_viewport = m_view->viewport();
    m_viewport->installEventFilter(this);
    // The corner above the indicator is painted like the titles.
    m_corner = m_view->findChild<QAbstractButton *>();
    if (m_corner)
        m_corner->installEventFilter(this);
    m_title->setSectionResizeMode(QHeaderView::Interactive);

    m_footer = new GridFooter(this, this);
    m_hbar = new QScrollBar(Qt::Horizontal, this);
    m_hbar->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_footer);
    layout->addWidget(m_hbar);

    QScrollBar *inner = m_view->horizontalScrollBar();
    connect(inner, &QScrollBar::rangeChanged, this, [this](int min, int max) {
        m_hbar->setRange(min, max);
        m_hbar->setPageStep(m_view->horizontalScrollBar()->pageStep());
        m_hbar->setSingleStep(m_view->horizontalScrollBar()->singleStep());
        m_hbar->setVisible(max > min);
    });
    connect(inner, &QScrollBar::valueChanged, m_hbar, &QScrollBar::setValue);
    connect(m_hbar, &QScrollBar::valueChanged, inner, &QScrollBar::setValue);

    connect(m_title, &QHeaderView::sectionMoved, this, &DataGrid::onSectionMoved);
    connect(m_title, &QHeaderView::sectionResized, this, &DataGrid::onSectionResized);
    connect(m_title, &QHeaderView::sectionClicked, this,
            [this](int logical) { clickTitle(logical, m_title->clickModifiers()); });
    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { onCurrentChanged(current.row()); });
    // The grid's own column changes reset the view's model: the current row stays.
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_rowBeforeReset = currentRow(); });
    connect(m_model, &DataGridModel::sourceReset, this, &DataGrid::listReset);
    connect(m_model, &DataGridModel::fieldsChanged, this, [this] {
        invalidateFooters();
        applyLayout();
    });
    auto rowsChanged = [this] {
        invalidateFooters();
        m_indicator->viewport()->update();
    };
    connect(m_model, &QAbstractItemModel::dataChanged, this, rowsChanged);
    connect(m_model, &QAbstractItemModel::layoutChanged, this, [this, rowsChanged] {
        rowsChanged();
        // A sort keeps the current record current: it stays in sight where it went.
        const QModelIndex current = m_view->selectionModel()->currentIndex();
        if (current.isValid())
            m_view->scrollTo(current);
    });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, rowsChanged);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int first) {
        invalidateFooters();
        // A list that had no current row gets the row that came.
        if (currentRow() < 0)
            setCurrentRow(first);
        m_indicator->viewport()->update();
    });
    connect(m_view, &GridView::rowDoubleClicked, this, &DataGrid::rowDoubleClicked);
    connect(m_view, &GridView::rowEntered, this, &DataGrid::rowEntered);
    connect(m_view, &QAbstractItemView::clicked, this, [this](const QModelIndex &index) {
        if (index.isValid() && index.column() < m_columns.count())
            emit cellClicked(m_columns.items(index.column()));
    });

    setFocusProxy(m_view);
    QPalette pal = m_view->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
    m_view->setPalette(pal);
    applyLayout();
}

DataGrid::~DataGrid()
{
    disconnect(m_model, nullptr, this, nullptr);
    // The parts ask the grid (and its columns) while they go; let them go first.
    disconnect(m_title, nullptr, this, nullptr);
    // The view's parts send events while they are destroyed; the filter must not ask the view.
    m_viewport = nullptr;
    m_corner = nullptr;
    delete m_view;
    delete m_footer;
    delete m_hbar;
    delete m_model;
}

// ---- the list shown --------------------------------------------------------------------------

void DataGrid::setListModel(QAbstractItemModel *model)
{
    m_applying = true; // the header rebuilds its sections: not the operator's doing
    m_model->setSourceModel(model);
    m_applying = false;
}

QAbstractItemModel *DataGrid::listModel() const
{
    return m_model->sourceModel();
}

int DataGrid::listColumnOfField(const QString &name) const
{
    return m_model->sourceColumnOfField(name);
}

std::unique_ptr<lianbu::db::RowReader> DataGrid::rowReader() const
{
    const QAbstractItemModel *model = listModel();
    if (const auto *source = dynamic_cast<const lianbu::db::RowSource *>(model)) {
        if (std::unique_ptr<lianbu::db::RowReader> own = source->rowReader(currentRow()))
            return own;
    }
    return std::make_unique<ModelRows>(model, currentRow());
}

void DataGrid::listReset()
{
    invalidateFooters();
    m_applying = true;
    applyLayout();
    m_applying = false;
    // A new list starts at its first row.
    setCurrentRow(m_model->rowCount() > 0 ? 0 : -1);
}

void DataGrid::setCurrentRow(int row)
{
    QItemSelectionModel *selection = m_view->selectionModel();
    const int rows = m_model->rowCount();
    if (row < 0 || rows == 0) {
        selection->clear();
    } else {
        row = qMin(row, rows - 1);
        int column = selection->currentIndex().column();
        if (column < 0 || column >= m_model->columnCount() || m_title->isSectionHidden(column)) {
            column = 0;
            for (int i = 0; i < m_columns.count(); ++i) {
                if (m_columns.items(i)->visible()) {
                    column = i;
                    break;
                }
            }
        }
        if (selection->currentIndex().row() != row || !selection->isRowSelected(row)) {
            const QModelIndex index = m_model->index(row, column);
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            m_view->scrollTo(index);
        }
    }
    m_indicator->viewport()->update();
    m_footer->update(); // a field-value footer shows the current record
}

void DataGrid::onCurrentChanged(int row)
{
    m_indicator->viewport()->update();
    m_footer->update();
    emit currentRowChanged(row);
}

int DataGrid::currentRow() const
{
    const QModelIndex current = m_view->selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

int DataGrid::selectedIndex() const
{
    const QModelIndex current = m_view->selectionModel()->currentIndex();
    return current.isValid() ? current.column() : -1;
}

QTableView *DataGrid::view() const
{
    return m_view;
}

QHeaderView *DataGrid::titleHeader() const
{
    return m_title;
}

QWidget *DataGrid::footerWidget() const
{
    return m_footer;
}

// ---- suspension ------------------------------------------------------------------------------

void DataGrid::beginLayout()
{
    ++m_layoutLock;
}

void DataGrid::endLayout()
{
    if (m_layoutLock <= 0)
        return;
    if (--m_layoutLock > 0)
        return;
    if (m_pendingLayout)
        applyLayout();
}

// ---- titles ----------------------------------------------------------------------------------

SortMarker DataGrid::nextSortMarker(SortMarker current, bool ctrl)
{
    switch (current) {
    case SortMarker::None:
        return SortMarker::Down;
    case SortMarker::Down:
        return SortMarker::Up;
    case SortMarker::Up:
        return ctrl ? SortMarker::None : SortMarker::Down;
    }
    return SortMarker::None;
}

void DataGrid::clickTitle(int columnIndex, Qt::KeyboardModifiers modifiers)
{
    if (columnIndex < 0 || columnIndex >= m_columns.count())
        return;
    GridColumn *column = m_columns.items(columnIndex);
    if (!column->title()->titleButton())
        return;
    emit titleClicked(columnIndex, column);
    // The handler may have rearranged the columns; find the column again.
    if (!m_autoSortMarking || m_columns.indexOf(column) < 0)
        return;
    const SortMarker next = nextSortMarker(column->title()->sortMarker(), modifiers.testFlag(Qt::ControlModifier));
    m_columns.clearSortMarkers(column);
    column->title()->setSortMarker(next);
}

// ---- column changes and layout ---------------------------------------------------------------

void DataGrid::columnChanged(GridColumn *column, ColumnChange what)
{
    Q_UNUSED(column);
    switch (what) {
    case ColumnChange::Look:
        m_view->viewport()->update();
        m_footer->update();
        break;
    case ColumnChange::Title:
        m_title->viewport()->update();
        if (m_useMultiTitle)
            applyLayout(); // the number of levels may have changed
        break;
    case ColumnChange::Footer:
        invalidateFooters();
        break;
    case ColumnChange::Width:
    case ColumnChange::Visible:
        applyLayout();
        break;
    case ColumnChange::Field:
        m_model->columnsRearranged();
        invalidateFooters();
        applyLayout();
        break;
    case ColumnChange::Structure:
        if (m_model->columnCount() == m_columns.count()) {
            m_model->columnsRearranged();
            invalidateFooters();
        }
        // Added or removed columns reach the view through applyLayout, once per layout lock.
        applyLayout();
        break;
    }
}

void DataGrid::applyLayout()
{
    if (m_layoutLock > 0) {
        m_pendingLayout = true;
        return;
    }
    m_pendingLayout = false;
    const bool columnsChanged = m_model->columnCount() != m_columns.count();
    m_applying = true;
    if (columnsChanged) {
        // The view's sections follow the model's columns.
        m_model->rebuildColumns();
        invalidateFooters();
    }
    relayoutHeights();
    if (m_autoFit) {
        fitColumns();
    } else {
        for (int i = 0; i < m_columns.count(); ++i)
            m_columns.items(i)->m_fittedWidth = -1;
    }
    const int sections = qMin(m_title->count(), m_columns.count());
    for (int i = 0; i < sections; ++i) {
        // columns follow the visual order; the view never keeps a different one.
        if (m_title->visualIndex(i) != i)
            m_title->moveSection(m_title->visualIndex(i), i);
    }
    for (int i = 0; i < sections; ++i) {
        const GridColumn *column = m_columns.items(i);
        if (m_title->isSectionHidden(i) == column->visible())
            m_title->setSectionHidden(i, !column->visible());
        if (column->visible() && m_title->sectionSize(i) != column->width())
            m_title->resizeSection(i, column->width());
    }
    m_applying = false;
    m_title->viewport()->update();
    m_view->viewport()->update();
    m_footer->update();
    if (columnsChanged) // a list with rows always has a current one
        setCurrentRow(qMax(0, m_rowBeforeReset));
}

void DataGrid::fitColumns()
{
    const int client = m_view->viewport()->width();
    QList<GridColumn *> visible = m_columns.visibleColumns();
    qint64 total = 0;
    for (const GridColumn *column : visible)
        total += column->baseWidth();
    for (int i = 0; i < m_columns.count(); ++i)
        m_columns.items(i)->m_fittedWidth = -1;
    if (total <= 0 || client <= 0)
        return;
    // Cumulative rounding: the widths add up to the client width exactly.
    qint64 acc = 0;
    int previousEdge = 0;
    for (GridColumn *column : visible) {
        acc += column->baseWidth();
        const int edge = int((acc * client + total / 2) / total);
        column->m_fittedWidth = edge - previousEdge;
        previousEdge = edge;
    }
}

void DataGrid::relayoutHeights()
{
    // Setting it walks every row's section (a million on a long list): only a new height is set.
    if (m_indicatorRowHeight != dataRowHeight()) {
        m_indicatorRowHeight = dataRowHeight();
        m_indicator->setDefaultSectionSize(m_indicatorRowHeight);
    }
    m_indicator->setVisible(m_showIndicator);
    m_title->setVisible(m_showTitles);
    m_title->updateGeometry();
    const int footerHeight = m_footerRowCount * footerRowHeight();
    m_footer->setFixedHeight(footerHeight);
    m_footer->setVisible(footerHeight > 0);
    // Let the view take the new title height and indicator width.
    m_view->updateGeometries();
}

void DataGrid::onSectionMoved(int logical, int oldVisual, int newVisual)
{
    Q_UNUSED(logical);
    if (m_applying)
        return;
    // Keep the header in model order and move the column in the collection instead, so that
    // columns always lists the columns as the operator sees them.
    m_applying = true;
    m_title->moveSection(newVisual, oldVisual);
    m_applying = false;
    m_columns.move(oldVisual, newVisual);
    emit columnMoved(oldVisual, newVisual);
}

void DataGrid::onSectionResized(int logical, int oldSize, int newSize)
{
    Q_UNUSED(oldSize);
    if (m_applying || logical < 0 || logical >= m_columns.count())
        return;
    GridColumn *resized = m_columns.items(logical);
    if (!m_autoFit) {
        resized->m_width = newSize;
        resized->m_widthAssigned = true;
        m_footer->update();
        emit colWidthsChanged();
        return;
    }
    // Fitted: the columns to the right give or take the difference in proportion to their
    // widths; the widths the operator sees become the new base widths.
    const int client = m_view->viewport()->width();
    QList<GridColumn *> visible = m_columns.visibleColumns();
    const int pos = int(visible.indexOf(resized));
    int before = 0;
    for (int i = 0; i < pos; ++i)
        before += visible[i]->width();
    const int after = int(visible.size()) - pos - 1;
    int width = newSize;
    if (after == 0)
        width = qMax(1, client - before);
    width = qMin(width, qMax(1, client - before - after)); // leave at least 1 px each
    int rest = client - before - width;
    qint64 restBase = 0;
    for (int i = pos + 1; i < visible.size(); ++i)
        restBase += qMax(1, visible[i]->width());
    for (int i = 0; i < pos; ++i) {
        visible[i]->m_width = visible[i]->width();
        visible[i]->m_widthAssigned = true;
    }
    resized->m_width = width;
    resized->m_widthAssigned = true;
    qint64 acc = 0;
    int previousEdge = 0;
    for (int i = pos + 1; i < visible.size(); ++i) {
        acc += qMax(1, visible[i]->width());
        const int edge = restBase > 0 ? int((acc * rest + restBase / 2) / restBase) : 0;
        visible[i]->m_width = qMax(1, edge - previousEdge);
        visible[i]->m_widthAssigned = true;
        previousEdge = edge;
    }
    applyLayout();
    emit colWidthsChanged();
}

// ---- reading what the grid shows -------------------------------------------------------------

QString DataGrid::fieldTitle(const QString &name) const
{
    return m_model->fieldHeader(name, Qt::DisplayRole).toString();
}

int DataGrid::fieldIndexOf(const GridColumn *column) const
{
    return m_model->sourceColumnOf(column);
}

QString DataGrid::cellDisplayText(int row, const GridColumn *column) const
{
    const QAbstractItemModel *model = listModel();
    const int source = m_model->sourceColumnOf(column);
    if (!model || source < 0 || row < 0 || row >= model->rowCount())
        return QString();
    return model->index(row, source).data(Qt::DisplayRole).toString();
}

QColor DataGrid::cellColor(int row, const GridColumn *column) const
{
    const QColor &alternate = (row + 1) % 2 == 1 ? m_oddRowColor : m_evenRowColor;
    return alternate.isValid() ? alternate : column->color();
}

QString DataGrid::footerDisplayText(int footerRow, const GridColumn *column) const
{
    const ColumnFooter *footer = column->footerForRow(footerRow);
    return footer ? footerValueText(footer, column) : QString();
}

QString DataGrid::footerValueText(const ColumnFooter *footer, const GridColumn *column) const
{
    if (!listModel() || listModel()->columnCount() == 0)
        return footer->valueType() == FooterValue::StaticText ? footer->value() : QString();
    const lianbu::db::ListFooter described =
        describeFooter(*footer, [this](const QString &name) { return listColumnOfField(name); });
    const bool summed =
        described.kind == lianbu::db::FooterKind::Sum || described.kind == lianbu::db::FooterKind::Average;
    if (summed) {
        auto cached = m_sumCache.constFind(footer);
        if (cached != m_sumCache.constEnd())
            return cached.value();
    }
    lianbu::db::ListColumn shown;
    shown.valueIndex = listColumnOfField(column->fieldName());
    const QString text = lianbu::db::footerText(described, shown, *rowReader());
    if (summed)
        m_sumCache.insert(footer, text);
    return text;
}

void DataGrid::invalidateFooters()
{
    m_sumCache.clear();
    m_footer->update();
}

// ---- column layout file ----------------------------------------------------------------------

void DataGrid::saveLayoutToIni(const QString &fileName, const QString &section, bool eraseSection)
{
    ColumnLayoutFile(fileName, section, layoutKey()).save(m_columns, m_rowHeight, m_rowLines, eraseSection);
}

void DataGrid::restoreLayoutFromIni(const QString &fileName, const QString &section, LayoutRestoreOptions options)
{
    const ColumnLayoutFile file(fileName, section, layoutKey());
    // column changes are collected and laid out once. Fitting is off while the stored widths
    // go in, so they replace the base widths rather than fitted ones; when it comes back on,
    // the restored widths are the base widths that get fitted.
    beginLayout();
    const bool fitted = m_autoFit;
    if (fitted)
        setAutoFitColWidths(false);
    try {
        file.restoreColumns(m_columns, options);
    } catch (...) {
        if (fitted)
            setAutoFitColWidths(true);
        endLayout();
        throw;
    }
    if (fitted)
        setAutoFitColWidths(true);
    endLayout();

    if (options.testFlag(RestoreRowHeight)) {
        setRowHeight(file.storedRowHeight());
        setRowLines(file.storedRowLines());
    }
}

// ---- events ----------------------------------------------------------------------------------

void DataGrid::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
}

bool DataGrid::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_corner && event->type() == QEvent::Paint) {
        QPainter painter(m_corner);
        const QRect r = m_corner->rect();
        painter.fillRect(r, m_fixedColor);
        painter.setPen(QColor(128, 128, 128));
        painter.drawLine(r.topRight(), r.bottomRight());
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        return true;
    }
    if (watched == m_viewport && m_viewport && event->type() == QEvent::Resize && m_autoFit && !m_applying)
        applyLayout();
    return QWidget::eventFilter(watched, event);
}

void DataGrid::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        applyLayout();
}

void DataGrid::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(QColor(100, 100, 100));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
