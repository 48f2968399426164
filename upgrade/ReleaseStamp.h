#pragma once

#include <QString>

namespace lianbu::upgrade {

// The release this program was built as ("MM/DD/YYYY", the build setting LIANBU_RELEASE_DATE).
// The updater and scripts/publish-upgrade read the same stamp from the executable.
QString builtRelease();
// The publisher key the program was built with (empty when none).
QString builtPublicKey();

} // namespace lianbu::upgrade
