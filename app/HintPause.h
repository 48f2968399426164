#pragma once

namespace lianbu {

// Sets how long the pointer must rest on a control before its tooltip shows, in milliseconds,
// for the whole application (0: at once).
void setHintPause(int milliseconds);
int hintPause();

} // namespace lianbu
