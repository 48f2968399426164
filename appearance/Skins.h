#pragma once

// The skin engine: a skin is a Qt style sheet. The active skin becomes the application's style
// sheet, so every window of the program, open or opened later, is drawn in it at once.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QIODevice;

// The skin component of the main window.
class SkinController : public QObject
{
    Q_OBJECT
public:
    explicit SkinController(QObject *parent = nullptr);

    // Skinning on or off. Switching it off gives the application back the style sheet it had
    // before the component took over.
    bool active() const { return m_active; }
    void setActive(bool active);

    // The component's own skin, active until another one is loaded.
    QByteArray skinStream() const { return m_ownSkin; }
    void setSkinStream(const QByteArray &skin);

    // Takes the skin held by `stream`, read from its start, as the active skin.
    void loadFromStream(QIODevice &stream);
    // The skin being shown (the own skin until another was loaded).
    QByteArray activeSkin() const { return m_activeSkin; }

signals:
    // The application's style sheet was replaced: every window is being redrawn.
    void skinChanged();

private:
    void apply();

    bool m_active = false;
    QByteArray m_ownSkin;
    QByteArray m_activeSkin;
    QString m_sheetBefore;
};

// One item of the skin store.
struct Skin
{
    QString name;
    QByteArray dataStream;
};

// An ordered collection of skins.
class SkinCatalog : public QObject
{
    Q_OBJECT
public:
    explicit SkinCatalog(QObject *parent = nullptr);

    QList<Skin> store;
    int count() const { return int(store.size()); }
};

// When `index` is below the store's item count, `data` takes that item's skin as its active
// skin; otherwise nothing happens.
void ApplyStoreSkin(SkinController *data, SkinCatalog *store, int index);

namespace lianbu::skins {

// The program's skins, compiled in as resources.
struct SkinResource
{
    const char *name;    // item name in the store ("SkinItem0"...), or "Own"
    const char *caption; // the look's name
    const char *path;    // resource path of the style sheet
};
// The main window's own skin.
const SkinResource &ownSkin();
// The five skins of the store, in store order.
const QList<SkinResource> &storeSkins();

// The style sheet bytes of a skin resource (empty when missing).
QByteArray skinData(const SkinResource &skin);

// Fills `store` with the five skins, in menu order.
void fillStore(SkinCatalog *store);

// Registers the skin resources of the library; safe to call more than once.
void initSkinResources();

} // namespace lianbu::skins
