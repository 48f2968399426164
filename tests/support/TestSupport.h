#pragma once

#include <QString>

namespace lianbu::test {

// Puts QStandardPaths into test mode so no test touches the user's real folders.
void enterTestMode();

} // namespace lianbu::test
