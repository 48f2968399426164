// Rurezure3: waits for 联簿宝 to end, puts the downloaded files in place and starts it again.
#include "platform/Console.h"
#include "updater/UpdaterCore.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Chinese when the locale chosen for messages is, as for the program's own command line.
bool chineseMessages()
{
    const auto value = [](const char *name) {
        const char *v = std::getenv(name);
        return std::string(v ? v : "");
    };
    std::string locale = value("LC_ALL");
    if (locale.empty())
        locale = value("LC_MESSAGES");
    if (locale.empty())
        locale = value("LANG");
    const std::string language = value("LANGUAGE");
    const bool plain = locale == "C" || locale.rfind("C.", 0) == 0 || locale == "POSIX";
    const std::string &decisive = !language.empty() && !locale.empty() && !plain ? language : locale;
    return decisive.rfind("zh", 0) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> args = lianbu::processes::commandArguments(argc, argv);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        const std::string name = lianbu::updater::kUpdaterName;
        if (chineseMessages())
            lianbu::console::write(stdout,
                                   "用法：" + name
                                       + " <程序路径> +<重启参数><方法 0|1>\n"
                                         "联簿宝的升级程序：等联簿宝结束，把下载的 .uTMP 文件换上，再启动联簿宝。\n"
                                         "由联簿宝自己启动，不需要手动运行。\n");
        else
            lianbu::console::write(
                stdout, "Usage: " + name
                            + " <program path> +<restart parameter><method 0|1>\n"
                              "The updater of 联簿宝: waits for the program to end, puts the downloaded .uTMP\n"
                              "files in place and starts the program again. 联簿宝 starts it itself.\n");
        return 0;
    }
    if (args.size() == 1 && args[0] == "--version") {
        lianbu::console::write(stdout, std::string(lianbu::updater::kUpdaterName)
                                           + (chineseMessages() ? "（联簿宝）版本 " : " (联簿宝) ") + LIANBU_VERSION
                                           + "\n");
        return 0;
    }
    return lianbu::updater::run(args, lianbu::updater::waitLimitFromEnvironment(), std::cerr);
}
