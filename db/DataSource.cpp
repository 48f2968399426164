#include "db/DataSource.h"

namespace lianbu::db {

DataSource::DataSource(QObject *parent)
    : QObject(parent)
{}

DataSource::~DataSource()
{
    if (m_dataSet)
        m_dataSet->removeObserver(this);
}

void DataSource::setDataSet(DataSet *dataSet)
{
    if (dataSet == m_dataSet)
        return;
    if (m_dataSet)
        m_dataSet->removeObserver(this);
    m_dataSet = dataSet;
    if (m_dataSet)
        m_dataSet->addObserver(this);
    emit dataSetChanged();
    emit stateChanged(m_dataSet ? m_dataSet->state() : DataSetState::Inactive);
    emit currentRowChanged(m_dataSet ? m_dataSet->currentRow() : -1);
}

void DataSource::dataSetDestroyed()
{
    m_dataSet = nullptr;
    emit dataSetChanged();
}

} // namespace lianbu::db
