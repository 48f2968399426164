// Rurezure3: waits for 联簿宝 to end, puts the downloaded files in place and starts it again.
#include "updater/UpdaterCore.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return lianbu::updater::run(args, lianbu::updater::waitLimitFromEnvironment(), std::cerr);
}
