#include "tests/support/TestSupport.h"

#include <QStandardPaths>

namespace lianbu::test {

void enterTestMode() { QStandardPaths::setTestModeEnabled(true); }

} // namespace lianbu::test
