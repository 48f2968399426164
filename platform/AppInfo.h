#pragma once

#include <QString>

namespace lianbu {

// The application title: caption of the information and error boxes and of the main window.
QString applicationTitle();

// The program's own version, compared against the published one by the upgrade check.
QString applicationVersion();

} // namespace lianbu
