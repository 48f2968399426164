#include "appearance/SkinRegistry.h"

#include "platform/Error.h"

#include <QFileInfo>
#include <QSettings>

namespace lianbu::skins {

namespace {

const QString kValueName = QStringLiteral("skin");

QSettings openKey()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("qiaomu"), QStringLiteral("lianbu"));
}

bool keyExists(const QSettings &key)
{
#ifdef Q_OS_WIN
    QSettings parent(QStringLiteral("HKEY_CURRENT_USER\\Software\\qiaomu"), QSettings::NativeFormat);
    return parent.childGroups().contains(QStringLiteral("lianbu"), Qt::CaseInsensitive);
#else
    // Here the key is the settings file.
    return QFileInfo::exists(key.fileName());
#endif
}

bool keyOpensFully(const QSettings &key)
{
    if (!keyExists(key))
        return false;
#ifdef Q_OS_WIN
    return key.isWritable();
#else
    const QFileInfo file(key.fileName());
    return file.isFile() && file.isReadable() && file.isWritable() && key.status() == QSettings::NoError;
#endif
}

} // namespace

QString skinKeyPath()
{
    return QStringLiteral("\\Software\\qiaomu\\lianbu");
}

std::optional<int> skinIndexFromText(const QString &text)
{
    static const QString digits[6] = {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                                      QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5")};
    for (int i = 0; i < 6; ++i) {
        if (text == digits[i])
            return i;
    }
    return std::nullopt;
}

bool skinKeyOpens()
{
    const QSettings key = openKey();
    return keyOpensFully(key);
}

std::optional<int> readRememberedSkin()
{
    const QSettings key = openKey();
    if (!keyOpensFully(key))
        return std::nullopt;
    const QVariant value = key.value(kValueName);
    if (!value.isValid())
        return skinIndexFromText(QString()); // a missing value reads as empty text
    if (value.typeId() != QMetaType::QString)
        throw Error(QStringLiteral("Invalid data type for '%1'").arg(kValueName));
    return skinIndexFromText(value.toString());
}

void rememberSkin(int index)
{
    const QString digit = QString::number(index);
    {
        QSettings key = openKey();
        if (!keyOpensFully(key)) {
            // Create the key, with the value in it.
            key.setValue(kValueName, digit);
            key.sync();
            if (key.status() != QSettings::NoError || !keyExists(key))
                throw Error(QStringLiteral("Failed to create key %1").arg(skinKeyPath()));
        }
    }
    QSettings key = openKey();
    key.setValue(kValueName, digit);
    key.sync();
    if (key.status() != QSettings::NoError)
        throw Error(QStringLiteral("Failed to set data for '%1'").arg(kValueName));
}

} // namespace lianbu::skins
