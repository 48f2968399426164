#include "app/Register.h"

#include "data/Schema.h"
#include "platform/CommandLine.h"
#include "platform/Error.h"
#include "platform/Installation.h"
#include "platform/PasswordFile.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace lianbu {

namespace {

QSettings userSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("qiaomu"), QStringLiteral("lianbu"));
}

} // namespace

db::RegisterAddress RegisterPlace::address() const
{
    if (isServer())
        return server;
    db::RegisterAddress file;
    file.file = path;
    return file;
}

RegisterPlace registerPlace(const CommandLine &commandLine, bool packaged, const QString &userDataFolder,
                            const QString &workingFolder, const QString &environment, const QString &saved)
{
    const QDir working(workingFolder);
    for (const QString &given : {commandLine.database, environment, saved}) {
        if (given.isEmpty())
            continue;
        RegisterPlace place;
        if (db::isServerAddress(given))
            place.server = db::parseRegisterAddress(given);
        else
            place.path = QDir::cleanPath(working.absoluteFilePath(given));
        return place;
    }
    if (packaged)
        return {QDir::cleanPath(QDir(userDataFolder).absoluteFilePath(QLatin1String(kRegisterFileName))), true, {}};
    return {QDir::cleanPath(working.absoluteFilePath(QLatin1String(kRegisterFileName))), false, {}};
}

RegisterPlace chosenRegister(const CommandLine &commandLine)
{
    RegisterPlace place =
        registerPlace(commandLine, registerInUserDataFolder(), paths::userDataFolder(), paths::workingFolder(),
                      qEnvironmentVariable(kRegisterVariable), savedRegister());
    if (place.isServer() && place.server.password.isEmpty())
        place.server.password = findServerPassword(
            serverPasswordFilePath(), {place.server.host, place.server.port, place.server.database, place.server.user});
    return place;
}

QString savedRegister()
{
    return userSettings().value(QLatin1String(kSavedRegisterKey)).toString();
}

void saveRegister(const QString &address)
{
    QSettings settings = userSettings();
    if (address.isEmpty())
        settings.remove(QLatin1String(kSavedRegisterKey));
    else
        settings.setValue(QLatin1String(kSavedRegisterKey), address);
    settings.sync();
}

void prepareRegister(const RegisterPlace &place)
{
    if (place.isServer())
        return;
    const QFileInfo file(place.path);
    if (!place.createWhenMissing || file.exists() || file.isSymLink())
        return;
    if (!paths::makePrivateFolder(file.absolutePath()))
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
