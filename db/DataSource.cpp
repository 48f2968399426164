#include "db/DataSource.h"

namespace lianbu::db {

DataSource::DataSource(QObject *parent)
    : QObject(parent)
{}

DataSource::~DataSource()
{
    if (m_dataSet)
        m_dataSet->detach(this);
}

void DataSource::setDataSet(DataSet *dataSet)
{
    if (dataSet == m_dataSet)
        return;
    if (m_dataSet)
        m_dataSet->detach(this);
    m_dataSet = dataSet;
    if (m_dataSet)
        m_dataSet->attach(this);
    emit dataSetChanged();
    emit stateChanged(m_dataSet ? m_dataSet->state() : DataSetState::Inactive);
    emit currentRowChanged(m_dataSet ? m_dataSet->currentRow() : -1);
}

} // namespace lianbu::db
