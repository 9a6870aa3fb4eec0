#include "data/Partition.h"

#include <algorithm>
#include <cmath>

namespace vxnn {

namespace {

// A uniform draw from 0..bound-1 without modulo bias (bound >= 1).
std::uint64_t Below(std::mt19937_64& rng, std::uint64_t bound) {
  const std::uint64_t limit = (0 - bound) % bound;  // 2^64 mod bound
  for (;;) {
    const std::uint64_t r = rng();
    // Values below limit would make the low residues more likely.
    if (r >= limit) return r % bound;
  }
}

}  // namespace

SplitDraw::SplitDraw(std::size_t n, double testFraction, unsigned seed)
    : fN(n),
      fTest(std::min(
          n, static_cast<std::size_t>(std::llround(static_cast<double>(n) * testFraction)))),
      fSeed(seed),
      fRng(seed) {}

void SplitDraw::Restart() {
  fRng.seed(fSeed);
  fSeen = fChosen = 0;
}

bool SplitDraw::NextIsTest() {
  if (fSeen >= fN) return false;
  const std::uint64_t left = fN - fSeen++;
  const std::uint64_t wanted = fTest - fChosen;
  // Once every remaining record is needed (or none is), no draw is taken.
  if (wanted == 0) return false;
  if (wanted == left || Below(fRng, left) < wanted) {
    ++fChosen;
    return true;
  }
  return false;
}

Partition SplitRecords(std::size_t n, double testFraction, unsigned seed) {
  SplitDraw draw(n, testFraction, seed);
  Partition p;
  for (std::size_t i = 0; i < n; ++i) (draw.NextIsTest() ? p.fTest : p.fTrain).push_back(i);
  return p;
}

}  // namespace vxnn
