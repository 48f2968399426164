#pragma once

// The controls of each window, found by their object names, for tests that drive the windows
// from outside (the windows keep their generated forms private).

#include "app/MainWindow.h"
#include "appearance/AboutDialog.h"
#include "grid/DataGrid.h"
#include "operators/ChangePasswordDialog.h"
#include "operators/LoginDialog.h"
#include "operators/OperatorAdminDialog.h"
#include "platform/Windows.h"
#include "printing/PageStore.h"
#include "printing/PrintPreviewWindow.h"
#include "printing/PrintSettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QWidget>

#include <memory>

namespace lianbu::test {

// The child of `window` named `name`; a missing one stops the test run with the name.
QObject *requireChild(const QObject *window, const char *name);

struct MainWindowWidgets
{
    explicit MainWindowWidgets(const QObject *window);
    QWidget *centralWidget;
    DataGrid *customerGrid;
    QFrame *lowerArea;
    QGroupBox *quickSearchBox;
    QLabel *searchCategoryLabel;
    QComboBox *searchCategory;
    QLabel *searchShortNameLabel;
    QLineEdit *searchShortName;
    QLabel *searchNameLabel;
    QLineEdit *searchName;
    QLabel *searchPhoneLabel;
    QLineEdit *searchPhone;
    QLabel *searchAddressLabel;
    QLineEdit *searchAddress;
    QLabel *searchCompanyLabel;
    QLineEdit *searchCompany;
    QPushButton *searchButton;
    QWidget *toolBar;
    QToolButton *newButton;
    QToolButton *deleteButton;
    QToolButton *printButton;
    QToolButton *exportButton;
    QToolButton *settingsButton;
    QToolButton *supportButton;
    QFrame *entryPanel;
    QLabel *categoryLabel;
    QLineEdit *categoryEdit;
    QLabel *shortNameLabel;
    QLineEdit *shortNameEdit;
    QLabel *nameLabel;
    QLineEdit *nameEdit;
    QLabel *sexLabel;
    QComboBox *sexCombo;
    QLabel *positionLabel;
    QLineEdit *positionEdit;
    QLabel *mobileLabel;
    QLineEdit *mobileEdit;
    QLabel *phoneLabel;
    QLineEdit *phoneEdit;
    QLabel *faxLabel;
    QLineEdit *faxEdit;
    QLabel *addressLabel;
    QLineEdit *addressEdit;
    QLabel *companyLabel;
    QLineEdit *companyEdit;
    QLabel *postcodeLabel;
    QLineEdit *postcodeEdit;
    QLabel *emailLabel;
    QLineEdit *emailEdit;
    QLabel *websiteLabel;
    QLineEdit *websiteEdit;
    QLabel *notesLabel;
    QLineEdit *notesEdit;
    QLabel *registrationDateLabel;
    QDateEdit *registrationDateEdit;
    QPushButton *addButton;
    QPushButton *modifyButton;
    QLabel *closeEntryPanelIcon;
    QStatusBar *statusBar;
};

struct LoginDialogWidgets
{
    explicit LoginDialogWidgets(const QObject *window);
    QFrame *pictureFrame;
    QLabel *loginPicture;
    QLabel *operatorLabel;
    QComboBox *operatorCombo;
    QLabel *passwordLabel;
    QLineEdit *passwordEdit;
    QLabel *defaultPasswordHint;
    QPushButton *okButton;
    QPushButton *quitButton;
};

struct ChangePasswordDialogWidgets
{
    explicit ChangePasswordDialogWidgets(const QObject *window);
    QLabel *operatorLabel;
    QComboBox *operatorCombo;
    QLabel *oldPasswordLabel;
    QLineEdit *oldPasswordEdit;
    QLabel *newPasswordLabel;
    QLineEdit *newPasswordEdit;
    QLabel *repeatPasswordLabel;
    QLineEdit *repeatPasswordEdit;
    QCheckBox *closeWhenDoneCheck;
    QPushButton *changeButton;
    QPushButton *quitButton;
    QLabel *passwordRuleHint;
};

struct OperatorAdminDialogWidgets
{
    explicit OperatorAdminDialogWidgets(const QObject *window);
    QLabel *adminPasswordLabel;
    QLineEdit *adminPasswordEdit;
    QPushButton *unlockButton;
    QPushButton *quitButton;
    QLabel *operatorListLabel;
    QListWidget *operatorList;
    QTabWidget *actionTabs;
    QWidget *resetTab;
    QLabel *resetSelectHint;
    QLabel *resetNameLabel;
    QLineEdit *resetNameEdit;
    QPushButton *resetButton;
    QPushButton *resetHintButton;
    QWidget *addTab;
    QLabel *newNameLabel;
    QLineEdit *newNameEdit;
    QPushButton *addButton;
    QWidget *deleteTab;
    QLabel *deleteSelectHint;
    QLabel *deleteNameLabel;
    QLineEdit *deleteNameEdit;
    QPushButton *deleteButton;
};

struct AboutDialogWidgets
{
    explicit AboutDialogWidgets(const QObject *window);
    QFrame *contentFrame;
    QLabel *programIcon;
    QLabel *productName;
    QLabel *versionLabel;
    QLabel *emailLabel;
    QLabel *emailLink;
    QLabel *websiteLabel;
    QLabel *websiteLink;
    QPushButton *okButton;
};

struct PrintPreviewWindowWidgets
{
    explicit PrintPreviewWindowWidgets(const QObject *window);
    QSplitter *toolbarSplitter;
    QFrame *toolBar;
    QToolButton *printButton;
    QToolButton *printerSetupButton;
    QFrame *printSeparator;
    QToolButton *zoomButton;
    QToolButton *previousPageButton;
    QToolButton *nextPageButton;
    QFrame *navigationSeparator;
    QToolButton *stopButton;
    QToolButton *closeButton;
    PageView *pageView;
    QStatusBar *statusBar;
};

struct PrintSettingsDialogWidgets
{
    explicit PrintSettingsDialogWidgets(const QObject *window);
    QGroupBox *marginsBox;
    QLabel *topMarginLabel;
    QLineEdit *topMarginSpin;
    QLabel *bottomMarginLabel;
    QLineEdit *bottomMarginSpin;
    QLabel *leftMarginLabel;
    QLineEdit *leftMarginSpin;
    QLabel *rightMarginLabel;
    QLineEdit *rightMarginSpin;
    QLabel *unitsLabel;
    QCheckBox *fitToPageWidthCheck;
    QGroupBox *fittingTypeGroup;
    QRadioButton *fitByScaleRadio;
    QRadioButton *fitByColumnWidthsRadio;
    QCheckBox *optimalColumnWidthsCheck;
    QCheckBox *autoStretchCheck;
    QCheckBox *colouredCheck;
    QLabel *printFontLabel;
    QLineEdit *printFontEdit;
    QToolButton *printFontButton;
    QPushButton *printerSetupButton;
    QPushButton *okButton;
    QPushButton *cancelButton;
};

// The controls of a window; looked up once per window.
const MainWindowWidgets *widgets(const MainWindow *window);
const LoginDialogWidgets *widgets(const LoginDialog *window);
const ChangePasswordDialogWidgets *widgets(const ChangePasswordDialog *window);
const OperatorAdminDialogWidgets *widgets(const OperatorAdminDialog *window);
const AboutDialogWidgets *widgets(const AboutDialog *window);
const PrintPreviewWindowWidgets *widgets(const PrintPreviewWindow *window);
const PrintSettingsDialogWidgets *widgets(const PrintSettingsDialog *window);
template <class T>
const auto *widgets(const std::unique_ptr<T> &window)
{
    return widgets(window.get());
}

// The program's open window of exactly class T (the one the operator would see), or nullptr.
template <class T>
T *openWindowOf()
{
    return static_cast<T *>(findWindowOfExactClass(T::staticMetaObject));
}

} // namespace lianbu::test
