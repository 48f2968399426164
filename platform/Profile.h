#pragma once

#include <QString>
#include <QStringList>

// The settings file in the Windows initialization-file format, read and written with the
// semantics of the Windows profile functions: sections and keys match without regard to case,
// a key's line is replaced in place, a new key goes after the last key of its section, a new
// section at the end of the file, lines end in CR LF, a missing file is created but never its
// folder. Text is stored as GBK bytes; lines this program does not change keep their bytes.
namespace lianbu {

// The value of key in section, trimmed of surrounding blanks and of one pair of matching
// quotes; defaultValue (without its trailing blanks) when the file, section or key is missing.
QString profileString(const QString &file, const QString &section, const QString &key,
                      const QString &defaultValue = QString());

// The keys of a section in file order (empty when the file or section is missing).
QStringList profileKeys(const QString &file, const QString &section);

// Writes key=value into section. False when the file cannot be read or replaced, its folder
// is missing, or a name or the value cannot be stored on one line (section containing "]",
// key containing "=", line breaks, empty names). The file is replaced atomically.
bool writeProfileString(const QString &file, const QString &section, const QString &key, const QString &value);

// Removes one key (true also when there was nothing to remove and the file exists or is absent).
bool deleteProfileKey(const QString &file, const QString &section, const QString &key);

// Removes a whole section: its header and every line up to the next section.
bool eraseProfileSection(const QString &file, const QString &section);

} // namespace lianbu
