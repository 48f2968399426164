#include "tests/db/RegisterWorkload.h"

#include "db/Connection.h"
#include "db/Query.h"
#include "db/Table.h"
#include "platform/Error.h"

#include <QFile>
#include <QHash>
#include <QSqlQuery>
#include <QThread>

namespace lianbu::test {

RegisterWorkload::RegisterWorkload(db::Connection &connection, int writer, const QString &logFile)
    : m_connection(connection)
    , m_writer(writer)
    , m_logFile(logFile)
{}

void RegisterWorkload::log(const QString &line)
{
    QFile file(m_logFile);
    if (!file.open(QIODevice::Append | QIODevice::Text))
        qFatal("cannot write the log %s", qPrintable(m_logFile));
    file.write((line + QLatin1Char('\n')).toUtf8());
}

void RegisterWorkload::round(int i)
{
    // Add.
    db::Table table(&m_connection);
    table.setTableName(QStringLiteral("data"));
    table.open();
    table.append();
    table.fieldByName(QStringLiteral("a")).setAsString(QStringLiteral("W%1").arg(m_writer));
    table.fieldByName(QStringLiteral("b")).setAsString(recordName(m_writer, i));
    table.post(); // throws when not written: then nothing is logged
    log(QStringLiteral("add ") + recordName(m_writer, i));

    // Save the shared record from what was read, every column written back as the panel does.
    db::Query shared(&m_connection);
    shared.setSql(QStringLiteral("select * from data where b='%1'").arg(sharedShortName()));
    shared.open();
    QStringList read;
    for (int f = 0; f < shared.fieldCount(); ++f)
        read << shared.field(f).asString();
    // Give the other operator a chance to save in between, as people do.
    QThread::yieldCurrentThread();
    const QString value = recordName(m_writer, i);
    shared.edit();
    for (int f = 0; f < shared.fieldCount(); ++f) {
        db::Field &field = shared.field(f);
        field.setAsString(field.fieldName() == sharedColumn(m_writer) ? value : read.at(f));
    }
    try {
        shared.post();
        log(QStringLiteral("mod %1 %2").arg(sharedColumn(m_writer), value));
    } catch (const Error &error) {
        if (!error.message().startsWith(QLatin1String("Row cannot be located")))
            throw;
        log(QStringLiteral("refused mod"));
    }

    // Delete an own record added two rounds before.
    if (i >= 2 && i % 3 == 0) {
        db::Query own(&m_connection);
        own.setSql(QStringLiteral("select * from data where b='%1'").arg(recordName(m_writer, i - 2)));
        own.open();
        if (own.recordCount() == 1) {
            own.deleteRecord();
            log(QStringLiteral("del ") + recordName(m_writer, i - 2));
        }
    }
}

Promises readPromises(const QStringList &logFiles)
{
    Promises promises;
    for (const QString &name : logFiles) {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            continue;
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &line : lines) {
            const QStringList words = line.split(QLatin1Char(' '));
            if (words.at(0) == QLatin1String("add")) {
                promises.present << words.at(1);
            } else if (words.at(0) == QLatin1String("del")) {
                promises.present.removeAll(words.at(1));
                promises.absent << words.at(1);
            } else if (words.at(0) == QLatin1String("mod")) {
                promises.sharedValues[words.at(1)] = words.at(2);
            } else if (words.at(0) == QLatin1String("refused")) {
                ++promises.refused;
            }
        }
    }
    return promises;
}

void readAndClose(const QString &file, int rounds)
{
    for (int i = 0; i < rounds; ++i) {
        db::Connection connection(file);
        connection.open();
        QSqlQuery query(connection.database());
        query.exec(QStringLiteral("select count(*) from data"));
        query.next();
        query.finish();
        connection.close();
    }
}

} // namespace lianbu::test
