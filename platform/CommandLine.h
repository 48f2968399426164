#pragma once

#include <QString>
#include <QStringList>

namespace lianbu {

// The language of what the command-line programs print: Chinese when the locale the user chose
// for messages is Chinese, English otherwise. The windows are always Chinese.
enum class MessageLanguage { Chinese, English };

// Decides from the locale variables in the order the C library reads them for messages
// (LC_ALL, then LC_MESSAGES, then LANG; LANGUAGE first unless the locale is "C"/"POSIX").
MessageLanguage messageLanguageFrom(const QString &language, const QString &lcAll, const QString &lcMessages,
                                    const QString &lang);
// The same for the running process's environment.
MessageLanguage messageLanguage();

// Picks the text for the language.
inline QString inLanguage(MessageLanguage language, const QString &chinese, const QString &english)
{
    return language == MessageLanguage::Chinese ? chinese : english;
}

// What the program was asked to do on its command line.
struct CommandLine
{
    enum class Action {
        Run,           // start the program
        ShowHelp,      // --help, -h
        ShowVersion,   // --version
        CheckRegister, // --check-register: open the register, report, end
        Refuse,        // a mistake on the command line; `problem` says which
    };
    Action action = Action::Run;
    // --database: the register to open instead of the usual one, as given (a file path or a
    // server address); empty when not given.
    QString database;
    // For Refuse: what is wrong, in the message language.
    QString problem;

    // True when `database` names a database server (postgresql:// or postgres://) rather than a file.
    bool databaseIsServer() const;
};

// Reads the arguments after the program's name. Anything that is not one of the program's
// options is left alone, as the program always did: the restart marker "/afterupgrade" the
// updater passes, and the toolkit's own single-dash options (-style, -platform ...) with their
// values. An unknown double-dash option, or --database without a value, is refused.
CommandLine parseCommandLine(const QStringList &arguments, MessageLanguage language);

// The texts of --help and --version of the program.
QString programHelpText(MessageLanguage language);
QString versionText(const QString &programName, MessageLanguage language);
// "Try 'lianbu --help'" after a refused command line.
QString tryHelpText(const QString &programName, MessageLanguage language);

} // namespace lianbu
