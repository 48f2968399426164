#pragma once

#include <span>

namespace lianbu::stats {

enum class DivisionKind { Province, AutonomousRegion, Municipality, SpecialRegion };

// One provincial-level division as the address reader knows it. The texts are lists of names:
// `names` is "full name|other name|...", `cities` and `districts` are such entries separated by
// spaces. A municipality's or special region's own name stands for its city; its districts are
// read so that an address beginning with one is still placed (a name marked * only after the
// municipality's own name: another city has a district of that name).
struct Division
{
    DivisionKind kind;
    const char16_t *names;
    const char16_t *cities;
    const char16_t *districts;
};

// All 34 provincial-level divisions.
std::span<const Division> divisions();

} // namespace lianbu::stats
