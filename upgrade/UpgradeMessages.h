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

enum class WizardLanguage {
    Auto,
    English,
    Russian,
    German,
    French,
    Spanish,
    Portuguese,
    PortugueseBrazilian,
    Italian,
    Dutch,
    Danish,
    Swedish,
    Finnish,
    Estonian,
    Ukrainian,
    Czech,
    Hungarian,
    Romanian,
    Catalan,
    Basque,
    Afrikaans,
    ChineseTraditional,
    ChineseSimplified,
    Indonesian,
    Malay,
    Icelandic
};

// Slot numbers of the table.
enum class MessageSlot {
    WizardCaption = 0, // download window caption, error box caption
    DownloadingFiles = 1,
    UpgradeCompleted = 2,
    CurrentFile = 3,
    AllFiles = 4,
    DownloadingFrom = 5,
    FileSize = 6,       // %.1f kilobytes
    TransferRate = 7,   // %.1f kilobytes per second
    TimeLeft = 8,       // %d:%.2d:%.2d
    FileCounter = 9,    // %d of %d
    CompletedNote = 10, // %s application title
    PasswordCaption = 11,
    UserName = 12,
    Password = 13,
    Yes = 14,
    Ok = 16,
    Cancel = 17,
    Next = 18,
    Later = 19,
    Error = 21,
    Preparing = 22,
    AskUpgrade = 23, // %s application title, %s message
    NoUpdate = 24,
    NoInfoFile = 25,
    HostUnreachable = 26, // %s server
    ConfirmAbort = 27,
    LostFile = 28,          // %s file name
    PasswordProtected = 29, // the first part; see passwordPromptText
    ConnectionLost = 30
};

constexpr int kMessageSlotCount = 31;
constexpr int kProductLabelId = 40999; // the component's product label, every language
constexpr int kFirstBlockId = 41000;   // slot 0 of the English block

// The Windows primary language identifier of a language (0 for WizardLanguage::Auto).
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

// Sets the process-wide language (WizardLanguage::Auto: from the system's default language) and so the
// block start. Every later text of every upgrader window comes from that block.
void setWizardLanguage(WizardLanguage language);
// The same with WizardLanguage::Auto resolved from the given identifier instead of the system's (tests).
void setWizardLanguage(WizardLanguage language, quint16 systemLangId);
// The language last set (WizardLanguage::Auto until then), and the block start it gave.
WizardLanguage wizardLanguage();
int messageBlockStart();
// The block start for a language: 41000 + 50 * (number - 1) for English and the two Chinese
// blocks; the English block for all other languages.
int blockStartFor(WizardLanguage language);

// The string resource with the given identifier (empty when there is none).
QString stringResource(int id);
// Slot i of the chosen block.
QString messageText(MessageSlot slot);
// Slot i with its place-holders filled from args.
QString formatMessage(MessageSlot slot, const QVariantList &args = {});
// The two parts of slot 29 (the file name goes between them in double quotes).
QString passwordPromptText(const QString &fileName);
// Error box: the formatted slot, caption slot 0, stop icon, one OK, through platform/Dialogs.
void errorBox(MessageSlot slot, const QVariantList &args = {}, QWidget *parent = nullptr);

} // namespace lianbu::upgrade
