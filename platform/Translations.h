#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

namespace lianbu {

// The toolkit's own texts (file dialog, print dialog, standard buttons, the context menu of text
// fields) in Simplified Chinese, matching the rest of the interface whatever the system language.
//
// The system's copy (QLibraryInfo::TranslationsPath) is preferred, so a newer toolkit brings its
// own matching catalogue; a copy compiled into the program stands in when the system has none or
// it does not load.
inline constexpr const char *kToolkitCatalogue = "qtbase_zh_CN.qm";
// The compiled-in copy.
inline constexpr const char *kBuiltInToolkitCatalogue = ":/translations/qtbase_zh_CN.qm";

// The first of `folders` + "/qtbase_zh_CN.qm" that loads, else the compiled-in copy, installed
// into `app`. Returns the file that was installed, or an empty string when none could be loaded.
// A second call replaces the translator of the first.
QString installToolkitTranslations(QCoreApplication &app, const QStringList &folders);
// The same with the system's translations folder.
QString installToolkitTranslations(QCoreApplication &app);

} // namespace lianbu
