#include "appearance/Skins.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QIODevice>

static void initAppearanceResources()
{
    Q_INIT_RESOURCE(appearance);
}

SkinController::SkinController(QObject *parent)
    : QObject(parent)
{}

void SkinController::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    if (active) {
        m_sheetBefore = qApp->styleSheet();
        apply();
    } else {
        qApp->setStyleSheet(m_sheetBefore);
        emit skinChanged();
    }
}

void SkinController::setSkinStream(const QByteArray &skin)
{
    m_ownSkin = skin;
    m_activeSkin = skin;
    apply();
}

void SkinController::loadFromStream(QIODevice &stream)
{
    if (!stream.isOpen() && !stream.open(QIODevice::ReadOnly))
        return;
    stream.seek(0);
    m_activeSkin = stream.readAll();
    apply();
}

void SkinController::apply()
{
    if (!m_active)
        return;
    const QString sheet = QString::fromUtf8(m_activeSkin);
    // Re-polishing every widget is the costly part; the same skin again changes nothing.
    if (qApp->styleSheet() != sheet)
        qApp->setStyleSheet(sheet);
    emit skinChanged();
}

SkinCatalog::SkinCatalog(QObject *parent)
    : QObject(parent)
{}

void ApplyStoreSkin(SkinController *data, SkinCatalog *store, int index)
{
    if (!data || !store || index < 0 || index >= store->count())
        return;
    QBuffer buffer(&store->store[index].dataStream);
    buffer.open(QIODevice::ReadOnly);
    data->loadFromStream(buffer);
}

namespace lianbu::skins {

const SkinResource &ownSkin()
{
    static const SkinResource own{"Own", "联簿宝", ":/skins/own.qss"};
    return own;
}

const QList<SkinResource> &storeSkins()
{
    static const QList<SkinResource> skins{
        {"SkinItem0", "黑色经典", ":/skins/black-classic.qss"},
        {"SkinItem1", "蓝色幻想", ":/skins/blue-fantasy.qss"},
        {"SkinItem2", "梦幻天空", ":/skins/dream-sky.qss"},
        {"SkinItem3", "黑色遐想", ":/skins/black-reverie.qss"},
        {"SkinItem4", "梦想成真", ":/skins/dream-come-true.qss"},
    };
    return skins;
}

QByteArray skinData(const SkinResource &skin)
{
    initSkinResources();
    QFile file(QString::fromLatin1(skin.path));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void fillStore(SkinCatalog *store)
{
    store->store.clear();
    for (const SkinResource &skin : storeSkins())
        store->store.append({QString::fromLatin1(skin.name), skinData(skin)});
}

void initSkinResources()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    initAppearanceResources();
}

} // namespace lianbu::skins
