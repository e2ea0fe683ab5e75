// Random integers for the draw.
//
// Seeding without a value uses the tick count plus a per-process addend that
// grows after each seeding by ((tick + addend) mod 256) + 100, so two seedings
// in the same millisecond differ. The generator gives every value of a range
// the same chance, whatever its size.
#pragma once

#include <cstdint>

namespace model {

void seedRandom(std::uint32_t tickCount);
void seedRandomWith(std::uint64_t seed);
// A value in min..max: negative bounds count as 0, reversed bounds are
// swapped, equal bounds give that value.
int randomBetween(int min, int max);

}  // namespace model
