#include "Partition.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>

namespace vxnn {

namespace {

// A uniform draw from 0..bound-1 without modulo bias (bound >= 1).
std::uint32_t Below(std::mt19937& rng, std::uint32_t bound) {
  const std::uint32_t limit = static_cast<std::uint32_t>(-bound) % bound;  // 2^32 mod bound
  for (;;) {
    const std::uint32_t r = static_cast<std::uint32_t>(rng());
    // Values below limit would make the low residues more likely.
    if (r >= limit) return r % bound;
  }
}

}  // namespace

Partition SplitRecords(std::size_t n, double testFraction, unsigned seed) {
  const std::size_t nTest =
      std::min(n, static_cast<std::size_t>(std::llround(static_cast<double>(n) * testFraction)));
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::mt19937 rng(seed);
  // The first nTest places of a Fisher-Yates shuffle are a uniform sample.
  for (std::size_t i = 0; i < nTest; ++i) {
    const std::size_t j = i + Below(rng, static_cast<std::uint32_t>(n - i));
    std::swap(order[i], order[j]);
  }
  Partition p;
  p.fTest.assign(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(nTest));
  p.fTrain.assign(order.begin() + static_cast<std::ptrdiff_t>(nTest), order.end());
  std::sort(p.fTest.begin(), p.fTest.end());
  std::sort(p.fTrain.begin(), p.fTrain.end());
  return p;
}

}  // namespace vxnn
