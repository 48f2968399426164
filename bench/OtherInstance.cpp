#include "bench/OtherInstance.h"

#include "data/CustomerColumns.h"
#include "data/Database.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/RegisterAddress.h"
#include "platform/Error.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <iostream>
#include <string>

namespace lianbu::bench {

namespace {

constexpr char kOption[] = "--other-instance";
// What the other instance writes, so it can take it away again.
constexpr char kMark[] = "另一台电脑";

void answer(const char *text)
{
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void write(Database &data, const std::string &line)
{
    db::Connection &connection = *data.connection;
    const QString key = db::engineOf(connection.database()).rowKey(QStringLiteral("data"));
    const QString command = QString::fromStdString(line).trimmed();
    const QStringList words = command.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const int count = words.size() > 1 ? words[1].toInt() : 0;
    auto inOneTransaction = [&](const QString &sql) {
        connection.execute(QStringLiteral("begin"));
        try {
            connection.execute(sql);
        } catch (...) {
            connection.execute(QStringLiteral("rollback"));
            throw;
        }
        connection.execute(QStringLiteral("commit"));
    };
    if (command == QLatin1String("add")) {
        data.customerStore->add({{QLatin1String(col::Category), QLatin1String(kMark)},
                                 {QLatin1String(col::ShortName), QStringLiteral("另一台电脑的客户")}});
    } else if (words.size() == 2 && words[0] == QLatin1String("change") && count > 0) {
        inOneTransaction(
            QStringLiteral("update data set z = coalesce(z,'') || '.' where %1 in (select %1 from data order by %1 "
                           "limit %2)")
                .arg(key)
                .arg(count));
    } else if (words.size() == 2 && words[0] == QLatin1String("add") && count > 0) {
        inOneTransaction(QStringLiteral("insert into data (a,b) select '%1', '批量' || %2 from data order by %2 "
                                        "limit %3")
                             .arg(QLatin1String(kMark), key)
                             .arg(count));
    } else if (command == QLatin1String("clean")) {
        inOneTransaction(QStringLiteral("delete from data where a = '%1'").arg(QLatin1String(kMark)));
    } else {
        throw Error(QStringLiteral("unknown command: %1").arg(command));
    }
}

} // namespace

OtherInstance::OtherInstance(const QString &address)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QCoreApplication::applicationFilePath(), {QLatin1String(kOption), address});
    m_started = m_process.waitForStarted(10000) && awaitAnswer();
}

OtherInstance::~OtherInstance()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(10000))
        m_process.kill();
}

void OtherInstance::send(const QByteArray &command)
{
    m_process.write(command + '\n');
    m_process.waitForBytesWritten(1000);
}

bool OtherInstance::awaitAnswer()
{
    QElapsedTimer waited;
    waited.start();
    while (!m_process.canReadLine()) {
        if (waited.elapsed() > 60000 || m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(100);
    }
    return m_process.readLine().trimmed() == "ok";
}

std::optional<int> runOtherInstance(int argc, char **argv)
{
    if (argc != 3 || QByteArray(argv[1]) != kOption)
        return std::nullopt;
    QCoreApplication app(argc, argv);
    try {
        Database data(db::parseRegisterAddress(QString::fromLocal8Bit(argv[2])));
        answer("ok");
        std::string line;
        while (std::getline(std::cin, line)) {
            try {
                write(data, line);
                answer("ok");
            } catch (const Error &error) {
                std::fprintf(stderr, "other instance: %s\n", qPrintable(error.message()));
                answer("error");
            }
        }
    } catch (const Error &error) {
        std::fprintf(stderr, "other instance: %s\n", qPrintable(error.message()));
        answer("error");
        return 1;
    }
    return 0;
}

} // namespace lianbu::bench
