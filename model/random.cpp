// Random integers for the draw: xoshiro256** seeded through splitmix64, and
// an unbiased reduction to the range asked for, so that every participant of
// any list, however long, has the same chance.
#include "model/random.h"

namespace model {

namespace {

struct Generator {
  std::uint64_t s[4];

  void seed(std::uint64_t value) {
    for (auto& word : s) {
      value += 0x9E3779B97F4A7C15ull;
      std::uint64_t z = value;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word = z ^ (z >> 31);
    }
  }

  static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

  std::uint64_t next() {
    const std::uint64_t result = rotl(s[1] * 5, 7) * 9;
    const std::uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return result;
  }
};

Generator& generator() {
  static Generator g = [] {
    Generator x;
    x.seed(0);
    return x;
  }();
  return g;
}

// Grows after each seeding so that two seedings in the same millisecond give
// different sequences.
std::uint32_t gAddend = 0;

}  // namespace

void seedRandom(std::uint32_t tickCount) {
  const std::uint64_t value = static_cast<std::uint64_t>(tickCount) + gAddend;
  generator().seed(value);
  gAddend += static_cast<std::uint32_t>(value % 256) + 100;
}

void seedRandomWith(std::uint64_t seed) { generator().seed(seed); }

int randomBetween(int min, int max) {
  if (min < 0) min = 0;
  if (max < 0) max = 0;
  if (min > max) {
    int t = min;
    min = max;
    max = t;
  }
  if (min == max) return min;
  const std::uint64_t span = static_cast<std::uint64_t>(max) - static_cast<std::uint64_t>(min) + 1;
  // 2^64 mod span values at the top would make the low results more likely:
  // they are drawn again.
  const std::uint64_t rest = (UINT64_MAX % span + 1) % span;
  const std::uint64_t limit = 0 - rest;  // 2^64 - rest
  std::uint64_t r;
  do {
    r = generator().next();
  } while (rest != 0 && r >= limit);
  return min + static_cast<int>(r % span);
}

}  // namespace model
