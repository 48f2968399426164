#pragma once

// The remembered skin: value "skin" (text) of the per-user key \Software\qiaomu\lianbu, which
// is QSettings(NativeFormat, UserScope, "qiaomu", "lianbu") - the registry key itself on
// Windows, ~/.config/qiaomu/lianbu.conf here.

#include <QString>

#include <optional>

namespace lianbu::skins {

// The key's path as the error texts name it.
QString skinKeyPath();

// The skin index a remembered text stands for: exactly "0" to "5"; anything else (empty,
// another digit, blanks, a leading zero, letters) stands for none.
std::optional<int> skinIndexFromText(const QString &text);

// True when the per-user key exists and can be opened for reading and writing.
bool skinKeyOpens();

// The start-up read: nothing when the key is missing or cannot be opened, or the value does
// not map to an index. Throws lianbu::Error "Invalid data type for 'skin'" when the value is
// not text. Never creates the key.
std::optional<int> readRememberedSkin();

// Remembers skin `index` (0..4) as its decimal digit, creating the key when needed. Throws
// lianbu::Error "Failed to create key %s" when the key cannot be created and
// "Failed to set data for 'skin'" when the value cannot be written.
void rememberSkin(int index);

} // namespace lianbu::skins
