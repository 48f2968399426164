#include "upgrade/UpgradeMessages.h"

#include "platform/Dialogs.h"
#include "upgrade/UpgradeText.h"

#include <atomic>

namespace lianbu::upgrade {

namespace {

// Slot 29 holds both parts with the file name's place between double quotes.
const char *const englishBlock[kMessageSlotCount] = {
    "Application update wizard",
    "Downloading files...",
    "Files are ready",
    "Current file",
    "All files",
    "Downloading file from",
    "File size: %.1f Kb",
    "Transfer rate: %.1f Kb/s",
    "Estimated time left: %d:%.2d:%.2d",
    "Downloading %d of %d",
    "The new files of %s have been downloaded and verified.\r\rPress the OK button: the program closes and restarts to "
    "install them.",
    "Enter password",
    "User Name",
    "Password",
    "&Yes",
    "&No",
    "&OK",
    "&Cancel",
    "&Next >",
    "&Later",
    "Warning",
    "Error",
    "Preparing. . .",
    "A newer version of %s was released.\n%s\nDo you want to update your version with the latest one?",
    "Newer version not found. You actually are\rusing most recent version of this program.",
    "File which contains upgrade information was not found on developer's site.",
    "Host %s unreachable.\r\rPlease check your Internet connection and\rtry to upgrade this software again later.",
    "The update is not completed.\rWould you like to abort upgrading?",
    "File %s not found or inaccessible.\r\rTry to skip this file and continue upgrade?",
    "Access to remote file \"%s\" is password protected.\n\nPlease enter your username and password (received after "
    "registration) to continue software upgrade.",
    "Connection with remote server lost.\r\rPlease restore connection and try to\rupgrade this software again later.",
};

const char *const simplifiedBlock[kMessageSlotCount] = {
    "软件升级精灵",
    "文档下载中",
    "文件已准备好",
    "当前的文档",
    "全部的文档",
    "文档下载源",
    "文档大小:%.1f Kb",
    "传输速率:%.1f Kb/s",
    "估计剩余时间: %d:%.2d:%.2d",
    "当前正在下载:%d of %d",
    "%s 的新版本文件已下载并通过验证。\r\r请按[确定]键，程序将关闭并重新启动以安装它们。",
    "请输入密码",
    "帐号",
    "密码",
    "[&Y]是",
    "[&N]否",
    "[&O]确定",
    "[&C]取消",
    "[&N]下一个>",
    "[&L]稍等一下",
    "警告",
    "错误",
    "准备中",
    "%s已经有新版本推出，\n%s\n您要升级到新版本吗？",
    "没有发现新的版本，您目前已经是最新版本。",
    "在服务器中无法找到升级的相关信息。",
    "无法与服务器%s连接。\r\r请检查您的internet设定之后再进行升级操作。",
    "升级操作尚未完成，\r您确定要放弃升级吗？",
    "文档%s找不到或者发生错误，\r\r您要忽略这个文档并且继续升级操作吗？",
    "远端的文档\"%s\"被密码保护，\n\n请输入您的帐号及密码[注册用户]来继续进行升级操作。",
    "与远端服务器的连接中断，\r\r请重新连接后再进行升级操作。",
};

const char *const traditionalBlock[kMessageSlotCount] = {
    "軟體升級精靈",
    "檔案下載中...",
    "檔案已準備好",
    "目前的檔案",
    "全部的檔案",
    "檔案下載從",
    "檔案大小: %.1f Kb",
    "傳輸速率: %.1f Kb/s",
    "預估剩餘的時間: %d:%.2d:%.2d",
    "目前正在下載 %d of %d",
    "%s 的新版本檔案已下載並通過驗證.\r\r請按[確定]鍵, 程式將關閉並重新啟動以安裝它們.",
    "請輸入密碼",
    "帳號",
    "密碼",
    "(&Y)好",
    "(&N)不要",
    "(&O)確定",
    "(&C)取消",
    "(&N)下一個 >",
    "(&L)稍等一下",
    "警告",
    "錯誤",
    "準備中. . .",
    "%s 已經有新的版本推出.\n%s\n您要升級到新的版本嗎 ?",
    "沒有發現新的版本.您目前已經是最新的版本.",
    "在伺服器中無法找到升級的相關資訊.",
    "無法與伺服器 %s 連線.\r\r請檢查您的 Internet 設定之後再進行升級作業.",
    "升級作業尚未完成.\r您確定要放棄作業嗎 ?",
    "檔案 %s 找不到或者發生錯誤.\r\r您要忽略這個檔案並且繼續升級作業嗎 ?",
    "遠端的檔案 \"%s\" 是被密碼保護著.\n\n請輸入您的帳號及密碼 (註冊用戶) 來繼續進行升級作業.",
    "與遠端伺服器的連線中斷.\r\r請重新連線後再進行升級作業.",
};

const char *const productLabel = "联簿宝 Auto-Upgrader " LIANBU_VERSION;

// Windows primary language identifiers, in the order of the language numbers 1..25.
const int primaryIds[] = {0x09, 0x19, 0x07, 0x0C, 0x0A, 0x16, 0x16, 0x10, 0x13, 0x06, 0x1D, 0x0B, 0x25,
                          0x22, 0x05, 0x0E, 0x18, 0x03, 0x2D, 0x36, 0x04, 0x04, 0x21, 0x3E, 0x0F};

std::atomic<WizardLanguage> chosenLanguage{WizardLanguage::Auto};
std::atomic<int> blockStart{kFirstBlockId};

int blockIdOf(WizardLanguage language)
{
    return kFirstBlockId + 50 * (int(language) - 1);
}

} // namespace

int languagePrimaryId(WizardLanguage language)
{
    if (language <= WizardLanguage::Auto || language > WizardLanguage::Icelandic)
        return 0;
    return primaryIds[int(language) - 1];
}

WizardLanguage languageForLangId(quint16 langId)
{
    const int primary = langId & 0x3FF;
    const int sub = langId >> 10;
    if (primary == 0x16)
        return sub == 1 ? WizardLanguage::PortugueseBrazilian : WizardLanguage::Portuguese;
    if (primary == 0x04)
        return sub == 2 ? WizardLanguage::ChineseSimplified : WizardLanguage::ChineseTraditional;
    for (int n = int(WizardLanguage::English); n <= int(WizardLanguage::Icelandic); ++n) {
        if (primaryIds[n - 1] == primary)
            return WizardLanguage(n);
    }
    return WizardLanguage::English;
}

quint16 windowsLangIdForLocale(const QLocale &locale)
{
    struct Entry
    {
        QLocale::Language language;
        int primary;
    };
    static const Entry table[] = {
        {QLocale::Arabic, 0x01},
        {QLocale::Bulgarian, 0x02},
        {QLocale::Catalan, 0x03},
        {QLocale::Czech, 0x05},
        {QLocale::Danish, 0x06},
        {QLocale::German, 0x07},
        {QLocale::Greek, 0x08},
        {QLocale::English, 0x09},
        {QLocale::Spanish, 0x0A},
        {QLocale::Finnish, 0x0B},
        {QLocale::French, 0x0C},
        {QLocale::Hebrew, 0x0D},
        {QLocale::Hungarian, 0x0E},
        {QLocale::Icelandic, 0x0F},
        {QLocale::Italian, 0x10},
        {QLocale::Japanese, 0x11},
        {QLocale::Korean, 0x12},
        {QLocale::Dutch, 0x13},
        {QLocale::NorwegianBokmal, 0x14},
        {QLocale::NorwegianNynorsk, 0x14},
        {QLocale::Polish, 0x15},
        {QLocale::Portuguese, 0x16},
        {QLocale::Romanian, 0x18},
        {QLocale::Russian, 0x19},
        {QLocale::Croatian, 0x1A},
        {QLocale::Slovak, 0x1B},
        {QLocale::Albanian, 0x1C},
        {QLocale::Swedish, 0x1D},
        {QLocale::Thai, 0x1E},
        {QLocale::Turkish, 0x1F},
        {QLocale::Urdu, 0x20},
        {QLocale::Indonesian, 0x21},
        {QLocale::Ukrainian, 0x22},
        {QLocale::Belarusian, 0x23},
        {QLocale::Slovenian, 0x24},
        {QLocale::Estonian, 0x25},
        {QLocale::Latvian, 0x26},
        {QLocale::Lithuanian, 0x27},
        {QLocale::Persian, 0x29},
        {QLocale::Vietnamese, 0x2A},
        {QLocale::Basque, 0x2D},
        {QLocale::Afrikaans, 0x36},
        {QLocale::Hindi, 0x39},
        {QLocale::Malay, 0x3E},
    };
    if (locale.language() == QLocale::Chinese) {
        switch (locale.territory()) {
        case QLocale::Taiwan:
            return 0x0404;
        case QLocale::China:
            return 0x0804;
        case QLocale::HongKong:
            return 0x0C04;
        case QLocale::Singapore:
            return 0x1004;
        case QLocale::Macao:
            return 0x1404;
        default:
            return locale.script() == QLocale::TraditionalChineseScript ? 0x0404 : 0x0804;
        }
    }
    if (locale.language() == QLocale::Portuguese)
        return locale.territory() == QLocale::Brazil ? 0x0416 : 0x0816;
    for (const Entry &e : table) {
        if (e.language == locale.language())
            return quint16((1 << 10) | e.primary); // SUBLANG_DEFAULT
    }
    return 0;
}

quint16 systemDefaultLangId()
{
    return windowsLangIdForLocale(QLocale::system());
}

int blockStartFor(WizardLanguage language)
{
    switch (language) {
    case WizardLanguage::ChineseSimplified:
    case WizardLanguage::ChineseTraditional:
        return blockIdOf(language);
    default:
        return kFirstBlockId; // English, and every language without texts of its own
    }
}

void setWizardLanguage(WizardLanguage language, quint16 systemLangId)
{
    chosenLanguage.store(language);
    const WizardLanguage effective = language == WizardLanguage::Auto ? languageForLangId(systemLangId) : language;
    blockStart.store(blockStartFor(effective));
}

void setWizardLanguage(WizardLanguage language)
{
    setWizardLanguage(language, language == WizardLanguage::Auto ? systemDefaultLangId() : 0);
}

WizardLanguage wizardLanguage()
{
    return chosenLanguage.load();
}

int messageBlockStart()
{
    return blockStart.load();
}

QString stringResource(int id)
{
    if (id == kProductLabelId)
        return QString::fromUtf8(productLabel);
    struct Block
    {
        int start;
        const char *const *texts;
    };
    static const Block blocks[] = {
        {blockIdOf(WizardLanguage::English), englishBlock},
        {blockIdOf(WizardLanguage::ChineseTraditional), traditionalBlock},
        {blockIdOf(WizardLanguage::ChineseSimplified), simplifiedBlock},
    };
    for (const Block &b : blocks) {
        if (id >= b.start && id < b.start + kMessageSlotCount)
            return QString::fromUtf8(b.texts[id - b.start]);
    }
    return {};
}

QString messageText(MessageSlot slot)
{
    const int index = static_cast<int>(slot);
    if (index < 0 || index >= kMessageSlotCount)
        return {};
    return stringResource(messageBlockStart() + index);
}

QString formatMessage(MessageSlot slot, const QVariantList &args)
{
    return formatText(messageText(slot), args);
}

QString passwordPromptText(const QString &fileName)
{
    return formatMessage(MessageSlot::PasswordProtected, {fileName});
}

void errorBox(MessageSlot slot, const QVariantList &args, QWidget *parent)
{
    BoxRequest request;
    request.icon = BoxIcon::Stop;
    request.caption = messageText(MessageSlot::WizardCaption);
    request.text = formatMessage(slot, args);
    request.buttons = {BoxButton::Ok};
    request.defaultButton = BoxButton::Ok;
    dialogs().messageBox(parent, request);
}

} // namespace lianbu::upgrade
