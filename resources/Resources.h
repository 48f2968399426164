#pragma once

namespace lianbu {

// Registers the resources compiled into lianbu_core. A static library's resource initialisers
// are dropped by the linker unless something refers to them, so the program and every test
// that needs pictures call this once.
void initResources();

} // namespace lianbu
