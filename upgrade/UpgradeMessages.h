#pragma once

// The upgrader's message table: 31 text slots per language, kept as string resources keyed by
// identifier. The block of language number n starts at 41000 + 50 * (n - 1); English,
// Simplified and Traditional Chinese have their own texts, every other language uses the
// English block. The chosen block is one value for the whole process.

#include <QLocale>
#include <QString>
#include <QVariant>

#include <initializer_list>

class QWidget;

namespace lianbu::upgrade {

enum WizardLanguage {
    wlAuto,
    wlEnglish,
    wlRussian,
    wlGerman,
    wlFrench,
    wlSpanish,
    wlPortuguese,
    wlPortugueseBrazilian,
    wlItalian,
    wlDutch,
    wlDanish,
    wlSwedish,
    wlFinnish,
    wlEstonian,
    wlUkrainian,
    wlCzech,
    wlHungarian,
    wlRomanian,
    wlCatalan,
    wlBasque,
    wlAfrikaans,
    wlChineseTraditional,
    wlChineseSimplified,
    wlIndonesian,
    wlMalay,
    wlIcelandic
};

// Slot numbers of the table.
enum MessageSlot {
    msgWizardCaption = 0,      // download window caption, error box caption
    msgDownloadingFiles = 1,
    msgUpgradeCompleted = 2,
    msgCurrentFile = 3,
    msgAllFiles = 4,
    msgDownloadingFrom = 5,
    msgFileSize = 6,           // %.1f kilobytes
    msgTransferRate = 7,       // %.1f kilobytes per second
    msgTimeLeft = 8,           // %d:%.2d:%.2d
    msgFileCounter = 9,        // %d of %d
    msgCompletedNote = 10,     // %s application title
    msgPasswordCaption = 11,
    msgUserName = 12,
    msgPassword = 13,
    msgYes = 14,
    msgNo = 15,
    msgOk = 16,
    msgCancel = 17,
    msgNext = 18,
    msgLater = 19,
    msgWarning = 20,
    msgError = 21,
    msgPreparing = 22,
    msgAskUpgrade = 23,        // %s application title, %s message
    msgNoUpdate = 24,
    msgNoInfoFile = 25,
    msgHostUnreachable = 26,   // %s server
    msgConfirmAbort = 27,
    msgLostFile = 28,          // %s file name
    msgPasswordProtected = 29, // the first part; see passwordPromptText
    msgConnectionLost = 30
};

constexpr int kMessageSlotCount = 31;
constexpr int kProductLabelId = 40999;   // the component's product label, every language
constexpr int kFirstBlockId = 41000;     // slot 0 of the English block

// The Windows primary language identifier of a language (0 for wlAuto).
int languagePrimaryId(WizardLanguage language);
// The language for a Windows language identifier (primary = id & 0x3FF, sub = id >> 10):
// Portuguese sub 1 is Brazilian; Chinese sub 2 is Simplified, every other Chinese sub-language
// Traditional; otherwise the first language with that primary id; English when none has it.
WizardLanguage languageForLangId(quint16 langId);
// The Windows language identifier of a locale (zh_CN 0x0804, zh_TW 0x0404, zh_HK 0x0C04,
// ja 0x0411, en_US 0x0409, pt_BR 0x0416 ...); 0 when the language has none we know.
quint16 windowsLangIdForLocale(const QLocale &locale);
// The system's default language identifier, from QLocale::system().
quint16 systemDefaultLangId();

// Sets the process-wide language (wlAuto: from the system's default language) and so the
// block start. Every later text of every upgrader window comes from that block.
void setWizardLanguage(WizardLanguage language);
// The same with wlAuto resolved from the given identifier instead of the system's (tests).
void setWizardLanguage(WizardLanguage language, quint16 systemLangId);
// The language last set (wlAuto until then), and the block start it gave.
WizardLanguage wizardLanguage();
int messageBlockStart();
// The block start for a language: 41000 + 50 * (number - 1) for English and the two Chinese
// blocks; the English block for all other languages.
int blockStartFor(WizardLanguage language);

// The string resource with the given identifier (empty when there is none).
QString stringResource(int id);
// Slot i of the chosen block.
QString messageText(int slot);
// Slot i with its place-holders filled from args.
QString formatMessage(int slot, const QVariantList &args = {});
// The two parts of slot 29 (the file name goes between them in double quotes).
QString passwordPromptText(const QString &fileName);
// Error box: the formatted slot, caption slot 0, stop icon, one OK, through platform/Dialogs.
void errorBox(int slot, const QVariantList &args = {}, QWidget *parent = nullptr);

} // namespace lianbu::upgrade
