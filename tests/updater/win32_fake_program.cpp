// A stand-in for the program in test_win32_updater: holds the program's lock on its own
// executable as the program does, notes its version and arguments in ran.txt beside it, and on a
// restart after an upgrade reports its good start. Version 1 runs a while, version 2 ends soon.
#include "platform/SystemFiles.h"
#include "platform/SystemProcesses.h"
#include "updater/Install.h"
#include "updater/ProgramLock.h"

#include <chrono>
#include <string>
#include <thread>

using namespace lianbu;

int main(int argc, char **argv)
{
    const std::vector<std::string> arguments = processes::commandArguments(argc, argv);
    const std::string self = processes::currentProgramPath();
    const std::string folder = self.substr(0, self.rfind('/') + 1);
    if (!updater::holdOwnProgramLock())
        return 7;
    std::string line = "version " + std::to_string(LIANBU_FAKE_VERSION);
    for (const std::string &argument : arguments)
        line += ' ' + argument;
    line += '\n';
    const int fd = files::createNew(folder + "ran-" + std::to_string(processes::currentProcessId()) + ".txt", false);
    if (fd < 0)
        return 8;
    files::writeAll(fd, line.data(), line.size());
    files::closeFile(fd);
    if (!arguments.empty() && arguments.front() == "/afterupgrade") {
        const int started = files::createNew(folder + updater::kStartedFile, false);
        if (started >= 0)
            files::closeFile(started);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(LIANBU_FAKE_VERSION == 1 ? 3000 : 300));
    return 0;
}
