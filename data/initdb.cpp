// lianbu-initdb PATH: creates the delivered database (tables and the super administrator with
// the hash of the default password) at PATH. An existing file is never overwritten.
#include "data/Schema.h"
#include "platform/Error.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2 || arguments.at(1).isEmpty() || arguments.at(1).startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "usage: lianbu-initdb PATH\n"
                             "Creates the delivered database of 联簿宝 at PATH (an existing file is kept).\n");
        return 2;
    }
    try {
        lianbu::createDeliveredDatabase(arguments.at(1));
    } catch (const lianbu::Error &error) {
        std::fprintf(stderr, "lianbu-initdb: %s\n", error.message().toLocal8Bit().constData());
        return 1;
    }
    std::printf("created %s\n", arguments.at(1).toLocal8Bit().constData());
    return 0;
}
