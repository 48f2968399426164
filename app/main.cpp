#include "platform/CommandLine.h"
#include "app/MainWindow.h"
#include "app/StartUp.h"
#include "platform/AppInfo.h"
#include "platform/Console.h"
#include "platform/Application.h"
#include "platform/SystemProcesses.h"
#include "updater/Install.h"
#include "updater/UpdaterCore.h"

#include <cstdio>
#include <string>
#include <iostream>

namespace {

void print(std::FILE *to, const QString &text)
{
    lianbu::console::write(to, text.toStdString());
}

} // namespace

int main(int argc, char *argv[])
{
    using lianbu::CommandLine;
    const lianbu::MessageLanguage language = lianbu::messageLanguage();
    // Everything but a start of the program answers without a display (on a terminal of a
    // server, in a package check): the window system is reached only to show windows.
    // As UTF-8 from the system: on Windows argv is in the ANSI code page, where a Chinese
    // register path is lost on a system whose code page has no Chinese.
    QStringList arguments;
    for (const std::string &argument : lianbu::processes::commandArguments(argc, argv))
        arguments << QString::fromStdString(argument);
    const CommandLine commandLine = lianbu::parseCommandLine(arguments, language);
    switch (commandLine.action) {
    case CommandLine::Action::ShowHelp:
        print(stdout, lianbu::programHelpText(language));
        return 0;
    case CommandLine::Action::ShowVersion:
        print(stdout, lianbu::versionText(QStringLiteral("lianbu"), language));
        return 0;
    case CommandLine::Action::Refuse:
        print(stderr, QStringLiteral("lianbu: ") + commandLine.problem + QLatin1Char('\n')
                          + lianbu::tryHelpText(QStringLiteral("lianbu"), language));
        return 2;
    case CommandLine::Action::CheckRegister: {
        QCoreApplication app(argc, argv);
        return lianbu::runRegisterCheck(commandLine);
    }
    case CommandLine::Action::Run:
        break;
    }
    // A new version that crashed or hung at its last start, with no updater left to notice (it was
    // killed), is replaced by the old one before anything else runs, and the old one starts.
    const std::string self = lianbu::updater::runningProgramPath();
    if (!self.empty() && lianbu::updater::rollBackFailedTrial(lianbu::updater::folderOf(self), std::cerr))
        lianbu::processes::replaceProcess(self, lianbu::processes::commandArguments(argc, argv));
    lianbu::Application app(argc, argv);
    return lianbu::runProgram(app, commandLine);
}
