#include "platform/Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

// Q_INIT_RESOURCE must be used outside any namespace; it also keeps the resource's object file
// from being dropped by the linker.
static void initTranslationResource()
{
    Q_INIT_RESOURCE(lianbu_translations);
}

namespace lianbu {

namespace {

QPointer<QTranslator> &installedTranslator()
{
    static QPointer<QTranslator> translator;
    return translator;
}

} // namespace

QString installToolkitTranslations(QCoreApplication &app, const QStringList &folders)
{
    initTranslationResource();
    auto *translator = new QTranslator(&app);
    QString used;
    QStringList candidates;
    for (const QString &folder : folders) {
        if (!folder.isEmpty())
            candidates << QDir(folder).filePath(QLatin1String(kToolkitCatalogue));
    }
    candidates << QLatin1String(kBuiltInToolkitCatalogue);
    for (const QString &file : std::as_const(candidates)) {
        if (translator->load(file)) {
            used = file;
            break;
        }
    }
    if (used.isEmpty()) {
        delete translator;
        return {};
    }
    if (QTranslator *old = installedTranslator()) {
        QCoreApplication::removeTranslator(old);
        delete old;
    }
    QCoreApplication::installTranslator(translator);
    installedTranslator() = translator;
    return used;
}

QString installToolkitTranslations(QCoreApplication &app)
{
    return installToolkitTranslations(app, {QLibraryInfo::path(QLibraryInfo::TranslationsPath)});
}

} // namespace lianbu
