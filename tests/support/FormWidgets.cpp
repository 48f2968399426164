#include "tests/support/FormWidgets.h"

#include <QHash>
#include <QPointer>

namespace lianbu::test {

QObject *requireChild(const QObject *window, const char *name)
{
    QObject *child = window->findChild<QObject *>(QLatin1String(name));
    if (!child)
        qFatal("%s has no control named %s", window->metaObject()->className(), name);
    return child;
}

namespace {

// One table per window class; an entry is dropped when its window is destroyed, so a new window
// at the same address is looked up afresh.
template <class W, class T>
const W *cached(const T *window)
{
    static QHash<const QObject *, std::shared_ptr<W>> table;
    auto it = table.find(window);
    if (it == table.end()) {
        it = table.insert(window, std::make_shared<W>(window));
        QObject::connect(window, &QObject::destroyed, [window] { table.remove(window); });
    }
    return it->get();
}

} // namespace

MainWindowWidgets::MainWindowWidgets(const QObject *window)
    : centralWidget(static_cast<QWidget *>(requireChild(window, "centralWidget")))
    , customerGrid(static_cast<DataGrid *>(requireChild(window, "customerGrid")))
    , lowerArea(static_cast<QFrame *>(requireChild(window, "lowerArea")))
    , quickSearchBox(static_cast<QGroupBox *>(requireChild(window, "quickSearchBox")))
    , searchCategoryLabel(static_cast<QLabel *>(requireChild(window, "searchCategoryLabel")))
    , searchCategory(static_cast<QComboBox *>(requireChild(window, "searchCategory")))
    , searchShortNameLabel(static_cast<QLabel *>(requireChild(window, "searchShortNameLabel")))
    , searchShortName(static_cast<QLineEdit *>(requireChild(window, "searchShortName")))
    , searchNameLabel(static_cast<QLabel *>(requireChild(window, "searchNameLabel")))
    , searchName(static_cast<QLineEdit *>(requireChild(window, "searchName")))
    , searchPhoneLabel(static_cast<QLabel *>(requireChild(window, "searchPhoneLabel")))
    , searchPhone(static_cast<QLineEdit *>(requireChild(window, "searchPhone")))
    , searchAddressLabel(static_cast<QLabel *>(requireChild(window, "searchAddressLabel")))
    , searchAddress(static_cast<QLineEdit *>(requireChild(window, "searchAddress")))
    , searchCompanyLabel(static_cast<QLabel *>(requireChild(window, "searchCompanyLabel")))
    , searchCompany(static_cast<QLineEdit *>(requireChild(window, "searchCompany")))
    , searchButton(static_cast<QPushButton *>(requireChild(window, "searchButton")))
    , toolBar(static_cast<QWidget *>(requireChild(window, "toolBar")))
    , newButton(static_cast<QToolButton *>(requireChild(window, "newButton")))
    , deleteButton(static_cast<QToolButton *>(requireChild(window, "deleteButton")))
    , printButton(static_cast<QToolButton *>(requireChild(window, "printButton")))
    , exportButton(static_cast<QToolButton *>(requireChild(window, "exportButton")))
    , settingsButton(static_cast<QToolButton *>(requireChild(window, "settingsButton")))
    , supportButton(static_cast<QToolButton *>(requireChild(window, "supportButton")))
    , entryPanel(static_cast<QFrame *>(requireChild(window, "entryPanel")))
    , categoryLabel(static_cast<QLabel *>(requireChild(window, "categoryLabel")))
    , categoryEdit(static_cast<QLineEdit *>(requireChild(window, "categoryEdit")))
    , shortNameLabel(static_cast<QLabel *>(requireChild(window, "shortNameLabel")))
    , shortNameEdit(static_cast<QLineEdit *>(requireChild(window, "shortNameEdit")))
    , nameLabel(static_cast<QLabel *>(requireChild(window, "nameLabel")))
    , nameEdit(static_cast<QLineEdit *>(requireChild(window, "nameEdit")))
    , sexLabel(static_cast<QLabel *>(requireChild(window, "sexLabel")))
    , sexCombo(static_cast<QComboBox *>(requireChild(window, "sexCombo")))
    , positionLabel(static_cast<QLabel *>(requireChild(window, "positionLabel")))
    , positionEdit(static_cast<QLineEdit *>(requireChild(window, "positionEdit")))
    , mobileLabel(static_cast<QLabel *>(requireChild(window, "mobileLabel")))
    , mobileEdit(static_cast<QLineEdit *>(requireChild(window, "mobileEdit")))
    , phoneLabel(static_cast<QLabel *>(requireChild(window, "phoneLabel")))
    , phoneEdit(static_cast<QLineEdit *>(requireChild(window, "phoneEdit")))
    , faxLabel(static_cast<QLabel *>(requireChild(window, "faxLabel")))
    , faxEdit(static_cast<QLineEdit *>(requireChild(window, "faxEdit")))
    , addressLabel(static_cast<QLabel *>(requireChild(window, "addressLabel")))
    , addressEdit(static_cast<QLineEdit *>(requireChild(window, "addressEdit")))
    , companyLabel(static_cast<QLabel *>(requireChild(window, "companyLabel")))
    , companyEdit(static_cast<QLineEdit *>(requireChild(window, "companyEdit")))
    , postcodeLabel(static_cast<QLabel *>(requireChild(window, "postcodeLabel")))
    , postcodeEdit(static_cast<QLineEdit *>(requireChild(window, "postcodeEdit")))
    , emailLabel(static_cast<QLabel *>(requireChild(window, "emailLabel")))
    , emailEdit(static_cast<QLineEdit *>(requireChild(window, "emailEdit")))
    , websiteLabel(static_cast<QLabel *>(requireChild(window, "websiteLabel")))
    , websiteEdit(static_cast<QLineEdit *>(requireChild(window, "websiteEdit")))
    , notesLabel(static_cast<QLabel *>(requireChild(window, "notesLabel")))
    , notesEdit(static_cast<QLineEdit *>(requireChild(window, "notesEdit")))
    , registrationDateLabel(static_cast<QLabel *>(requireChild(window, "registrationDateLabel")))
    , registrationDateEdit(static_cast<QDateEdit *>(requireChild(window, "registrationDateEdit")))
    , addButton(static_cast<QPushButton *>(requireChild(window, "addButton")))
    , modifyButton(static_cast<QPushButton *>(requireChild(window, "modifyButton")))
    , closeEntryPanelIcon(static_cast<QLabel *>(requireChild(window, "closeEntryPanelIcon")))
    , statusBar(static_cast<QStatusBar *>(requireChild(window, "statusBar")))
{}

const MainWindowWidgets *widgets(const MainWindow *window)
{
    return cached<MainWindowWidgets>(window);
}

LoginDialogWidgets::LoginDialogWidgets(const QObject *window)
    : pictureFrame(static_cast<QFrame *>(requireChild(window, "pictureFrame")))
    , loginPicture(static_cast<QLabel *>(requireChild(window, "loginPicture")))
    , operatorLabel(static_cast<QLabel *>(requireChild(window, "operatorLabel")))
    , operatorCombo(static_cast<QComboBox *>(requireChild(window, "operatorCombo")))
    , passwordLabel(static_cast<QLabel *>(requireChild(window, "passwordLabel")))
    , passwordEdit(static_cast<QLineEdit *>(requireChild(window, "passwordEdit")))
    , defaultPasswordHint(static_cast<QLabel *>(requireChild(window, "defaultPasswordHint")))
    , okButton(static_cast<QPushButton *>(requireChild(window, "okButton")))
    , quitButton(static_cast<QPushButton *>(requireChild(window, "quitButton")))
{}

const LoginDialogWidgets *widgets(const LoginDialog *window)
{
    return cached<LoginDialogWidgets>(window);
}

ChangePasswordDialogWidgets::ChangePasswordDialogWidgets(const QObject *window)
    : operatorLabel(static_cast<QLabel *>(requireChild(window, "operatorLabel")))
    , operatorCombo(static_cast<QComboBox *>(requireChild(window, "operatorCombo")))
    , oldPasswordLabel(static_cast<QLabel *>(requireChild(window, "oldPasswordLabel")))
    , oldPasswordEdit(static_cast<QLineEdit *>(requireChild(window, "oldPasswordEdit")))
    , newPasswordLabel(static_cast<QLabel *>(requireChild(window, "newPasswordLabel")))
    , newPasswordEdit(static_cast<QLineEdit *>(requireChild(window, "newPasswordEdit")))
    , repeatPasswordLabel(static_cast<QLabel *>(requireChild(window, "repeatPasswordLabel")))
    , repeatPasswordEdit(static_cast<QLineEdit *>(requireChild(window, "repeatPasswordEdit")))
    , closeWhenDoneCheck(static_cast<QCheckBox *>(requireChild(window, "closeWhenDoneCheck")))
    , changeButton(static_cast<QPushButton *>(requireChild(window, "changeButton")))
    , quitButton(static_cast<QPushButton *>(requireChild(window, "quitButton")))
    , passwordRuleHint(static_cast<QLabel *>(requireChild(window, "passwordRuleHint")))
{}

const ChangePasswordDialogWidgets *widgets(const ChangePasswordDialog *window)
{
    return cached<ChangePasswordDialogWidgets>(window);
}

OperatorAdminDialogWidgets::OperatorAdminDialogWidgets(const QObject *window)
    : adminPasswordLabel(static_cast<QLabel *>(requireChild(window, "adminPasswordLabel")))
    , adminPasswordEdit(static_cast<QLineEdit *>(requireChild(window, "adminPasswordEdit")))
    , unlockButton(static_cast<QPushButton *>(requireChild(window, "unlockButton")))
    , quitButton(static_cast<QPushButton *>(requireChild(window, "quitButton")))
    , operatorListLabel(static_cast<QLabel *>(requireChild(window, "operatorListLabel")))
    , operatorList(static_cast<QListWidget *>(requireChild(window, "operatorList")))
    , actionTabs(static_cast<QTabWidget *>(requireChild(window, "actionTabs")))
    , resetTab(static_cast<QWidget *>(requireChild(window, "resetTab")))
    , resetSelectHint(static_cast<QLabel *>(requireChild(window, "resetSelectHint")))
    , resetNameLabel(static_cast<QLabel *>(requireChild(window, "resetNameLabel")))
    , resetNameEdit(static_cast<QLineEdit *>(requireChild(window, "resetNameEdit")))
    , resetButton(static_cast<QPushButton *>(requireChild(window, "resetButton")))
    , resetHintButton(static_cast<QPushButton *>(requireChild(window, "resetHintButton")))
    , addTab(static_cast<QWidget *>(requireChild(window, "addTab")))
    , newNameLabel(static_cast<QLabel *>(requireChild(window, "newNameLabel")))
    , newNameEdit(static_cast<QLineEdit *>(requireChild(window, "newNameEdit")))
    , addButton(static_cast<QPushButton *>(requireChild(window, "addButton")))
    , deleteTab(static_cast<QWidget *>(requireChild(window, "deleteTab")))
    , deleteSelectHint(static_cast<QLabel *>(requireChild(window, "deleteSelectHint")))
    , deleteNameLabel(static_cast<QLabel *>(requireChild(window, "deleteNameLabel")))
    , deleteNameEdit(static_cast<QLineEdit *>(requireChild(window, "deleteNameEdit")))
    , deleteButton(static_cast<QPushButton *>(requireChild(window, "deleteButton")))
{}

const OperatorAdminDialogWidgets *widgets(const OperatorAdminDialog *window)
{
    return cached<OperatorAdminDialogWidgets>(window);
}

AboutDialogWidgets::AboutDialogWidgets(const QObject *window)
    : contentFrame(static_cast<QFrame *>(requireChild(window, "contentFrame")))
    , programIcon(static_cast<QLabel *>(requireChild(window, "programIcon")))
    , productName(static_cast<QLabel *>(requireChild(window, "productName")))
    , versionLabel(static_cast<QLabel *>(requireChild(window, "versionLabel")))
    , emailLabel(static_cast<QLabel *>(requireChild(window, "emailLabel")))
    , emailLink(static_cast<QLabel *>(requireChild(window, "emailLink")))
    , websiteLabel(static_cast<QLabel *>(requireChild(window, "websiteLabel")))
    , websiteLink(static_cast<QLabel *>(requireChild(window, "websiteLink")))
    , okButton(static_cast<QPushButton *>(requireChild(window, "okButton")))
{}

const AboutDialogWidgets *widgets(const AboutDialog *window)
{
    return cached<AboutDialogWidgets>(window);
}

PrintPreviewWindowWidgets::PrintPreviewWindowWidgets(const QObject *window)
    : toolbarSplitter(static_cast<QSplitter *>(requireChild(window, "toolbarSplitter")))
    , toolBar(static_cast<QFrame *>(requireChild(window, "toolBar")))
    , printButton(static_cast<QToolButton *>(requireChild(window, "printButton")))
    , printerSetupButton(static_cast<QToolButton *>(requireChild(window, "printerSetupButton")))
    , printSeparator(static_cast<QFrame *>(requireChild(window, "printSeparator")))
    , zoomButton(static_cast<QToolButton *>(requireChild(window, "zoomButton")))
    , previousPageButton(static_cast<QToolButton *>(requireChild(window, "previousPageButton")))
    , nextPageButton(static_cast<QToolButton *>(requireChild(window, "nextPageButton")))
    , navigationSeparator(static_cast<QFrame *>(requireChild(window, "navigationSeparator")))
    , stopButton(static_cast<QToolButton *>(requireChild(window, "stopButton")))
    , closeButton(static_cast<QToolButton *>(requireChild(window, "closeButton")))
    , pageView(static_cast<PageView *>(requireChild(window, "pageView")))
    , statusBar(static_cast<QStatusBar *>(requireChild(window, "statusBar")))
{}

const PrintPreviewWindowWidgets *widgets(const PrintPreviewWindow *window)
{
    return cached<PrintPreviewWindowWidgets>(window);
}

PrintSettingsDialogWidgets::PrintSettingsDialogWidgets(const QObject *window)
    : marginsBox(static_cast<QGroupBox *>(requireChild(window, "marginsBox")))
    , topMarginLabel(static_cast<QLabel *>(requireChild(window, "topMarginLabel")))
    , topMarginSpin(static_cast<QLineEdit *>(requireChild(window, "topMarginSpin")))
    , bottomMarginLabel(static_cast<QLabel *>(requireChild(window, "bottomMarginLabel")))
    , bottomMarginSpin(static_cast<QLineEdit *>(requireChild(window, "bottomMarginSpin")))
    , leftMarginLabel(static_cast<QLabel *>(requireChild(window, "leftMarginLabel")))
    , leftMarginSpin(static_cast<QLineEdit *>(requireChild(window, "leftMarginSpin")))
    , rightMarginLabel(static_cast<QLabel *>(requireChild(window, "rightMarginLabel")))
    , rightMarginSpin(static_cast<QLineEdit *>(requireChild(window, "rightMarginSpin")))
    , unitsLabel(static_cast<QLabel *>(requireChild(window, "unitsLabel")))
    , fitToPageWidthCheck(static_cast<QCheckBox *>(requireChild(window, "fitToPageWidthCheck")))
    , fittingTypeGroup(static_cast<QGroupBox *>(requireChild(window, "fittingTypeGroup")))
    , fitByScaleRadio(static_cast<QRadioButton *>(requireChild(window, "fitByScaleRadio")))
    , fitByColumnWidthsRadio(static_cast<QRadioButton *>(requireChild(window, "fitByColumnWidthsRadio")))
    , optimalColumnWidthsCheck(static_cast<QCheckBox *>(requireChild(window, "optimalColumnWidthsCheck")))
    , autoStretchCheck(static_cast<QCheckBox *>(requireChild(window, "autoStretchCheck")))
    , colouredCheck(static_cast<QCheckBox *>(requireChild(window, "colouredCheck")))
    , printFontLabel(static_cast<QLabel *>(requireChild(window, "printFontLabel")))
    , printFontEdit(static_cast<QLineEdit *>(requireChild(window, "printFontEdit")))
    , printFontButton(static_cast<QToolButton *>(requireChild(window, "printFontButton")))
    , printerSetupButton(static_cast<QPushButton *>(requireChild(window, "printerSetupButton")))
    , okButton(static_cast<QPushButton *>(requireChild(window, "okButton")))
    , cancelButton(static_cast<QPushButton *>(requireChild(window, "cancelButton")))
{}

const PrintSettingsDialogWidgets *widgets(const PrintSettingsDialog *window)
{
    return cached<PrintSettingsDialogWidgets>(window);
}

} // namespace lianbu::test
