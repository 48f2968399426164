#pragma once

#include <QString>

namespace lianbu {

// The vendor's addresses, kept in one place.
// Shown (as text) in the last status bar panel.
QString vendorWebAddress();
// Opened by "技术支持".
QString supportPageAddress();
// Opened by "官方主页".
QString homePageAddress();
// Behind the about box's mail link.
QString vendorMailAddress();

} // namespace lianbu
