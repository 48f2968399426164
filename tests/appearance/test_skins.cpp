// Skins, the remembered skin, the support page, the help commands and the about box.
#include "tests/support/FormWidgets.h"
#include "tests/support/MainWindowHarness.h"
#include "tests/support/TestSupport.h"

#include "platform/AppInfo.h"
#include "platform/VendorAddresses.h"
#include "appearance/AboutDialog.h"
#include "appearance/SkinCommands.h"
#include "appearance/SkinRegistry.h"
#include "appearance/Skins.h"
#include "platform/Error.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <cmath>

using namespace lianbu;
using namespace lianbu::test;

namespace {

// Per-user settings kept apart from the real ones, so one test's choice never leaks into the
// next. Here a private folder stands in for the registry. Windows keeps the key in the registry
// itself, where no folder can be substituted: the user's key is put aside and emptied, and given
// back afterwards.
class PrivateSettings
{
public:
    PrivateSettings()
    {
#ifdef Q_OS_WIN
        QSettings key(QSettings::NativeFormat, QSettings::UserScope, "qiaomu", "lianbu");
        for (const QString &name : key.allKeys())
            saved.append({name, key.value(name)});
        removeKey();
#else
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
#endif
    }
    ~PrivateSettings()
    {
#ifdef Q_OS_WIN
        removeKey();
        QSettings key(QSettings::NativeFormat, QSettings::UserScope, "qiaomu", "lianbu");
        for (const auto &[name, value] : saved)
            key.setValue(name, value);
#else
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path() + "/gone");
#endif
    }
    QString keyFile() const
    {
        return dir.path() + QStringLiteral("/qiaomu/lianbu.conf");
    }
    void store(const QVariant &value) const
    {
        QSettings key(QSettings::NativeFormat, QSettings::UserScope, "qiaomu", "lianbu");
        key.setValue("skin", value);
        key.sync();
    }
    QVariant stored() const
    {
        QSettings key(QSettings::NativeFormat, QSettings::UserScope, "qiaomu", "lianbu");
        return key.value("skin");
    }
    QTemporaryDir dir;

private:
#ifdef Q_OS_WIN
    static void removeKey()
    {
        QSettings parent(QStringLiteral("HKEY_CURRENT_USER\\Software\\qiaomu"), QSettings::NativeFormat);
        parent.remove(QStringLiteral("lianbu"));
        parent.sync();
    }
    QList<QPair<QString, QVariant>> saved;
#endif
};

// Notes the palette of the first tooltip label shown.
class TipWatch : public QObject
{
public:
    bool seen = false;
    QPalette palette;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (!seen && event->type() == QEvent::Show && object->inherits("QTipLabel")) {
            seen = true;
            palette = static_cast<QWidget *>(object)->palette();
        }
        return false;
    }
};

QString sheetOf(const skins::SkinResource &skin)
{
    return QString::fromUtf8(skins::skinData(skin));
}
QString storeSheet(int index)
{
    return sheetOf(skins::storeSkins().at(index));
}
QString ownSheet()
{
    return sheetOf(skins::ownSkin());
}

// Shows a harness's main window after the stored state is in place (onFirstShow reads it).
void start(MainWindowHarness &h)
{
    h.show();
}

QStringList g_parseWarnings;
void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        g_parseWarnings << message;
}

// WCAG relative luminance contrast of two colours (1 to 21).
double contrast(const QColor &a, const QColor &b)
{
    auto luminance = [](const QColor &c) {
        auto channel = [](double v) {
            v /= 255.0;
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
    };
    double la = luminance(a), lb = luminance(b);
    if (la < lb)
        std::swap(la, lb);
    return (la + 0.05) / (lb + 0.05);
}

// The contrast between an area's background (its left edge) and its strongest pixel: text
// painted there must stand out from what it is painted on.
double paintedContrast(QWidget *widget, const QRect &area)
{
    widget->ensurePolished();
    widget->adjustSize();
    const QImage image = widget->grab().toImage();
    const QColor background = image.pixelColor(area.left() + 2, area.center().y());
    double best = 1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            best = std::max(best, contrast(background, image.pixelColor(x, y)));
    return best;
}

// One of every kind of control the windows use, for a skin to polish.
QWidget *controlGallery()
{
    auto *w = new QWidget;
    auto *group = new QGroupBox(QStringLiteral("组"), w);
    new QCheckBox(QStringLiteral("勾选"), group);
    new QRadioButton(QStringLiteral("单选"), group);
    new QComboBox(w);
    auto *date = new QDateEdit(w);
    date->setCalendarPopup(true);
    new QLineEdit(w);
    new QPushButton(QStringLiteral("按钮"), w);
    new QToolButton(w);
    new QProgressBar(w);
    new QScrollBar(Qt::Vertical, w);
    auto *tabs = new QTabWidget(w);
    tabs->addTab(new QTableWidget(3, 3), QStringLiteral("表"));
    auto *frame = new QFrame(w);
    frame->setFrameShape(QFrame::StyledPanel);
    new QLabel(QStringLiteral("标签"), frame);
    new QStatusBar(w);
    auto *menu = new QMenu(w);
    menu->addAction(QStringLiteral("菜单"));
    menu->addSeparator();
    return w;
}

void polishAll(QWidget *w)
{
    w->ensurePolished();
    for (QWidget *child : w->findChildren<QWidget *>())
        child->ensurePolished();
    w->grab();
}

} // namespace

class TestSkins : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qApp->setStyleSheet(QString()); }

    void indexFromRememberedText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("index"); // -1: none
        for (int i = 0; i <= 5; ++i)
            QTest::newRow(qPrintable(QString::number(i))) << QString::number(i) << i;
        QTest::newRow("empty") << QString() << -1;
        QTest::newRow("leading blank") << QStringLiteral(" 1") << -1;
        QTest::newRow("trailing blank") << QStringLiteral("1 ") << -1;
        QTest::newRow("leading zero") << QStringLiteral("01") << -1;
        QTest::newRow("six") << QStringLiteral("6") << -1;
        QTest::newRow("seven") << QStringLiteral("7") << -1;
        QTest::newRow("minus") << QStringLiteral("-1") << -1;
        QTest::newRow("letters") << QStringLiteral("blue") << -1;
        QTest::newRow("full-width digit") << QStringLiteral("１") << -1;
    }
    void indexFromRememberedText()
    {
        QFETCH(QString, text);
        QFETCH(int, index);
        const std::optional<int> mapped = skins::skinIndexFromText(text);
        QCOMPARE(mapped.value_or(-1), index);
    }

    void storeHoldsFiveDistinctSkinsInMenuOrder()
    {
        SkinCatalog store;
        skins::fillStore(&store);
        QCOMPARE(store.count(), 5);
        QSet<QByteArray> distinct{skins::skinData(skins::ownSkin())};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(store.store[i].name, QStringLiteral("SkinItem%1").arg(i));
            QVERIFY(!store.store[i].dataStream.isEmpty());
            distinct.insert(store.store[i].dataStream);
        }
        QCOMPARE(distinct.size(), 6);
        QVERIFY(storeSheet(1).contains(QStringLiteral("蓝色幻想")));
    }

    void applyStoreSkinTakesTheItemAndIgnoresIndexesBeyondTheStore()
    {
        SkinCatalog store;
        skins::fillStore(&store);
        SkinController data;
        data.setSkinStream(skins::skinData(skins::ownSkin()));
        data.setActive(true);
        QCOMPARE(qApp->styleSheet(), ownSheet());
        QSignalSpy changed(&data, &SkinController::skinChanged);
        for (int index : {5, 6, 100}) {
            ApplyStoreSkin(&data, &store, index);
            QCOMPARE(qApp->styleSheet(), ownSheet());
        }
        QCOMPARE(changed.count(), 0);
        ApplyStoreSkin(&data, &store, 3);
        QCOMPARE(qApp->styleSheet(), storeSheet(3));
        QCOMPARE(data.activeSkin(), store.store[3].dataStream);
        QCOMPARE(changed.count(), 1);
        // Off gives the application its unskinned look back.
        data.setActive(false);
        QCOMPARE(qApp->styleSheet(), QString());
    }

    // Every skin parses without a warning, names only pictures that exist, and keeps text legible
    // where it is read all day: edits, menus, the grid and its selection, tooltips.
    void everySkinParsesAndStaysLegible_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("own") << QString::fromLatin1(skins::ownSkin().path);
        for (const skins::SkinResource &skin : skins::storeSkins())
            QTest::newRow(skin.name) << QString::fromLatin1(skin.path);
    }
    void everySkinParsesAndStaysLegible()
    {
        QFETCH(QString, path);
        skins::initSkinResources();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString sheet = QString::fromUtf8(file.readAll());

        const QRegularExpression url(QStringLiteral("url\\(([^)]*)\\)"));
        for (auto it = url.globalMatch(sheet); it.hasNext();) {
            const QString picture = it.next().captured(1);
            QVERIFY2(QFile::exists(picture), qPrintable(picture));
            QVERIFY2(!QImage(picture).isNull(), qPrintable(picture));
        }

        // The watch below does see a sheet that does not parse.
        QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
        g_parseWarnings.clear();
        qApp->setStyleSheet(QStringLiteral("QPushButton { color: red; "));
        QPushButton probe;
        probe.ensurePolished();
        QVERIFY(!g_parseWarnings.filter(QStringLiteral("parse"), Qt::CaseInsensitive).isEmpty());

        g_parseWarnings.clear();
        qApp->setStyleSheet(sheet);
        MainWindowHarness h;
        std::unique_ptr<QWidget> gallery(controlGallery());
        polishAll(gallery.get());
        polishAll(h.form.get());
        AboutDialog about;
        polishAll(&about);
        qInstallMessageHandler(previous);
        for (const QString &warning : g_parseWarnings)
            QVERIFY2(!warning.contains(QLatin1String("parse"), Qt::CaseInsensitive), qPrintable(warning));

        // The main window's own skin is replaced by the one under test for the checks below.
        qApp->setStyleSheet(sheet);
        const QPalette edit = widgets(h.form)->searchShortName->palette();
        QVERIFY2(contrast(edit.color(QPalette::Text), edit.color(QPalette::Base)) >= 7, "edit text");
        QMenu *menu = h.form->settingsMenu;
        menu->ensurePolished();
        QVERIFY2(contrast(menu->palette().color(QPalette::WindowText), menu->palette().color(QPalette::Window)) >= 7,
                 "menu text");
        QAbstractItemView *view = widgets(h.form)->customerGrid->view();
        const QPalette grid = view->palette();
        // The grid paints its rows white and light grey itself: its text must stay dark.
        QVERIFY2(contrast(grid.color(QPalette::Text), Qt::white) >= 7, "grid text");
        QVERIFY2(contrast(grid.color(QPalette::Text), QColor(238, 238, 238)) >= 7, "grid text");
        QVERIFY2(contrast(grid.color(QPalette::HighlightedText), grid.color(QPalette::Highlight)) >= 4.5,
                 "grid selection");
        QVERIFY2(paintedContrast(menu, menu->actionGeometry(h.form->blackClassicSkinAction)) >= 7, "menu item");
        menu->setActiveAction(h.form->blueFantasySkinAction);
        QVERIFY2(paintedContrast(menu, menu->actionGeometry(h.form->blueFantasySkinAction)) >= 4.5,
                 "selected menu item");
        // The tooltip's colours as it is shown: on Windows the label has no parent, and on Qt's
        // minimal platform there showing it deactivates the window, which hides it at once.
        TipWatch watch;
        qApp->installEventFilter(&watch);
        QToolTip::showText(h.form->mapToGlobal(QPoint(10, 10)), QStringLiteral("提示"), h.form.get());
        QTRY_VERIFY_WITH_TIMEOUT(watch.seen, 2000); // a fading tip shows once the fade is over
        qApp->removeEventFilter(&watch);
        QVERIFY2(contrast(watch.palette.color(QPalette::WindowText), watch.palette.color(QPalette::Window)) >= 7,
                 "tooltip");
        QToolTip::hideText();
    }

    void firstStartShowsTheOwnSkinAndCreatesNoKey()
    {
        PrivateSettings settings;
        MainWindowHarness h(false);
        start(h);
        QCOMPARE(qApp->styleSheet(), ownSheet());
        QCOMPARE(h.form->skinController->activeSkin(), skins::skinData(skins::ownSkin()));
        QVERIFY(!skins::skinKeyOpens());
#ifndef Q_OS_WIN
        QVERIFY(!QDir(settings.dir.path() + "/qiaomu").exists());
#endif
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
        QVERIFY(h.form->statusPanel(2)->text().startsWith(QStringLiteral("今天：")));
    }

    void chosenSkinIsStoredAndShownAtTheNextStart()
    {
        PrivateSettings settings;
        {
            MainWindowHarness h;
            QVERIFY(!skins::skinKeyOpens());
            h.form->blueFantasySkinAction->trigger(); // 蓝色幻想(皮肤)
            QCOMPARE(qApp->styleSheet(), storeSheet(1));
            QVERIFY(skins::skinKeyOpens());
            QCOMPARE(settings.stored(), QVariant(QStringLiteral("1")));
        }
        qApp->setStyleSheet(QString());
        MainWindowHarness next(false);
        QVERIFY(qApp->styleSheet().isEmpty()); // the skin takes over when the window is shown
        start(next);
        QCOMPARE(qApp->styleSheet(), storeSheet(1));
        QCOMPARE(next.form->skinController->activeSkin(), skins::skinData(skins::storeSkins().at(1)));
        QVERIFY2(next.env.dialogs().boxes().isEmpty(), next.env.dialogs().boxesText().constData());
    }

    void everySkinItemAppliesAndRemembersItsIndex()
    {
        PrivateSettings settings;
        MainWindowHarness h;
        const QList<QAction *> items{h.form->blackClassicSkinAction, h.form->blueFantasySkinAction,
                                     h.form->dreamSkySkinAction, h.form->blackReverieSkinAction,
                                     h.form->dreamComeTrueSkinAction};
        const QStringList captions{"黑色经典(皮肤)", "蓝色幻想(皮肤)", "梦幻天空(皮肤)", "黑色遐想(皮肤)",
                                   "梦想成真(皮肤)"};
        for (int k = 4; k >= 0; --k) {
            QCOMPARE(items[k]->text(), captions[k]);
            items[k]->trigger();
            QCOMPARE(qApp->styleSheet(), storeSheet(k));
            QCOMPARE(settings.stored(), QVariant(QString::number(k)));
        }
    }

    // Stored texts that name no skin of the store leave the own skin, silently, and the rest of
    // onFirstShow runs.
    // Restyling every window must not undo what the windows set on their controls.
    void switchingSkinsKeepsTheControlsOwnSettings()
    {
        PrivateSettings settings;
        MainWindowHarness h;
        const MainWindowWidgets *ui = widgets(h.form);
        const int pixels = ui->categoryEdit->font().pixelSize();
        QDateEdit *date = ui->registrationDateEdit;
        date->setDateTime(date->minimumDateTime());
        const QString blank = date->text();
        for (QAction *item : {h.form->blackClassicSkinAction, h.form->blueFantasySkinAction, h.form->dreamSkySkinAction,
                              h.form->blackReverieSkinAction, h.form->dreamComeTrueSkinAction}) {
            item->trigger();
            QCOMPARE(ui->categoryEdit->font().pixelSize(), pixels);
            QCOMPARE(ui->sexCombo->font().pixelSize(), pixels);
            QCOMPARE(date->text(), blank);
            QCOMPARE(ui->customerGrid->font(), widgets(h.form)->customerGrid->font());
        }
    }

    void storedTextsThatNameNoSkinChangeNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("5") << QStringLiteral("5");
        QTest::newRow("7") << QStringLiteral("7");
        QTest::newRow("empty") << QString("");
        QTest::newRow("leading blank") << QStringLiteral(" 1");
        QTest::newRow("leading zero") << QStringLiteral("01");
        QTest::newRow("letters") << QStringLiteral("blue");
    }
    void storedTextsThatNameNoSkinChangeNothing()
    {
        QFETCH(QString, text);
        PrivateSettings settings;
        settings.store(text);
        MainWindowHarness h(false);
        start(h);
        QCOMPARE(qApp->styleSheet(), ownSheet());
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
        QVERIFY(h.form->statusPanel(2)->text().startsWith(QStringLiteral("今天：")));
        QCOMPARE(settings.stored(), QVariant(text)); // read, never rewritten
    }

    void keyWithoutTheValueOrThatCannotBeOpenedChangesNothing()
    {
        {
            PrivateSettings settings;
            QSettings key(QSettings::NativeFormat, QSettings::UserScope, "qiaomu", "lianbu");
            key.setValue("other", "x");
            key.sync();
            MainWindowHarness h(false);
            start(h);
            QCOMPARE(qApp->styleSheet(), ownSheet());
            QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
        }
        {
#ifdef Q_OS_WIN
            QSKIP("a registry key cannot be closed to this user under Wine (no access rights)");
#endif
            // A key that cannot be opened: here a folder where the settings file should be.
            PrivateSettings settings;
            QVERIFY(QDir().mkpath(settings.keyFile()));
            MainWindowHarness h(false);
            start(h);
            QCOMPARE(qApp->styleSheet(), ownSheet());
            QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
            QVERIFY(h.form->statusPanel(2)->text().startsWith(QStringLiteral("今天：")));
        }
    }

    void storedValueThatIsNotTextIsAnErrorAndEndsFormShow()
    {
        PrivateSettings settings;
        settings.store(QStringList{QStringLiteral("1"), QStringLiteral("2")});
        MainWindowHarness h(false);
        start(h);
        QCOMPARE(h.env.dialogs().boxes().size(), 1);
        QCOMPARE(h.env.dialogs().lastBox().request.text, QStringLiteral("Invalid data type for 'skin'"));
        QCOMPARE(h.env.dialogs().lastBox().request.icon, BoxIcon::Stop);
        QCOMPARE(qApp->styleSheet(), ownSheet());
        // The steps after the skin did not run.
        QVERIFY(!h.form->statusPanel(2)->text().startsWith(QStringLiteral("今天：")));
    }

    void choosingTheSameSkinTwiceWritesTheSameValueAndNothingElse()
    {
        PrivateSettings settings;
        MainWindowHarness h;
        h.form->dreamSkySkinAction->trigger();
#ifdef Q_OS_WIN
        h.form->dreamSkySkinAction->trigger(); // the registry's bytes are not reachable as a file
#else
        QFile file(settings.keyFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray first = file.readAll();
        file.close();
        h.form->dreamSkySkinAction->trigger();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), first);
#endif
        QCOMPARE(qApp->styleSheet(), storeSheet(2));
        QSettings key(QSettings::NativeFormat, QSettings::UserScope, "qiaomu", "lianbu");
        QCOMPARE(key.allKeys(), QStringList{QStringLiteral("skin")});
        QCOMPARE(key.value("skin"), QVariant(QStringLiteral("2")));
    }

    void keyThatCannotBeCreatedIsReportedAfterTheSkinIsShown()
    {
#ifdef Q_OS_WIN
        QSKIP("a registry key cannot be kept from being created under Wine (no access rights)");
#endif
        PrivateSettings settings;
        MainWindowHarness h;
        // A file where the key's folder should be: the key cannot be created.
        QFile blocker(settings.dir.path() + "/qiaomu");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        try {
            h.form->blackReverieSkinAction->trigger();
            QFAIL("no error");
        } catch (const Error &error) {
            QCOMPARE(error.message(), QStringLiteral("Failed to create key \\Software\\qiaomu\\lianbu"));
        }
        QCOMPARE(qApp->styleSheet(), storeSheet(3));
    }

    void valueThatCannotBeWrittenIsReportedAfterTheSkinIsShown()
    {
        if (const QString why = test::whyPermissionsCannotBeTakenAway(); !why.isEmpty())
            QSKIP(qPrintable(why));
        PrivateSettings settings;
        settings.store(QStringLiteral("0"));
        MainWindowHarness h;
        // The file stays writable but its folder refuses the replacement file.
        const QString folder = settings.dir.path() + "/qiaomu";
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        bool threw = false;
        try {
            h.form->dreamComeTrueSkinAction->trigger();
        } catch (const Error &error) {
            threw = true;
            QCOMPARE(error.message(), QStringLiteral("Failed to set data for 'skin'"));
        }
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(threw);
        QCOMPARE(qApp->styleSheet(), storeSheet(4));
    }

    void supportButtonOpensTheSupportPage()
    {
        PrivateSettings settings;
        MainWindowHarness h;
        h.env.shell().result = false; // no browser: nothing is reported
        QTest::mouseClick(widgets(h.form)->supportButton, Qt::LeftButton);
        QCOMPARE(h.env.shell().opened, QList<QUrl>{QUrl(supportPageAddress())});
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());
    }

    void helpCommandsSitAtTheEndOfTheSettingsMenu()
    {
        PrivateSettings settings;
        MainWindowHarness h;
        const QList<QAction *> actions = h.form->settingsMenu->actions();
        // 修改密码, 用户管理, -, five skins, then the data commands, -, and the help commands last.
        const int n = int(actions.size());
        QVERIFY(n >= 14);
        QVERIFY(actions[n - 4]->isSeparator());
        QCOMPARE(actions[n - 3]->text(), QStringLiteral("帮助主题"));
        QCOMPARE(actions[n - 2]->text(), QStringLiteral("官方主页"));
        QCOMPARE(actions[n - 1]->text(), QStringLiteral("关于"));
        QVERIFY(!actions.contains(h.form->checkForUpgradeAction)); // 检查升级 stays internal

        actions[n - 3]->trigger();
        actions[n - 2]->trigger();
        // The manual that ships with the program, found from the program file, not the working
        // folder; a program built from the sources finds it in the source tree.
        const QString manual = skins::helpManualPath(QCoreApplication::applicationDirPath(), false);
        QVERIFY(manual.endsWith(QLatin1String("/manual/index.html")));
        QCOMPARE(h.env.shell().opened, (QList<QUrl>{QUrl::fromLocalFile(manual), QUrl(homePageAddress())}));
        QVERIFY2(h.env.dialogs().boxes().isEmpty(), h.env.dialogs().boxesText().constData());

        // A desktop without a program for web pages: the operator is told.
        h.env.shell().result = false;
        actions[n - 3]->trigger();
        QCOMPARE(h.env.dialogs().boxes().size(), 1);
        QVERIFY(h.env.dialogs().boxes().first().request.text.contains(manual));
    }

    void theManualIsFoundWhereThePackageInstallsItAndCoversEveryCommand()
    {
        // Installed: <prefix>/libexec/lianbu/lianbu and <prefix>/share/lianbu/manual/index.html.
        QTemporaryDir prefix;
        QVERIFY(QDir().mkpath(prefix.filePath(QStringLiteral("libexec/lianbu"))));
        const QString programFolder = prefix.filePath(QStringLiteral("libexec/lianbu"));
        QCOMPARE(skins::helpManualPath(programFolder, true), QString()); // nothing installed yet
        QVERIFY(QDir().mkpath(prefix.filePath(QStringLiteral("share/lianbu/manual"))));
        QFile installed(prefix.filePath(QStringLiteral("share/lianbu/manual/index.html")));
        QVERIFY(installed.open(QIODevice::WriteOnly));
        installed.close();
        QCOMPARE(skins::helpManualPath(programFolder, true), QFileInfo(installed).canonicalFilePath());
        QCOMPARE(skins::helpManualPath(programFolder, false), QFileInfo(installed).canonicalFilePath());
        // Installed by the Windows installer: everything in one folder, the manual beside the program.
        QVERIFY(QDir().mkpath(prefix.filePath(QStringLiteral("libexec/lianbu/manual"))));
        QFile beside(prefix.filePath(QStringLiteral("libexec/lianbu/manual/index.html")));
        QVERIFY(beside.open(QIODevice::WriteOnly));
        beside.close();
        QCOMPARE(skins::helpManualPath(programFolder, true), QFileInfo(beside).canonicalFilePath());

        // The manual itself: Chinese HTML that describes every command the main window offers.
        QFile manual(skins::helpManualPath(QCoreApplication::applicationDirPath(), false));
        QVERIFY(manual.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(manual.readAll());
        QVERIFY(text.contains(QLatin1String("<html lang=\"zh-CN\">")));
        text.remove(QLatin1Char(' '));
        PrivateSettings settings;
        MainWindowHarness h;
        QStringList commands;
        for (QAction *action : h.form->settingsMenu->actions())
            if (!action->isSeparator())
                commands << action->text();
        commands << h.form->customerList()->saveColumnLayoutAction()->text();
        for (QAction *action : h.form->customerList()->hideColumnActions())
            commands << action->text().mid(2); // the column each hide item names
        for (QToolButton *button : h.form->findChildren<QToolButton *>())
            if (!button->text().isEmpty() && button->parentWidget() == widgets(h.form)->toolBar)
                commands << button->text();
        for (QPushButton *button : widgets(h.form)->entryPanel->findChildren<QPushButton *>())
            commands << button->text();
        QVERIFY(commands.size() > 25);
        for (QString command : commands) {
            command.remove(QLatin1Char(' '));
            command.remove(QStringLiteral("(皮肤)"));
            command.remove(QChar(0x2026)); // …
            QVERIFY2(text.contains(command), qPrintable(command));
        }
    }

    void aboutBoxShowsTheProgramAndItsLinks()
    {
        PrivateSettings settings;
        MainWindowHarness h;
        QString caption;
        bool modal = false;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<AboutDialog *>(QApplication::activeModalWidget());
            if (!box)
                return;
            caption = box->windowTitle();
            modal = box->isModal();
            QTest::mouseClick(widgets(box)->okButton, Qt::LeftButton);
        });
        h.form->aboutAction->trigger();
        QCOMPARE(caption, QStringLiteral("关于软件..."));
        QVERIFY(modal);

        AboutDialog box(h.form.get());
        QVERIFY(!widgets(&box)->programIcon->pixmap().isNull());
        QCOMPARE(widgets(&box)->productName->text(), applicationTitle());
        QVERIFY(widgets(&box)->productName->font().bold());
        QVERIFY(widgets(&box)->versionLabel->text().contains(applicationVersion()));
        QCOMPARE(widgets(&box)->emailLabel->text(), QStringLiteral("Email："));
        QCOMPARE(widgets(&box)->websiteLabel->text(), QStringLiteral("网站："));
        QCOMPARE(widgets(&box)->okButton->text(), QStringLiteral("确  定"));
        for (QLabel *link : {widgets(&box)->emailLink, widgets(&box)->websiteLink}) {
            QVERIFY(link->font().underline());
            QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
            // Blue in every skin: more blue than red or green.
            box.ensurePolished();
            link->ensurePolished();
            const QColor colour = link->palette().color(QPalette::WindowText);
            QVERIFY2(colour.blue() > colour.red() && colour.blue() > colour.green(), qPrintable(colour.name()));
        }
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QTest::mouseClick(widgets(&box)->emailLink, Qt::LeftButton);
        QTest::mouseClick(widgets(&box)->websiteLink, Qt::LeftButton);
        QCOMPARE(h.env.shell().opened.size(), 2);
        QCOMPARE(h.env.shell().opened[0].scheme(), QStringLiteral("mailto"));
        QCOMPARE(h.env.shell().opened[0].path(), vendorMailAddress());
        QCOMPARE(h.env.shell().opened[1], QUrl(homePageAddress()));
        QTest::mouseClick(widgets(&box)->okButton, Qt::LeftButton);
        QCOMPARE(box.result(), int(QDialog::Accepted));
        QVERIFY(!box.isVisible());
    }
};

QTEST_MAIN(TestSkins)
#include "test_skins.moc"
