#pragma once

#include <QByteArrayView>

#include <optional>

namespace lianbu {

// A signed 32-bit decimal integer: an optional "+" or "-", then ASCII digits and nothing else.
// Empty when the text is not one or lies outside the int range. The stored layouts and the
// upgrade information file read their numbers through it.
std::optional<int> parseInt32(QByteArrayView text);

} // namespace lianbu
