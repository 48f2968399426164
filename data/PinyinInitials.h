#pragma once

#include <QString>
#include <QStringView>

namespace lianbu {

// The text with every Chinese character replaced by the first letter of its usual Mandarin
// reading and Latin letters made small: "华为Tech" -> "hwtech". Other characters stay as they are.
QString pinyinInitials(QStringView text);

// A quick-search text that also looks for pinyin initials: nothing but ASCII letters.
bool isPinyinQuery(QStringView text);

} // namespace lianbu
