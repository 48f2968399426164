// A second or third program on the same register, for the tests that need several processes:
//   register_worker write FILE WRITER ROUNDS LOG   rounds of RegisterWorkload, a connection each
//   register_worker read FILE ROUNDS               connections that read and close
//   register_worker backup FILE COPY               a backup by the backup API
//   register_worker login FILE NAME PASSWORD MS    password checks of NAME for MS milliseconds, as
//                                                  fast as the attempt limit lets them through;
//                                                  prints one line per check that ran
// Exit code 0 when every step ran, 1 with the error on stderr otherwise.
#include "data/OperatorStore.h"
#include "db/Backup.h"
#include "operators/AttemptLimiter.h"
#include "db/Connection.h"
#include "platform/Error.h"
#include "tests/db/RegisterWorkload.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    try {
        if (args.size() == 6 && args.at(1) == QLatin1String("write")) {
            // An instance that starts and ends for every round: between its rounds it holds no
            // lock, so any other lock that went missing shows.
            const int rounds = args.at(4).toInt();
            for (int i = 0; i < rounds; ++i) {
                lianbu::db::Connection connection(args.at(2));
                connection.open();
                lianbu::test::RegisterWorkload(connection, args.at(3).toInt(), args.at(5)).round(i);
            }
            return 0;
        }
        if (args.size() == 4 && args.at(1) == QLatin1String("read")) {
            lianbu::test::readAndClose(args.at(2), args.at(3).toInt());
            return 0;
        }
        if (args.size() == 6 && args.at(1) == QLatin1String("login")) {
            lianbu::db::Connection connection(args.at(2));
            connection.open();
            lianbu::data::OperatorStore store(connection);
            lianbu::operators::AttemptLimiter limiter(connection);
            QElapsedTimer timer;
            timer.start();
            while (timer.elapsed() < args.at(5).toInt()) {
                using Result = lianbu::operators::AttemptLimiter::Result;
                const Result result = limiter.check(store, args.at(3), args.at(4), lianbu::data::AttemptKind::Login);
                if (result == Result::Waiting)
                    QThread::msleep(20);
                else
                    std::printf("checked %s\n", result == Result::Accepted ? "accepted" : "refused");
                std::fflush(stdout);
            }
            return 0;
        }
        if (args.size() == 4 && args.at(1) == QLatin1String("hold")) {
            // An instance that has the register open and does nothing for a while.
            lianbu::db::Connection connection(args.at(2));
            connection.open();
            std::printf("open\n");
            std::fflush(stdout);
            QThread::msleep(args.at(3).toULong());
            return 0;
        }
        if (args.size() == 4 && args.at(1) == QLatin1String("backup")) {
            lianbu::db::backupDatabase(args.at(2), args.at(3));
            return 0;
        }
    } catch (const lianbu::Error &error) {
        std::fprintf(stderr, "register_worker: %s\n", qPrintable(error.message()));
        return 1;
    }
    std::fprintf(stderr, "register_worker: wrong arguments\n");
    return 2;
}
