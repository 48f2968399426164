#pragma once

namespace lianbu::db {

// Whether this build can open a register on a database server at all (the Windows build has no
// PostgreSQL client yet). Without it, opening one says so and nothing else is tried.
bool serverRegistersAvailable();

} // namespace lianbu::db
