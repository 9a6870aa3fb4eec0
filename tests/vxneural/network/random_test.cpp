// The random generator: ranges, fills and the shuffle against the portable
// sequence worked out independently, and damaged streams (a restored
// generator carrying on: the optimizers' saved-model test).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "network_fixtures.h"
#include "vxneural/network/VXRandom.h"

namespace {

using namespace saved_forms;

// (a * b) mod m by doubling and adding, never forming the full product: an
// independent check of the generator's 64-bit arithmetic.
uint64_t MulMod(uint64_t a, uint64_t b, uint64_t m) {
  uint64_t result = 0;
  for (a %= m; b > 0; b >>= 1, a = (a * 2) % m)
    if (b & 1) result = (result + a) % m;
  return result;
}

std::vector<double> ReferenceDraws(uint32_t seed, int n) {
  std::vector<double> draws;
  for (uint64_t state = seed; n-- > 0;) {
    state = MulMod(state, 397204094, 2147483647);
    draws.push_back(static_cast<double>(state) / 2147483648.0);
  }
  return draws;
}

TEST(PortableRandom, RangesFillsAndTheShuffle) {
  VXRandom g(11, true);
  const std::vector<double> ref = ReferenceDraws(11, 4);
  EXPECT_EQ(g.Uniform(-0.5, 0.5), ref[0] * 1.0 - 0.5);
  double w[3];
  g.FillUniform(w, 3, 2.0, 6.0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(w[i], ref[i + 1] * 4.0 + 2.0);

  // From the end down, element i is swapped with element j = floor(u (i + 1)).
  VXRandom s(2024, true);
  std::vector<int> perm(10), expected(10);
  std::iota(perm.begin(), perm.end(), 0);
  std::iota(expected.begin(), expected.end(), 0);
  s.Shuffle(perm);
  const std::vector<double> draws = ReferenceDraws(2024, 9);
  for (int i = 9; i >= 1; --i) std::swap(expected[i], expected[int(draws[9 - i] * (i + 1))]);
  EXPECT_EQ(perm, expected);
  // Trivial lengths draw nothing.
  const uint32_t seed = s.GetSeed();
  s.Shuffle(perm.data(), 1);
  EXPECT_EQ(s.GetSeed(), seed);
}

TEST(RandomPersist, DamagedStreamsAreRefusedAndChangeNothing) {
  const VXRandom a(123, true);
  const std::string binary = "Error reading VXRandom!\n";
  VXRandom b(9, false);
  ExpectReadersRobust(a, b, {binary}, {"Failure reading VXRandom!\n"});
  // A wrong tag, and seeds no writer produces: negative, beyond 32 bits, not a number.
  std::vector<std::string> damaged = {stream_faults::Replaced(Saved(a, false), "VXRa", "VXRb")};
  for (double bad : {-5.0, 4294967296.0, std::numeric_limits<double>::quiet_NaN()}) {
    damaged.push_back(Saved(a, false));
    std::memcpy(&damaged.back()[4], &bad, 8);
  }
  ExpectAllRefused(b, false, damaged, {binary});
}

}  // namespace
