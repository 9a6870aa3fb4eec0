#include "SizeSelection.h"

#include <algorithm>
#include <numeric>
#include <random>

#include "vxcommon/VXMissing.h"

namespace vxnn {

int FoldsFor(int records) {
  if (records < kSelectionMinRecords) return 0;
  return records <= 1000 ? 5 : 3;
}

std::vector<int> FoldOf(const std::vector<int>& strata, int folds, unsigned seed) {
  const std::size_t n = strata.size();
  std::vector<int> fold(n, 0);
  if (folds < 1) return fold;
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  // std::shuffle's drawing is left to the standard library; this
  // Fisher-Yates pass on a fixed engine deals the same folds everywhere.
  std::mt19937 engine(seed);
  for (std::size_t i = n; i > 1; --i) {
    const std::size_t j = static_cast<std::size_t>(engine() % i);
    std::swap(order[i - 1], order[j]);
  }
  // Stable: within a stratum the shuffled order stands.
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return strata[a] < strata[b]; });
  for (std::size_t k = 0; k < n; ++k) fold[order[k]] = static_cast<int>(k % folds);
  return fold;
}

std::vector<int> MlpUnitGrid(int inputUnits, int outputUnits) {
  std::vector<int> grid = {2, 4, 8, 16, 32, 64};
  if (4 * (inputUnits + outputUnits) >= 100) grid.push_back(100);
  return grid;
}

std::vector<int> RbfCentreGrid(int foldTrainRecords) {
  std::vector<int> grid = {2};
  for (int k = 4; k <= 256 && 3 * k <= foldTrainRecords; k *= 2) grid.push_back(k);
  return grid;
}

std::vector<double> OverlapGrid(double base) { return {base / 4, base / 2, base * 2, base * 4}; }

int LeastLoss(const std::vector<SizeCandidate>& candidates) {
  int best = -1;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const double loss = candidates[i].fLoss;
    if (!candidates[i].fLeftOut.empty() || VXMV::IsMissing(loss)) continue;
    // Losses are means of percentages: equal ones may differ in the last
    // bits, and such a tie keeps the simpler candidate.
    if (best < 0 || loss < candidates[static_cast<std::size_t>(best)].fLoss - 1e-12)
      best = static_cast<int>(i);
  }
  return best;
}

}  // namespace vxnn
