#include "app/Register.h"

#include "platform/CommandLine.h"
#include "data/Schema.h"
#include "platform/Error.h"

#include <QDir>
#include <QFileInfo>

namespace lianbu {

RegisterPlace registerPlace(const CommandLine &commandLine, bool packaged, const QString &userDataFolder,
                            const QString &workingFolder)
{
    const QDir working(workingFolder);
    if (!commandLine.database.isEmpty())
        return {QDir::cleanPath(working.absoluteFilePath(commandLine.database)), false};
    if (packaged)
        return {QDir::cleanPath(QDir(userDataFolder).absoluteFilePath(QLatin1String(kRegisterFileName))), true};
    return {QDir::cleanPath(working.absoluteFilePath(QLatin1String(kRegisterFileName))), false};
}

void prepareRegister(const RegisterPlace &place)
{
    const QFileInfo file(place.path);
    if (!place.createWhenMissing || file.exists() || file.isSymLink())
        return;
    if (!QDir().mkpath(file.absolutePath()))
        throw Error(QStringLiteral("Cannot create the folder \"%1\" for the database file.").arg(file.absolutePath()));
    try {
        createDeliveredDatabase(place.path);
    } catch (const Error &) {
        // Another instance started at the same moment may have created it first.
        if (!QFileInfo::exists(place.path))
            throw;
    }
}

} // namespace lianbu
